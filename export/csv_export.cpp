#include "export/csv_export.h"

#include "export/sample_time.h"
#include "protocol/formatters.h"
#include "protocol/text.h"

#include <charconv>
#include <cmath>

namespace calvora {

std::u16string_view OverloadText(float value, float fullScale, int32_t lowLimit) {
    if (!std::isfinite(value))
        return std::signbit(value) ? u"-OL" : u"OL";
    return StoredOverloadText(value, fullScale, lowLimit);
}

std::string ShortestFloatText(float value, bool decimalComma) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    std::string text(buffer, end);
    if (decimalComma) {
        if (const size_t point = text.find('.'); point != std::string::npos)
            text[point] = ',';
    }
    return text;
}

namespace {

// `specials`: the delimiter, the quote, CR and LF.
void AppendField(std::string& line, std::string_view field, std::string_view specials) {
    if (field.find_first_of(specials) == std::string_view::npos) {
        line += field;
        return;
    }
    line += '"';
    for (const char c : field) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

} // namespace

bool WriteCsv(const SampleSource& source, SampleNumbers range, const CsvOptions& options, ByteSink& sink) {
    BufferedWriter out(sink);
    const char delimiter = options.delimiter;
    std::string line;
    for (const std::string_view column : kCsvColumns) {
        if (!line.empty())
            line += delimiter;
        line += column;
    }
    line += "\r\n";
    const std::string specials{delimiter, '"', '\r', '\n'};
    for (uint64_t i = 0; i < range.count(); ++i) {
        const uint64_t n = range.first + i;
        const SampleView sample = source.Sample(n - 1);
        char number[24];
        line.append(number, std::to_chars(number, number + sizeof number, n).ptr);
        line += delimiter;
        AppendField(line, toUtf8(ExportedTime(sample.timeText)), specials);
        line += delimiter;
        AppendField(line, toUtf8(sample.functionName), specials);
        line += delimiter;
        AppendField(line, toUtf8(sample.mode), specials);
        line += delimiter;
        const std::u16string_view overload = OverloadText(sample.value, sample.fullScale, sample.lowLimit);
        AppendField(
            line, overload.empty() ? ShortestFloatText(sample.value, options.decimalComma) : toUtf8(overload),
            specials);
        line += delimiter;
        AppendField(line, toUtf8(sample.unit), specials);
        line += "\r\n";
        if (line.size() >= 4096) {
            out.Bytes(reinterpret_cast<const uint8_t*>(line.data()), line.size());
            line.clear();
        }
    }
    out.Bytes(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    return out.Flush();
}

} // namespace calvora
