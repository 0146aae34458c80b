#include "logging/log_samples.h"

#include "logging/log_document.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace calvora {

LogSamples::LogSamples(const LogDocument& log, LogRange range, std::u16string name)
    : log_(log), range_(range), name_(std::move(name)) {
}

float RecordedValue(float logValue, const LogState& state) {
    if (!std::isnan(logValue))
        return logValue;
    return (state.flags & kLogUnderload) != 0 ? -std::numeric_limits<float>::infinity()
                                              : std::numeric_limits<float>::infinity();
}

SampleView LogSamples::Sample(uint64_t row) const {
    const uint64_t i = range_.first + row;
    const LogState& state = log_.state(i);
    time_ = LocalIsoTimeText(log_.timeMs(i));
    return {RecordedValue(log_.value(i), state),
            static_cast<float>(state.fullScale),
            static_cast<int32_t>(state.lowLimit),
            state.functionName,
            state.mode,
            state.unit,
            time_};
}

std::u16string LocalIsoTimeText(int64_t utcMs) {
    const int64_t second = utcMs >= 0 ? utcMs / 1000 : (utcMs - 999) / 1000;
    const auto seconds = static_cast<std::time_t>(second);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(utcMs - second * 1000));
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

} // namespace calvora
