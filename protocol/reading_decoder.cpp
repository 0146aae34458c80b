#include "protocol/reading_decoder.h"

#include "protocol/formatters.h"
#include "protocol/meter_tables.h"

#include <cmath>
#include <cstdlib>

namespace calvora {

namespace {

constexpr uint8_t kPeakBit = 0x10;
constexpr uint8_t kManualRangeBit = 0x20;
constexpr uint8_t kHoldBit = 0x80;
constexpr int32_t kMaxBarSegments = 40;

// |trunc(value * segmentsAtFullScale / fullScale)|; the product stays a float as the meter's
// arithmetic has it, the division is done in double.
int32_t BarLength(float value, int segmentsAtFullScale, double fullScale) {
    const float scaled = value * static_cast<float>(segmentsAtFullScale);
    return std::abs(static_cast<int32_t>(std::trunc(static_cast<double>(scaled) / fullScale)));
}

std::u16string BarText(int32_t segments) {
    std::u16string bar = u"|";
    bar.reserve(1 + 2 * static_cast<size_t>(segments));
    for (int32_t i = 1; i <= segments; ++i)
        bar += (i % 5 == 0) ? u" |" : u" l";
    return bar;
}

} // namespace

std::optional<LiveReading> DecodeLiveFrame(const uint8_t* frame, int length) {
    if (frame == nullptr || length < 10)
        return std::nullopt;
    const uint8_t p0 = frame[5];
    const uint8_t p1 = frame[6];
    const uint8_t rangeByte = frame[7];
    const uint8_t functionByte = frame[8];
    const uint8_t status = frame[9];

    LiveReading result;
    MeterReading& reading = result.reading;
    PanelState& panel = result.panel;
    PanelTexts& texts = panel.texts;
    texts.scaleText = kBarScaleText;
    texts.barText = u"|";

    FunctionInfo info = LookUpFunction(rangeByte, functionByte);
    if (info.tableTrms) {
        texts.trmsText = u"TRMS";
        panel.trmsShown = true;
    }
    panel.diodeShown = info.diode;
    panel.beepShown = info.beep;
    if (info.temperature) {
        texts.scaleText.clear();
        texts.barText.clear();
    }

    reading.functionCode = info.functionCode;
    reading.divisor = info.divisor;
    reading.shortScale = info.shortScale;
    reading.fullScale = info.fullScale;
    reading.lowLimit = info.lowLimit;
    reading.raw = SignedCount(p0, p1, rangeByte);
    reading.value = static_cast<float>(reading.raw) / static_cast<float>(reading.divisor);
    if (info.shortScale)
        reading.barSegments = BarLength(reading.value, 10, reading.fullScale);
    else if (!info.fixedLimits)
        reading.barSegments = BarLength(reading.value, 40, reading.fullScale);
    if (info.functionName == u"4-20 mA%")
        reading.barSegments = std::abs(static_cast<int32_t>(std::trunc(reading.value / 10)));

    reading.autoRange = (status & kManualRangeBit) == 0;
    reading.hold = (status & kHoldBit) != 0;
    reading.peak = (status & kPeakBit) != 0;
    reading.acPlusDc = (rangeByte & kAcPlusDcBit) != 0;
    if (reading.autoRange)
        texts.autoText = u"AUTO";
    if (reading.hold)
        texts.holdText = u"HOLD";
    if (reading.peak)
        texts.peakText = u"PEAK";

    // These functions have no range switching the user could see.
    const std::u16string& name = info.functionName;
    if (name == u"mV" || name == u"Temp" || name == u"10A" || name == u"4-20 mA%" || info.mode == u"DIODE" ||
        info.mode == u"BEEP")
        texts.autoText.clear();
    if (name == u"4-20 mA%")
        info.mode.clear();
    const bool ac = info.mode == u"AC" || info.mode == u"AC+DC";
    if (ac) {
        texts.trmsText = u"TRMS";
        panel.trmsShown = true;
    }
    if (reading.barSegments > kMaxBarSegments)
        reading.barSegments = kMaxBarSegments;

    reading.displayText = FormatDigits(reading.raw, reading.divisor);
    if (reading.value > reading.fullScale)
        reading.displayText = u"OL";
    if (reading.value < reading.lowLimit)
        reading.displayText = u"-OL";
    if (!info.temperature)
        texts.barText = BarText(reading.barSegments);
    panel.modeShown = ac || info.mode == u"DC";

    reading.functionName = std::move(info.functionName);
    reading.mode = std::move(info.mode);
    reading.unit = std::move(info.unit);
    texts.modeText = reading.mode;
    texts.unitText = reading.unit;
    texts.valueText = reading.displayText;
    return result;
}

} // namespace calvora
