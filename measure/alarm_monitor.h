// Holds readings to a high and a low limit. An alarm is raised when a reading goes beyond a limit and has
// stayed beyond it for the hold time, and ends when a reading comes back inside by at least the
// hysteresis, so a reading that wanders about a limit raises it once. Overloads count as beyond every limit
// on their side; a reading that is no number changes nothing.
#pragma once

#include "chart/model/limits.h"

#include <cstdint>
#include <vector>

namespace calvora {

enum class LimitSide { High, Low };

struct AlarmEvent {
    enum class Kind { Raised, Ended };
    Kind kind = Kind::Raised;
    LimitSide side = LimitSide::High;
    double limit = 0;   // the limit's value
    double value = 0;   // the reading that raised or ended the alarm (infinite for an overload)
    double seconds = 0; // when it arrived, on the monitor's clock

    bool operator==(const AlarmEvent&) const = default;
};

const char16_t* SideName(LimitSide side); // "high", "low"

class AlarmMonitor {
public:
    explicit AlarmMonitor(const ActiveLimits& limits = {}) : limits_(limits) {}

    const ActiveLimits& limits() const { return limits_; }
    // New limits start from no alarm: one still beyond is raised again by the next reading.
    void SetLimits(const ActiveLimits& limits);
    void Reset();

    // One reading, with the range it was taken in and its time in seconds (any clock that does not go
    // back). The events it causes, in order.
    std::vector<AlarmEvent> Feed(double value, double fullScale, int32_t lowLimit, double seconds);

    bool raised(LimitSide side) const { return Of(side).state == State::Raised; }

private:
    enum class State { Inside, Holding, Raised };
    struct Side {
        State state = State::Inside;
        double since = 0; // when the reading went beyond, while holding
    };
    Side& Of(LimitSide side) { return side == LimitSide::High ? high_ : low_; }
    const Side& Of(LimitSide side) const { return side == LimitSide::High ? high_ : low_; }
    void Step(LimitSide side, double limit, double value, double seconds, std::vector<AlarmEvent>& events);

    ActiveLimits limits_;
    Side high_;
    Side low_;
};

} // namespace calvora
