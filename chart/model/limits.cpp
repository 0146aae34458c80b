#include "chart/model/limits.h"

#include <cmath>

namespace calvora {

double DefaultHysteresis(const std::optional<double>& high, const std::optional<double>& low) {
    if (high && low)
        return std::fabs(*high - *low) / 100;
    if (high)
        return std::fabs(*high) / 100;
    if (low)
        return std::fabs(*low) / 100;
    return 0;
}

double AsStored(double limit) {
    return static_cast<double>(static_cast<float>(limit));
}

ActiveLimits LimitsInForce(const LimitSettings& limits, const ChartSettings& settings, int channel) {
    ActiveLimits active;
    if (channel < 0 || channel >= kMaxChannels)
        return active;
    const auto c = static_cast<size_t>(channel);
    if (settings.alarmHigh[c])
        active.high = limits.high;
    if (settings.alarmLow[c])
        active.low = limits.low;
    // The default follows the limits as set, so switching one off does not move where the other's alarm ends.
    active.hysteresis = limits.hysteresis.value_or(DefaultHysteresis(limits.high, limits.low));
    active.holdSeconds = limits.holdSeconds;
    return active;
}

std::u16string CheckLimits(const LimitSettings& limits) {
    const auto finite = [](const std::optional<double>& value) { return !value || std::isfinite(*value); };
    if (!finite(limits.high) || !finite(limits.low) || !finite(limits.hysteresis) ||
        !std::isfinite(limits.holdSeconds))
        return u"Every limit, the hysteresis and the hold time must be numbers.";
    if (limits.high && limits.low && !(*limits.high > *limits.low))
        return u"The high limit must be above the low limit.";
    if (limits.hysteresis && *limits.hysteresis < 0)
        return u"The hysteresis cannot be negative.";
    if (limits.holdSeconds < 0)
        return u"The hold time cannot be negative.";
    return {};
}

} // namespace calvora
