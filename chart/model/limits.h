// The band a document's readings are held to: a high and a low limit, the hysteresis an alarm needs to end
// and the time a reading must stay beyond a limit before it raises one, with what a raised alarm does. A
// limit is in force only while its channel's "Alarm High" or "Alarm Low" flag is set. The chart draws the
// limits in force; the alarm monitor holds the live readings to them.
#pragma once

#include "chart/model/chart_model.h"

#include <optional>
#include <string>

namespace calvora {

// What a raised alarm does; each action is optional.
struct AlarmActions {
    bool sound = false;
    bool notify = true;         // a desktop notification
    bool list = true;           // a line in the alarm list, with the times it was raised and ended
    bool stopRecording = false; // ends the recording the reading belongs to
    std::u16string command;     // run with the reading in its environment; empty: none

    bool operator==(const AlarmActions&) const = default;
};

struct LimitSettings {
    std::optional<double> high;
    std::optional<double> low;
    std::optional<double> hysteresis; // empty: the default (DefaultHysteresis)
    double holdSeconds = 0;
    AlarmActions actions;

    bool operator==(const LimitSettings&) const = default;
};

// 1 % of the span between the two limits; with one limit, 1 % of its size; 0 without any.
double DefaultHysteresis(const std::optional<double>& high, const std::optional<double>& low);

// The limits that act on one channel now.
struct ActiveLimits {
    std::optional<double> high;
    std::optional<double> low;
    double hysteresis = 0;
    double holdSeconds = 0;

    bool any() const { return high.has_value() || low.has_value(); }
    bool operator==(const ActiveLimits&) const = default;
};

ActiveLimits LimitsInForce(const LimitSettings& limits, const ChartSettings& settings, int channel = 0);

// Readings are stored as 32-bit floats: a limit is compared with them at that precision, so a reading
// shown as the limit's own value (1.2000 against 1.2) lies on the limit, not beyond it.
double AsStored(double limit);
inline bool AboveLimit(double value, double limit) {
    return value > AsStored(limit);
}
inline bool BelowLimit(double value, double limit) {
    return value < AsStored(limit);
}

// Why the values cannot be limits: a limit above the high one, a negative hysteresis or hold time, a value
// that is no number. Empty when they can.
std::u16string CheckLimits(const LimitSettings& limits);

} // namespace calvora
