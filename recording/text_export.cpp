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
constexpr uint32_t kDataGroups = 3;

void WriteNumber(BufferedWriter& out, uint32_t n) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    char16_t wide[16];
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
    BufferedWriter out(sink);
    const uint8_t bom[2] = {0xFF, 0xFE};
    out.Bytes(bom, 2);
    out.Utf16(kTitle);
    out.Utf16(kLineEnd);
    out.Utf16(kLineEnd);

    const uint32_t count = document.sampleCount();
    const uint32_t groups = count / kExportGroupRows + (count % kExportGroupRows ? 1 : 0);
    for (uint32_t g = 0; g < std::max<uint32_t>(groups, 1); ++g)
        out.Utf16(kGroupHeader);
    out.Utf16(kLineEnd);

    const uint32_t rows = groups >= 2 ? kExportGroupRows : count;
    for (uint32_t r = 1; r <= rows; ++r) {
        for (uint32_t g = 0; g < kDataGroups; ++g) {
            const uint64_t n = r + uint64_t{g} * kExportGroupRows;
            if (n > count)
                break;
            const auto row = static_cast<uint32_t>(n - 1);
            WriteNumber(out, static_cast<uint32_t>(n));
            out.Utf16(u"\t");
            WriteCell(out, document.functionName(row));
            WriteCell(out, document.mode(row));
            WriteCell(out, FormatStoredValue(document.value(row, 0), document.fullScale(row, 0),
                                             document.lowLimit(row)));
            WriteCell(out, document.unit(row));
            WriteCell(out, document.timeText(row));
        }
        out.Utf16(kLineEnd);
    }
    return out.Flush();
}

} // namespace calvora
