// Documents for the export tests: one that holds every case the csv rules treat apart (overloads of each
// kind, unit changes, odd time texts, texts that need quoting, non-ASCII units, values whose shortest
// text is in exponent form).
#pragma once

#include "recording/recording_document.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace calvora::test {

struct Row {
    float value;
    float fullScale;
    int32_t lowLimit;
    std::u16string functionName;
    std::u16string mode;
    std::u16string unit;
    std::u16string timeText;
};

inline RecordingDocument DocumentOf(const std::vector<Row>& rows, std::u16string title = u"run.recorder") {
    RecordingDocument document;
    document.SetChannelCount(1);
    document.FillRows(static_cast<uint32_t>(rows.size()));
    for (uint32_t r = 0; r < rows.size(); ++r) {
        document.SetValue(r, 0, rows[r].value, rows[r].fullScale);
        document.SetLowLimit(r, rows[r].lowLimit);
        document.SetTexts(r, rows[r].functionName, rows[r].mode, rows[r].unit, rows[r].timeText);
    }
    document.title = std::move(title);
    return document;
}

inline const std::vector<Row>& GoldenRows() {
    constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    static const std::vector<Row> rows = {
        {1.2345f, 4, -4, u"VDC", u"DC", u"V", u" 12/07/26 22:05:20"},
        {65.535f, 40, 0, u"RDBC", u"R", u"KΩ", u" 12/07/26 22:05:21"},         // above full scale: OL
        {-30, 1200, -25, u"Temp", u"TK", u"°C", u" 12/07/26 22:05:22"},        // below the low limit: -OL
        {kNan, 4, -4, u"VDC", u"DC", u"V", u" 02/29/27 10:00:00"},             // no leap year: text kept
        {-kInf, 4, -4, u"VDC", u"DC", u"V", u" 02/29/28 10:00:00"},            // leap year: a date
        {0.1f, 4, -4, u"say \"hi\"", u"a,b", u"x;y", u"  12/07/26 22:05:20 "}, // blanks around
        {1e5f, 1e6f, 0, u"mV", u"line\r\nbreak", u"Ω", u" 13/07/26 22:05:20"}, // month 13
        {-0.0f, 4, -4, u"tab\there", u"", u"", u""},
        {3.4028235e38f, 3.4028235e38f, 0, u"VAC", u"AC", u"V", u" 12/07/26 24:00:00"}, // hour 24
        {1.5e-7f, 4, -4, u"uA", u"DC", u"uA", u"just a note"},
    };
    return rows;
}

} // namespace calvora::test
