#include "tools/cli/json_output.h"

#include "protocol/text.h"

#include <charconv>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

namespace calvora::cli {

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

std::string PanelLine(const LiveReading& live) {
    const PanelState& panel = live.panel;
    const PanelTexts& t = panel.texts;
    std::string line;
    auto add = [&](const std::u16string& text, bool shown = true) {
        if (!shown || text.empty())
            return;
        if (!line.empty())
            line += ' ';
        line += toUtf8(text);
    };
    add(t.modeText, panel.modeShown);
    add(t.trmsText, panel.trmsShown);
    add(t.valueText);
    add(t.unitText);
    add(t.autoText);
    add(t.holdText);
    add(t.peakText);
    add(u"BEEP", panel.beepShown);
    add(u"DIODE", panel.diodeShown);
    add(t.barText);
    return line;
}

} // namespace calvora::cli
