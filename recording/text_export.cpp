#include "recording/text_export.h"

#include "protocol/formatters.h"
#include "recording/recording_document.h"

#include <algorithm>
#include <charconv>

namespace calvora {

namespace {
constexpr std::u16string_view kTitle = u"                            Multimeter Data File";
constexpr std::u16string_view kGroupHeader = u"No.\tChannel\t Function\tData Value\tUnit\tTime\t";
constexpr std::u16string_view kLineEnd = u"\r\n";
constexpr uint32_t kDataGroups = kMaxTextExportSamples / kExportGroupRows;

void WriteNumber(BufferedWriter& out, uint64_t n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    char16_t wide[24];
    for (char* p = digits; p != end; ++p)
        wide[p - digits] = static_cast<char16_t>(*p);
    out.Utf16({wide, static_cast<size_t>(end - digits)});
}

void WriteCell(BufferedWriter& out, std::u16string_view text) {
    out.Utf16(text);
    out.Utf16(u"\t");
}
} // namespace

bool WriteTextExport(const RecordingDocument& document, ByteSink& sink) {
    const DocumentSamples samples(document);
    return WriteTextExport(samples, AllSamples(samples), sink);
}

bool WriteTextExport(const SampleSource& source, SampleNumbers range, ByteSink& sink) {
    BufferedWriter out(sink);
    const uint8_t bom[2] = {0xFF, 0xFE};
    out.Bytes(bom, 2);
    out.Utf16(kTitle);
    out.Utf16(kLineEnd);
    out.Utf16(kLineEnd);

    const uint64_t count = range.count();
    const uint64_t groups = count / kExportGroupRows + (count % kExportGroupRows ? 1 : 0);
    for (uint64_t g = 0; g < std::max<uint64_t>(groups, 1); ++g)
        out.Utf16(kGroupHeader);
    out.Utf16(kLineEnd);

    const uint64_t rows = groups >= 2 ? kExportGroupRows : count;
    for (uint64_t r = 1; r <= rows; ++r) {
        for (uint64_t g = 0; g < kDataGroups; ++g) {
            const uint64_t index = r + g * kExportGroupRows; // 1-based within the range
            if (index > count)
                break;
            const uint64_t n = range.first + index - 1;
            const SampleView sample = source.Sample(n - 1);
            WriteNumber(out, n);
            out.Utf16(u"\t");
            WriteCell(out, sample.functionName);
            WriteCell(out, sample.mode);
            WriteCell(out, FormatStoredValue(sample.value, sample.fullScale, sample.lowLimit));
            WriteCell(out, sample.unit);
            WriteCell(out, sample.timeText);
        }
        out.Utf16(kLineEnd);
    }
    return out.Flush();
}

} // namespace calvora
