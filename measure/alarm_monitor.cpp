#include "measure/alarm_monitor.h"

#include "measure/statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace calvora {

const char16_t* SideName(LimitSide side) {
    return side == LimitSide::High ? u"high" : u"low";
}

void AlarmMonitor::SetLimits(const ActiveLimits& limits) {
    limits_ = limits;
    Reset();
}

void AlarmMonitor::Reset() {
    high_ = {};
    low_ = {};
}

std::vector<AlarmEvent> AlarmMonitor::Feed(double value, double fullScale, int32_t lowLimit, double seconds) {
    std::vector<AlarmEvent> events;
    if (std::isnan(value))
        return events;
    // An overload lies beyond every limit on its side, whatever number the meter sent with it.
    if (IsOverload(value, fullScale, lowLimit))
        value = value < static_cast<double>(lowLimit) ? -std::numeric_limits<double>::infinity()
                                                      : std::numeric_limits<double>::infinity();
    if (limits_.high)
        Step(LimitSide::High, *limits_.high, value, seconds, events);
    if (limits_.low)
        Step(LimitSide::Low, *limits_.low, value, seconds, events);
    // A reading that jumps from one side to the other ends the one alarm before it raises the other.
    std::stable_partition(events.begin(), events.end(),
                          [](const AlarmEvent& event) { return event.kind == AlarmEvent::Kind::Ended; });
    return events;
}

void AlarmMonitor::Step(LimitSide side, double limit, double value, double seconds,
                        std::vector<AlarmEvent>& events) {
    Side& s = Of(side);
    const bool high = side == LimitSide::High;
    const bool beyond = high ? AboveLimit(value, limit) : BelowLimit(value, limit);
    const bool backInside = high ? !AboveLimit(value, limit - limits_.hysteresis)
                                 : !BelowLimit(value, limit + limits_.hysteresis);
    switch (s.state) {
    case State::Raised:
        if (backInside) {
            s.state = State::Inside;
            events.push_back({AlarmEvent::Kind::Ended, side, limit, value, seconds});
        }
        return;
    case State::Holding:
        if (!beyond) {
            s.state = State::Inside;
            return;
        }
        break;
    case State::Inside:
        if (!beyond)
            return;
        s.state = State::Holding;
        s.since = seconds;
        break;
    }
    if (seconds - s.since >= limits_.holdSeconds) {
        s.state = State::Raised;
        events.push_back({AlarmEvent::Kind::Raised, side, limit, value, seconds});
    }
}

} // namespace calvora
