#include "chart/live_chart_rules.h"

#include "chart/model/chart_model.h"
#include "recording/recording_document.h"

#include <algorithm>
#include <cstdint>

namespace calvora {

void LiveChartRules::Attach(RecordingDocument& document) {
    if (attachedTo(document))
        return;
    subscription_ = document.Subscribe(*this, ListenerRank::DerivedState);
    document_ = &document;
}

void LiveChartRules::Detach() {
    subscription_.Reset();
    document_ = nullptr;
}

void LiveChartRules::OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) {
    ChartSettings& settings = document.settings;
    ChartLayout& layout = document.layout;
    if (first == 0) {
        // A new recording: its scale owes nothing to the one before.
        runningMax_ = kStartMax;
        runningMin_ = kStartMin;
        layout.liveWindow.Start();
        ApplyChannelDefaults(settings);
    }
    const uint32_t end = std::min(first + count, document.sampleCount());
    for (uint32_t row = first; row < end; ++row) {
        const double value = document.value(row, 0);
        if (value > runningMax_)
            runningMax_ = value;
        if (value < runningMin_)
            runningMin_ = value;
    }

    const AutoLimits limits = ComputeAutoLimits(runningMin_, runningMax_);
    settings.autoMin = static_cast<float>(limits.low);
    settings.autoMax = static_cast<float>(limits.high);
    layout.laidOut = {1, static_cast<int32_t>(std::min<uint32_t>(document.sampleCount(), INT32_MAX))};
    // Whatever scale was chosen gives way to the automatic one once the samples move it.
    if (static_cast<double>(settings.autoMin) != settings.axisMin ||
        static_cast<double>(settings.autoMax) != settings.axisMax) {
        settings.axisMin = settings.autoMin;
        settings.axisMax = settings.autoMax;
        layout.ResetZoom();
        document.AnnounceSettingsChanged();
    }
    for (uint32_t row = first; row < end; ++row)
        layout.GrowLiveWindow(row + 1);
}

} // namespace calvora
