// The live-reading decoder: one 12-byte live frame (marker 00 D5 F0) to a MeterReading and the
// complete instrument-panel state it implies. Stateless: every frame rebuilds every text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace calvora {

inline constexpr int kLiveFrameLength = 12;

// One decoded live reading.
struct MeterReading {
    uint8_t functionCode = 0; // function byte bits 0-3
    std::u16string functionName;
    std::u16string mode;
    std::u16string unit;
    int32_t divisor = 1; // counts per unit: 1, 10, 100, 1000 or 10000
    int32_t raw = 0;     // signed count
    float value = 0;     // raw / divisor
    double fullScale = 0;
    double lowLimit = 0;
    bool shortScale = false;
    int32_t barSegments = 0; // 0-40
    bool autoRange = false;  // the frame's flag, even where the panel suppresses "AUTO"
    bool hold = false;
    bool peak = false;
    bool acPlusDc = false;
    std::u16string displayText; // digits, "OL" or "-OL"
};

// The nine panel texts after a frame.
struct PanelTexts {
    std::u16string modeText;
    std::u16string trmsText;
    std::u16string unitText;
    std::u16string valueText;
    std::u16string autoText;
    std::u16string barText;
    std::u16string holdText;
    std::u16string peakText;
    std::u16string scaleText;
};

// What a live frame makes of the instrument panel. Controls 1089 and 1090 stay hidden always.
struct PanelState {
    PanelTexts texts;
    bool modeShown = false;   // control 1075: "AC", "DC" and "AC+DC" only
    bool trmsShown = false;   // control 1076
    bool beepShown = false;   // control 1087
    bool diodeShown = false;  // control 1088
    bool valueShown = true;   // control 1078: shown by every frame
    bool noticeShown = false; // control 1092, "Please open the wireless on the meter": hidden by every frame
};

struct LiveReading {
    MeterReading reading;
    PanelState panel;
};

// The bar-graph scale shown under the bar (64 characters).
inline constexpr std::u16string_view kBarScaleText =
    u"0       .      10       .      20       .      30      .      40";

// Reads frame bytes 5-9. Returns nothing when `frame` is null or shorter than 10 bytes.
std::optional<LiveReading> DecodeLiveFrame(const uint8_t* frame, int length);

} // namespace calvora
