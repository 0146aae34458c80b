// One export of a document's samples to a file: the format, the samples, the csv options, and the write
// through the atomic writer that Save uses, so a failure leaves the old file (or none) in place and says why.
#pragma once

#include "export/csv_export.h"
#include "protocol/outcome.h"
#include "recording/sample_source.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string_view>

namespace calvora {

enum class ExportFormat {
    RecorderText, // the UTF-16 tab-separated table Save writes beside a recording
    Csv,
    JsonLines,
    Xlsx,
};

inline constexpr std::array<ExportFormat, 4> kExportFormats = {ExportFormat::RecorderText, ExportFormat::Csv,
                                                               ExportFormat::JsonLines, ExportFormat::Xlsx};

// The command line's names: "recorder-csv", "csv", "jsonl", "xlsx".
std::string_view ExportFormatName(ExportFormat format);
std::optional<ExportFormat> ExportFormatNamed(std::string_view name);
// The file name extension, without the dot: "csv", "csv", "jsonl", "xlsx".
std::string_view ExportExtension(ExportFormat format);

struct ExportOptions {
    ExportFormat format = ExportFormat::RecorderText;
    std::optional<SampleNumbers> range; // none: every sample
    CsvOptions csv;                     // for ExportFormat::Csv
};

// "" when the options suit a source of `sampleCount` samples, else why not, in words that name no user
// interface: a range outside 1..sampleCount or backwards, a decimal comma with the comma delimiter, more
// samples than a sheet holds.
std::u16string ExportProblem(const ExportOptions& options, uint64_t sampleCount);

// Writes the export to `target` ("-" is standard output). Fails with "Cannot save <target>: <reason>".
Outcome<void> ExportSamples(const SampleSource& source, const ExportOptions& options,
                            const std::filesystem::path& target);

} // namespace calvora
