// The result of an operation that can fail for a reason the user is told: its value, or a Failure with
// that reason (UTF-16, like every message of the program) and, where callers act differently on
// different failures, its kind (an enum, or the system's error number for the serial port).
//
//     Outcome<int32_t> ParseIntField(...);    // a number, or "Enter an integer."
//     Outcome<void, ReadFailure> Read(...);   // nothing to return; callers tell CannotOpen apart
//     return Failure(u"Enter an integer.");
//     return Failure(ReadFailure::CannotOpen, reason);
//     if (!outcome) return outcome.failure(); // hands the failure on, whatever the value type
#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace calvora {

// The kind of a failure whose callers only show the reason.
struct NoKind {
    friend bool operator==(NoKind, NoKind) = default;
};

template <typename Kind = NoKind> class Failure {
public:
    explicit Failure(std::u16string reason) requires std::same_as<Kind, NoKind> : reason_(std::move(reason)) {
    }
    Failure(Kind kind, std::u16string reason) : kind_(kind), reason_(std::move(reason)) {}

    Kind kind() const { return kind_; }
    const std::u16string& reason() const { return reason_; }

private:
    Kind kind_{};
    std::u16string reason_;
};

template <typename T = void, typename Kind = NoKind> class Outcome {
    static_assert(!std::is_same_v<T, bool>, "if (outcome) would test success, not the value");

public:
    Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Outcome(Failure<Kind> failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    explicit operator bool() const { return state_.index() == 0; }

    // Throws std::bad_variant_access on a failure.
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T value_or(T fallback) const& { return *this ? value() : std::move(fallback); }

    // Throws std::bad_variant_access on success.
    const Failure<Kind>& failure() const { return std::get<1>(state_); }
    Kind kind() const requires(!std::same_as<Kind, NoKind>) { return failure().kind(); }
    // Empty on success.
    const std::u16string& reason() const { return *this ? kNoReason : failure().reason(); }

private:
    static inline const std::u16string kNoReason;
    std::variant<T, Failure<Kind>> state_;
};

// For operations that have nothing to return: success is the default.
template <typename Kind> class Outcome<void, Kind> {
public:
    Outcome() = default;
    Outcome(Failure<Kind> failure) : failure_(std::move(failure)) {}

    explicit operator bool() const { return !failure_; }

    // Throws std::bad_optional_access on success.
    const Failure<Kind>& failure() const { return failure_.value(); }
    Kind kind() const requires(!std::same_as<Kind, NoKind>) { return failure().kind(); }
    // Empty on success.
    const std::u16string& reason() const { return failure_ ? failure_->reason() : kNoReason; }

private:
    static inline const std::u16string kNoReason;
    std::optional<Failure<Kind>> failure_;
};

} // namespace calvora
