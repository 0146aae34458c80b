// Documents for the chart tests: a finished recording from a list of values, and a live one fed sample by
// sample as the recording hand-off does.
#pragma once

#include "chart/chart_layout.h"
#include "chart/live_chart_rules.h"
#include "chart/model/chart_model.h"
#include "recording/recording_document.h"
#include "tests/support/calendar_time.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace calvora::testing {

inline constexpr char16_t kTestTime[] = u" 05/03/17 14:22:10";

// The same moment as a local time, for printed footers: 3 May 2017, 14:22:10.
inline std::tm TestPrintTime() {
    return CalendarTime(2017, 5, 3, 14, 22, 10);
}

// One channel, full scale 1000, "VDC"/"DC"/"V", limits from the samples unless given.
inline std::unique_ptr<RecordingDocument> MakeDocument(const std::vector<float>& values) {
    auto document = std::make_unique<RecordingDocument>();
    ApplyNewChartDefaults(*document);
    document->FillRows(static_cast<uint32_t>(values.size()));
    for (uint32_t row = 0; row < values.size(); ++row) {
        document->SetValue(row, 0, values[row], 1000);
        document->SetLowLimit(row, -1000);
        document->SetTexts(row, u"VDC", u"DC", u"V", kTestTime);
    }
    SetLimitsFromSamples(*document);
    return document;
}

inline void SetScale(RecordingDocument& document, double low, double high) {
    document.settings.axisMin = low;
    document.settings.axisMax = high;
}

// A live recording of `planned` samples. Each sample reaches the document's listeners as a recording's does:
// first the layout rules of a live chart on a fixed scale (or, once UseAutomaticScale is called, the chart's
// own live rules), then the views.
class LiveDocument : private DocumentListener {
public:
    explicit LiveDocument(uint32_t planned, double low = 0, double high = 10) {
        ApplyNewChartDefaults(document);
        document.BeginLiveStorage(planned, allocated);
        document.layout.liveWindow.Start();
        document.liveActive = true;
        SetScale(document, low, high);
        fixedScale_ = document.Subscribe(*this, ListenerRank::DerivedState);
    }
    LiveDocument(const LiveDocument&) = delete;
    LiveDocument& operator=(const LiveDocument&) = delete;

    // One reading stored, as the recording hand-off stores it.
    void Append(float value, std::u16string_view function = u"VDC") {
        document.AppendSample(value, 1000, -1000, function, u"DC", u"V", kTestTime);
    }
    void UseAutomaticScale() {
        fixedScale_.Reset();
        rules_.Attach(document);
    }

    RecordingDocument document;
    uint32_t allocated = 0;

private:
    void OnSamplesAppended(RecordingDocument&, uint32_t first, uint32_t count) override {
        document.layout.laidOut = {1, static_cast<int32_t>(document.sampleCount())};
        for (uint32_t n = first + 1; n <= first + count; ++n)
            document.layout.GrowLiveWindow(n);
    }

    DocumentSubscription fixedScale_;
    LiveChartRules rules_;
};

} // namespace calvora::testing
