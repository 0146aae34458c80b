#include "measure/alarm_watcher.h"

#include "protocol/formatters.h"
#include "recording/recording_document.h"

namespace calvora {

AlarmWatcher::AlarmWatcher(RecordingDocument& document, AlarmSink& sink, std::function<double()> clock)
    : document_(document), sink_(sink), clock_(std::move(clock)) {
    subscription_ = document_.Subscribe(*this, ListenerRank::DerivedState);
}

void AlarmWatcher::OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) {
    const ActiveLimits limits = LimitsInForce(document.limits, document.settings);
    if (limits != monitor_.limits())
        monitor_.SetLimits(limits);
    else if (first == 0)
        monitor_.Reset();
    if (!limits.any())
        return;
    for (uint32_t row = first; row < first + count; ++row) {
        const double value = document.value(row, 0);
        const double fullScale = document.fullScale(row, 0);
        const int32_t lowLimit = document.lowLimit(row);
        for (const AlarmEvent& event : monitor_.Feed(value, fullScale, lowLimit, clock_())) {
            AlarmNotice notice;
            notice.event = event;
            notice.source = document.title;
            notice.functionName = document.functionName(row);
            notice.unit = document.unit(row);
            notice.sampleNumber = uint64_t{row} + 1;
            const std::u16string_view time = document.timeText(row);
            notice.time = time.substr(std::min(time.find_first_not_of(u' '), time.size()));
            notice.valueText = FormatStoredValue(value, fullScale, lowLimit);
            CarryOut(document.limits.actions, notice, sink_);
        }
    }
}

} // namespace calvora
