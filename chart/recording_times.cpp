#include "chart/recording_times.h"

#include "recording/recording_document.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>

namespace calvora {

std::optional<int64_t> ParseSampleTimeText(std::u16string_view text) {
    if (text.size() != 18)
        return std::nullopt;
    char narrow[19] = {};
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] > 0x7F)
            return std::nullopt;
        narrow[i] = static_cast<char>(text[i]);
    }
    int month = 0;
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int consumed = 0;
    if (std::sscanf(narrow, " %2d/%2d/%2d %2d:%2d:%2d%n", &month, &day, &year, &hour, &minute, &second,
                    &consumed) != 6 ||
        consumed != 18)
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::tm local{};
    local.tm_year = 100 + year; // two-digit years are this century's
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1))
        return std::nullopt;
    return int64_t{seconds} * 1000;
}

std::optional<std::vector<int64_t>> SampleTimes(const RecordingDocument& document) {
    const uint32_t count = document.sampleCount();
    std::vector<int64_t> times;
    times.reserve(count);
    std::u16string_view lastText;
    int64_t lastSecond = 0;
    // Each run of samples in one second, spread across it once the run is complete.
    uint32_t runStart = 0;
    auto spread = [&](uint32_t end) {
        const uint32_t run = end - runStart;
        for (uint32_t k = 0; k < run; ++k)
            times[runStart + k] += static_cast<int64_t>(k) * 1000 / run;
    };
    for (uint32_t row = 0; row < count; ++row) {
        const std::u16string_view text = document.timeText(row);
        if (row == 0 || text != lastText) {
            const std::optional<int64_t> second = ParseSampleTimeText(text);
            if (!second || (row > 0 && *second < lastSecond))
                return std::nullopt;
            if (row > 0 && *second != lastSecond) {
                spread(row);
                runStart = row;
            }
            lastSecond = *second;
            lastText = text;
        }
        times.push_back(lastSecond);
    }
    spread(count);
    if (count == 0 || times.back() / 1000 == times.front() / 1000)
        return std::nullopt;
    return times;
}

std::unique_ptr<VectorTimeSeries> RecordingTimeSeries(const RecordingDocument& document) {
    const auto times = SampleTimes(document);
    if (!times)
        return nullptr;
    auto series = std::make_unique<VectorTimeSeries>();
    for (uint32_t row = 0; row < times->size(); ++row) {
        const float value = document.value(row, 0);
        series->Append((*times)[row], std::isfinite(value) ? value : std::numeric_limits<float>::quiet_NaN());
    }
    return series;
}

} // namespace calvora
