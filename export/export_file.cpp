#include "export/export_file.h"

#include "export/jsonl_export.h"
#include "export/xlsx_export.h"
#include "protocol/text.h"
#include "recording/atomic_file.h"
#include "recording/text_export.h"

#include <string>

namespace calvora {

std::string_view ExportFormatName(ExportFormat format) {
    switch (format) {
    case ExportFormat::RecorderText:
        return "recorder-csv";
    case ExportFormat::Csv:
        return "csv";
    case ExportFormat::JsonLines:
        return "jsonl";
    case ExportFormat::Xlsx:
        return "xlsx";
    }
    return {};
}

std::optional<ExportFormat> ExportFormatNamed(std::string_view name) {
    for (const ExportFormat format : kExportFormats) {
        if (ExportFormatName(format) == name)
            return format;
    }
    return std::nullopt;
}

std::string_view ExportExtension(ExportFormat format) {
    return format == ExportFormat::RecorderText ? "csv" : ExportFormatName(format);
}

std::u16string ExportProblem(const ExportOptions& options, uint64_t sampleCount) {
    const SampleNumbers range = options.range.value_or(SampleNumbers{1, sampleCount});
    if (options.range) {
        if (range.first < 1 || range.last > sampleCount || range.first > range.last)
            return fromUtf8("the samples " + std::to_string(range.first) + " to " +
                            std::to_string(range.last) + " are not within 1 to " +
                            std::to_string(sampleCount));
    }
    if (options.format == ExportFormat::Csv && !options.csv.valid())
        return u"a decimal comma cannot go with the comma delimiter";
    if (options.format == ExportFormat::RecorderText && range.count() > kMaxTextExportSamples)
        return fromUtf8("the .csv Save writes holds at most 180,000 samples, not " +
                        std::to_string(range.count()));
    if (options.format == ExportFormat::Xlsx && range.count() > kMaxXlsxSamples)
        return fromUtf8("a sheet holds at most 1,048,575 samples, not " + std::to_string(range.count()));
    return {};
}

Outcome<void> ExportSamples(const SampleSource& source, const ExportOptions& options,
                            const std::filesystem::path& target) {
    if (const std::u16string problem = ExportProblem(options, source.sampleCount()); !problem.empty())
        return CannotSave(target, problem);
    const SampleNumbers range = options.range.value_or(AllSamples(source));
    switch (options.format) {
    case ExportFormat::RecorderText:
        return WriteFileAtomically(target,
                                   [&](ByteSink& sink) { return WriteTextExport(source, range, sink); });
    case ExportFormat::Csv:
        return WriteFileAtomically(
            target, [&](ByteSink& sink) { return WriteCsv(source, range, options.csv, sink); });
    case ExportFormat::JsonLines:
        return WriteFileAtomically(target,
                                   [&](ByteSink& sink) { return WriteJsonLines(source, range, sink); });
    case ExportFormat::Xlsx: {
        XlsxFile workbook;
        if (const Outcome<void> built = workbook.Build(source, range); !built)
            return CannotSave(target, built.reason());
        return WriteFileAtomically(target, [&](ByteSink& sink) { return workbook.CopyTo(sink); });
    }
    }
    return CannotSave(target, u"unknown format");
}

} // namespace calvora
