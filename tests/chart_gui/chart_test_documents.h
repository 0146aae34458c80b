// Documents for the chart tests: a finished recording from a list of values, and a live one fed sample by
// sample as the recording hand-off does.
#pragma once

#include "chart/chart_layout.h"
#include "chart/chart_model.h"
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

// A live recording of `planned` samples on a fixed scale.
struct LiveDocument {
    explicit LiveDocument(uint32_t planned, double low = 0, double high = 10) {
        ApplyNewChartDefaults(document);
        document.BeginLiveStorage(planned, allocated);
        StartLiveWindow(document.layout);
        document.liveActive = 1;
        SetScale(document, low, high);
    }
    // What the recording hand-off does with one reading, short of drawing.
    void Append(float value, std::u16string_view function = u"VDC") {
        document.AppendSample(value, 1000, -1000, function, u"DC", u"V", kTestTime);
        document.layout.firstSample = 1;
        document.layout.lastSample = static_cast<int32_t>(document.sampleCount());
        GrowLiveWindow(document.layout, document.sampleCount());
    }

    RecordingDocument document;
    uint32_t allocated = 0;
};

} // namespace calvora::testing
