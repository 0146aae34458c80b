#include "tools/cli/json_output.h"

#include "protocol/text.h"

#include <string>

namespace calvora::cli {

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
