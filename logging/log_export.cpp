#include "logging/log_export.h"

#include "chart/chart_layout.h"
#include "logging/log_document.h"
#include "logging/log_samples.h"
#include "protocol/formatters.h"
#include "protocol/text.h"
#include "recording/recording_document.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

namespace calvora {

LogRange RangeOfTimes(const LogDocument& log, std::optional<int64_t> fromMs, std::optional<int64_t> toMs) {
    LogRange range{0, log.readingCount()};
    if (fromMs)
        range.first = log.LowerBound(static_cast<double>(*fromMs));
    if (toMs)
        range.end = log.LowerBound(static_cast<double>(*toMs) + 1, range.first);
    range.end = std::max(range.end, range.first);
    return range;
}

std::u16string SampleTimeText(int64_t utcMs) {
    const std::time_t seconds = static_cast<std::time_t>(utcMs >= 0 ? utcMs / 1000 : (utcMs - 999) / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::strftime(text, sizeof text, " %m/%d/%y %H:%M:%S", &local);
    return fromAscii(text);
}

std::u16string RangeTooLongMessage(uint64_t readings) {
    return u"The range holds " + GroupedNumber(readings) + u" readings; a recording holds at most " +
           GroupedNumber(kMaxExportReadings) + u". Choose a shorter range.";
}

Outcome<void> ExportRange(const LogDocument& log, const LogRange& range, RecordingDocument& recording) {
    if (range.count() > kMaxExportReadings)
        return Failure(RangeTooLongMessage(range.count()));
    if (range.count() == 0 || range.end > log.readingCount())
        return Failure(u"The range holds no readings.");
    ApplyNewChartDefaults(recording);
    if (!recording.FillRows(static_cast<uint32_t>(range.count())))
        return Failure(u"There is not enough memory for the recording.");
    // Texts repeat from row to row: interned once per state, time texts once per second.
    std::vector<std::array<TextPool::Id, 3>> stateTexts(log.states().size());
    std::vector<bool> interned(log.states().size(), false);
    int64_t lastSecond = std::numeric_limits<int64_t>::min();
    TextPool::Id timeId = TextPool::kEmpty;
    for (uint64_t i = range.first; i < range.end; ++i) {
        const uint32_t row = static_cast<uint32_t>(i - range.first);
        const uint16_t stateIndex = log.stateIndex(i);
        const LogState& state = log.states()[stateIndex];
        if (!interned[stateIndex]) {
            stateTexts[stateIndex] = {recording.Intern(state.functionName), recording.Intern(state.mode),
                                      recording.Intern(state.unit)};
            interned[stateIndex] = true;
        }
        recording.SetValue(row, 0, RecordedValue(log.value(i), state), static_cast<float>(state.fullScale));
        recording.SetLowLimit(row, static_cast<int32_t>(state.lowLimit));
        const int64_t second = log.timeMs(i) >= 0 ? log.timeMs(i) / 1000 : (log.timeMs(i) - 999) / 1000;
        if (second != lastSecond) {
            timeId = recording.AppendText(SampleTimeText(log.timeMs(i)));
            lastSecond = second;
        }
        const auto& texts = stateTexts[stateIndex];
        recording.SetTextIds(row, texts[0], texts[1], texts[2], timeId);
    }
    recording.Compact();
    SetLimitsFromSamples(recording);
    return {};
}

} // namespace calvora
