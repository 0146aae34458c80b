#include "export/jsonl_export.h"

#include "export/csv_export.h"
#include "export/sample_time.h"
#include "protocol/text.h"

#include <charconv>
#include <cmath>

namespace calvora {

void AppendJsonString(std::string& out, std::u16string_view text) {
    out += '"';
    for (const char c : toUtf8(text)) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static constexpr char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

bool WriteJsonLines(const SampleSource& source, SampleNumbers range, ByteSink& sink) {
    BufferedWriter out(sink);
    std::string line;
    for (uint64_t i = 0; i < range.count(); ++i) {
        const uint64_t n = range.first + i;
        const SampleView sample = source.Sample(n - 1);
        char number[24];
        line += "{\"sample\":";
        line.append(number, std::to_chars(number, number + sizeof number, n).ptr);
        line += ",\"time\":";
        AppendJsonString(line, ExportedTime(sample.timeText));
        line += ",\"function\":";
        AppendJsonString(line, sample.functionName);
        line += ",\"mode\":";
        AppendJsonString(line, sample.mode);
        line += ",\"value\":";
        const std::u16string_view overload = OverloadText(sample.value, sample.fullScale, sample.lowLimit);
        if (overload.empty()) {
            line += ShortestFloatText(sample.value);
        } else {
            line += "null,\"overload\":";
            AppendJsonString(line, overload);
        }
        line += ",\"unit\":";
        AppendJsonString(line, sample.unit);
        line += ",\"fullScale\":";
        line += std::isfinite(sample.fullScale) ? ShortestFloatText(sample.fullScale) : "null";
        line += ",\"lowLimit\":";
        line.append(number, std::to_chars(number, number + sizeof number, sample.lowLimit).ptr);
        line += "}\n";
        if (line.size() >= 4096) {
            out.Bytes(reinterpret_cast<const uint8_t*>(line.data()), line.size());
            line.clear();
        }
    }
    out.Bytes(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    return out.Flush();
}

} // namespace calvora
