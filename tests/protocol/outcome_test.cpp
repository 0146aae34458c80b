// The result type: what a caller reads from a success and from a failure, and a failure handed on.
#include "protocol/outcome.h"

#include <gtest/gtest.h>

#include <memory>
#include <variant>

namespace calvora {
namespace {

enum class Why { Missing, Broken };

Outcome<std::unique_ptr<int>, Why> Make(int value) {
    if (value < 0)
        return Failure(Why::Broken, u"negative");
    return std::make_unique<int>(value);
}

// A failure of one value type passes through a caller of another with its kind and reason.
Outcome<void, Why> Check(int value) {
    const auto made = Make(value);
    if (!made)
        return made.failure();
    return {};
}

TEST(Outcome, SuccessHoldsTheValueAndNoReason) {
    auto made = Make(7);
    ASSERT_TRUE(made);
    EXPECT_EQ(*made.value(), 7);
    EXPECT_TRUE(made.reason().empty());
    EXPECT_THROW(made.failure(), std::bad_variant_access);
    const std::unique_ptr<int> taken = std::move(made).value();
    EXPECT_EQ(*taken, 7);

    EXPECT_TRUE(Check(1));
    EXPECT_TRUE(Check(1).reason().empty());
}

TEST(Outcome, FailureHoldsKindAndReasonAndNoValue) {
    const auto made = Make(-1);
    EXPECT_FALSE(made);
    EXPECT_EQ(made.kind(), Why::Broken);
    EXPECT_EQ(made.reason(), u"negative");
    EXPECT_THROW(made.value(), std::bad_variant_access);

    const Outcome<void, Why> checked = Check(-1);
    EXPECT_FALSE(checked);
    EXPECT_EQ(checked.kind(), Why::Broken);
    EXPECT_EQ(checked.reason(), u"negative");
}

TEST(Outcome, ValueOrGivesTheFallbackOnlyOnFailure) {
    const Outcome<int> number = 5;
    const Outcome<int> none = Failure(u"unreadable");
    EXPECT_EQ(number.value_or(3), 5);
    EXPECT_EQ(none.value_or(3), 3);
    EXPECT_EQ(none.reason(), u"unreadable");
}

} // namespace
} // namespace calvora
