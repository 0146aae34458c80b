#include "publish/reading_message.h"

#include "protocol/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <system_error>

namespace calvora {

using Json = nlohmann::ordered_json;

namespace {

template <typename Number> Json Shortest(Number number) {
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, number);
    if (error != std::errc())
        return Json(static_cast<double>(number));
    const std::string_view written(text, static_cast<size_t>(end - text));
    if (written.find_first_not_of("-0123456789") == std::string_view::npos) {
        int64_t integral = 0;
        const auto parsed = std::from_chars(written.data(), written.data() + written.size(), integral);
        if (parsed.ec == std::errc() && parsed.ptr == written.data() + written.size())
            return Json(integral);
    }
    return Json(std::strtod(std::string(written).c_str(), nullptr));
}

// The message of every reading is written straight into one string rather than built as a tree of JSON
// values first: at 960 readings a second the tree's allocations were the larger part of the cost. Each
// piece is written exactly as the library's dump writes it, which LiveJson's users see.

// Text that is plain printable ASCII with nothing to escape (nearly every text of a reading) is copied as
// it is; anything else is left to the library.
void AppendText(std::string& out, const std::u16string& text) {
    const bool plain = std::all_of(text.begin(), text.end(), [](char16_t c) {
        return c >= 0x20 && c < 0x7F && c != u'"' && c != u'\\';
    });
    if (!plain) {
        out += Json(toUtf8(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
        return;
    }
    out += '"';
    for (const char16_t c : text)
        out += static_cast<char>(c);
    out += '"';
}

template <typename Integer> void AppendInteger(std::string& out, Integer number) {
    char text[24];
    const auto written = std::to_chars(text, text + sizeof text, number);
    out.append(text, written.ptr);
}

void AppendBool(std::string& out, bool value) {
    out += value ? "true" : "false";
}

// ,"key": (the first key of an object goes without the comma)
void AppendKey(std::string& out, const char* key) {
    out += ",\"";
    out += key;
    out += "\":";
}

void AppendUtcTime(std::string& out, std::chrono::system_clock::time_point time) {
    const auto millis = std::chrono::floor<std::chrono::milliseconds>(time).time_since_epoch().count();
    const std::time_t seconds = static_cast<std::time_t>(std::floor(static_cast<double>(millis) / 1000.0));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[80];
    const int length =
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                      utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                      static_cast<int>(millis - static_cast<int64_t>(seconds) * 1000));
    out.append(text, static_cast<size_t>(std::clamp(length, 0, static_cast<int>(sizeof text) - 1)));
}

} // namespace

Json ShortestNumber(float number) {
    return Shortest(number);
}
Json ShortestNumber(double number) {
    return Shortest(number);
}

Json LiveJson(const LiveReading& live) {
    const MeterReading& r = live.reading;
    const PanelTexts& t = live.panel.texts;
    Json line;
    line["kind"] = "live";
    line["functionCode"] = r.functionCode;
    line["functionName"] = toUtf8(r.functionName);
    line["mode"] = toUtf8(r.mode);
    line["unit"] = toUtf8(r.unit);
    line["divisor"] = r.divisor;
    line["raw"] = r.raw;
    line["value"] = ShortestNumber(r.value);
    line["fullScale"] = ShortestNumber(r.fullScale);
    line["lowLimit"] = ShortestNumber(r.lowLimit);
    line["shortScale"] = r.shortScale;
    line["barSegments"] = r.barSegments;
    line["autoRange"] = r.autoRange;
    line["hold"] = r.hold;
    line["peak"] = r.peak;
    line["acPlusDc"] = r.acPlusDc;
    line["displayText"] = toUtf8(r.displayText);
    Json panel;
    panel["mode"] = toUtf8(t.modeText);
    panel["trms"] = toUtf8(t.trmsText);
    panel["unit"] = toUtf8(t.unitText);
    panel["value"] = toUtf8(t.valueText);
    panel["auto"] = toUtf8(t.autoText);
    panel["bar"] = toUtf8(t.barText);
    panel["hold"] = toUtf8(t.holdText);
    panel["peak"] = toUtf8(t.peakText);
    panel["scale"] = toUtf8(t.scaleText);
    line["panel"] = std::move(panel);
    Json shown;
    shown["mode"] = live.panel.modeShown;
    shown["trms"] = live.panel.trmsShown;
    shown["beep"] = live.panel.beepShown;
    shown["diode"] = live.panel.diodeShown;
    line["shown"] = std::move(shown);
    return line;
}

std::string UtcTimeText(std::chrono::system_clock::time_point time) {
    std::string text;
    AppendUtcTime(text, time);
    return text;
}

std::string ReadingMessage(const LiveReading& live, std::chrono::system_clock::time_point time,
                           uint64_t seq) {
    const MeterReading& r = live.reading;
    const PanelTexts& t = live.panel.texts;
    std::string out;
    out.reserve(768);
    out += "{\"kind\":\"live\"";
    AppendKey(out, "functionCode");
    AppendInteger(out, static_cast<unsigned>(r.functionCode));
    AppendKey(out, "functionName");
    AppendText(out, r.functionName);
    AppendKey(out, "mode");
    AppendText(out, r.mode);
    AppendKey(out, "unit");
    AppendText(out, r.unit);
    AppendKey(out, "divisor");
    AppendInteger(out, r.divisor);
    AppendKey(out, "raw");
    AppendInteger(out, r.raw);
    AppendKey(out, "value");
    out += ShortestNumber(r.value).dump();
    AppendKey(out, "fullScale");
    out += ShortestNumber(r.fullScale).dump();
    AppendKey(out, "lowLimit");
    out += ShortestNumber(r.lowLimit).dump();
    AppendKey(out, "shortScale");
    AppendBool(out, r.shortScale);
    AppendKey(out, "barSegments");
    AppendInteger(out, r.barSegments);
    AppendKey(out, "autoRange");
    AppendBool(out, r.autoRange);
    AppendKey(out, "hold");
    AppendBool(out, r.hold);
    AppendKey(out, "peak");
    AppendBool(out, r.peak);
    AppendKey(out, "acPlusDc");
    AppendBool(out, r.acPlusDc);
    AppendKey(out, "displayText");
    AppendText(out, r.displayText);
    out += ",\"panel\":{\"mode\":";
    AppendText(out, t.modeText);
    AppendKey(out, "trms");
    AppendText(out, t.trmsText);
    AppendKey(out, "unit");
    AppendText(out, t.unitText);
    AppendKey(out, "value");
    AppendText(out, t.valueText);
    AppendKey(out, "auto");
    AppendText(out, t.autoText);
    AppendKey(out, "bar");
    AppendText(out, t.barText);
    AppendKey(out, "hold");
    AppendText(out, t.holdText);
    AppendKey(out, "peak");
    AppendText(out, t.peakText);
    AppendKey(out, "scale");
    AppendText(out, t.scaleText);
    out += "},\"shown\":{\"mode\":";
    AppendBool(out, live.panel.modeShown);
    AppendKey(out, "trms");
    AppendBool(out, live.panel.trmsShown);
    AppendKey(out, "beep");
    AppendBool(out, live.panel.beepShown);
    AppendKey(out, "diode");
    AppendBool(out, live.panel.diodeShown);
    out += "},\"time\":\"";
    AppendUtcTime(out, time);
    out += "\",\"seq\":";
    AppendInteger(out, seq);
    out += '}';
    return out;
}

std::string AlarmMessage(const AlarmNotice& notice, std::chrono::system_clock::time_point time) {
    const AlarmEvent& event = notice.event;
    Json message;
    message["kind"] = event.kind == AlarmEvent::Kind::Raised ? "alarm" : "alarmEnded";
    message["side"] = toUtf8(SideName(event.side));
    message["limit"] = ShortestNumber(event.limit);
    message["value"] = std::isfinite(event.value) ? ShortestNumber(event.value) : Json(nullptr);
    message["valueText"] = toUtf8(notice.valueText);
    message["unit"] = toUtf8(notice.unit);
    message["functionName"] = toUtf8(notice.functionName);
    message["time"] = UtcTimeText(time);
    return message.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace calvora
