// Reading a csv export back into a document, so that export, import and export again give the same bytes.
// The delimiter comes from the header record; the decimal separator from the first value that has one.
// Anything else is refused with the number of the first line that does not fit and why.
//
// What the csv does not carry is made up so that the samples show as they were exported: a document of
// one channel with the default chart settings; values without range limits (full scale the largest
// float, low limit the smallest 32-bit integer); "OL" as +infinity and "-OL" as -infinity; ISO times of
// 2000-2099 back in the recorded form " mm/dd/yy HH:MM:SS". Samples are numbered from 1 again.
#pragma once

#include "protocol/outcome.h"
#include "recording/record_file.h"

#include <filesystem>
#include <string_view>

namespace calvora {

class RecordingDocument;

// Fills an empty document; UnexpectedFormat with "line N does not fit a csv export: ..." when the text
// is not one. On failure the document is left empty.
Outcome<void, ReadFailure> ReadCsvExport(std::string_view text, RecordingDocument& document);
// The same for a file; its name begins the reason of an UnexpectedFormat.
Outcome<void, ReadFailure> ReadCsvExportFile(const std::filesystem::path& path, RecordingDocument& document);

// Whether a file is taken for a csv export rather than a record file: its name ends in ".csv" (in any
// case), or its first bytes are a csv export's header.
bool IsCsvFile(const std::filesystem::path& path);

// A record file or a csv export, whichever `path` is (IsCsvFile).
Outcome<void, ReadFailure> ReadDocumentFile(const std::filesystem::path& path, RecordingDocument& document);

} // namespace calvora
