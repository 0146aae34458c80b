// The spreadsheet export (Office Open XML, written by libxlsxwriter): a sheet "Data" with the csv export's
// columns as typed cells (numbers for sample numbers and values, date-times for parseable times, text for
// the rest and for overloads), its header row frozen and its columns as wide as their contents; and a sheet
// "Chart" with a line chart of the values against the sample numbers, titled with the samples' name and
// units. Overloads leave gaps in the line: when there are any, the chart reads its values from a hidden
// sheet "Chart values" that holds the numbers and leaves the overloads blank.
#pragma once

#include "protocol/outcome.h"
#include "recording/byte_sink.h"
#include "recording/sample_source.h"

#include <filesystem>
#include <string>

namespace calvora {

// A sheet has 1,048,576 rows; the first holds the header.
inline constexpr uint64_t kMaxXlsxSamples = 1'048'575;

// The library writes a workbook only to a named file: it is built in a private temporary folder, which
// goes with the object, and copied from there to wherever it is saved.
class XlsxFile {
public:
    XlsxFile() = default;
    ~XlsxFile();
    XlsxFile(const XlsxFile&) = delete;
    XlsxFile& operator=(const XlsxFile&) = delete;

    // `range` lies within 1..sampleCount() and holds at most kMaxXlsxSamples samples. The failure's reason
    // is the library's or the system's.
    Outcome<void> Build(const SampleSource& source, SampleNumbers range);
    // The built workbook's bytes; false when reading it or the sink failed.
    bool CopyTo(ByteSink& sink) const;

private:
    std::filesystem::path folder_;
    std::filesystem::path file_;
};

} // namespace calvora
