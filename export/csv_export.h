// The UTF-8 csv export that spreadsheets, Python and R open as they are: RFC 4180 records ending in CR LF,
// a header record "sample,time,function,mode,value,unit", then one record per sample (first channel only)
// with its number, its ISO local time, its texts and its value as the shortest text that reads back to
// the same 32-bit float ("OL" or "-OL" for an overload). A field is quoted only when it holds the
// delimiter, a quote, CR or LF.
#pragma once

#include "recording/byte_sink.h"
#include "recording/sample_source.h"

#include <optional>
#include <string>
#include <string_view>

namespace calvora {

struct CsvOptions {
    char delimiter = ','; // ',', ';' or '\t'
    bool decimalComma = false;

    // A decimal comma beside the comma delimiter would make every value two fields.
    bool valid() const {
        return (delimiter == ',' || delimiter == ';' || delimiter == '\t') &&
               !(decimalComma && delimiter == ',');
    }
    bool operator==(const CsvOptions&) const = default;
};

inline constexpr std::string_view kCsvColumns[] = {"sample", "time", "function", "mode", "value", "unit"};

// "OL" or "-OL" when the stored-value formatter shows the sample as an overload or its value is not finite
// (by its sign); empty otherwise.
std::u16string_view OverloadText(float value, float fullScale, int32_t lowLimit);
// The shortest text that reads back to the same float ("0.1", "-3", "1e+05"), with a comma for the
// point when asked.
std::string ShortestFloatText(float value, bool decimalComma = false);

// `range` lies within 1..sampleCount(); `options` are valid(). False when the sink failed.
bool WriteCsv(const SampleSource& source, SampleNumbers range, const CsvOptions& options, ByteSink& sink);

} // namespace calvora
