#include "protocol/frame_builder.h"
#include "protocol/reading_decoder.h"
#include "protocol/text.h"

#include <gtest/gtest.h>

#include <string>

namespace calvora {
namespace {

LiveReading Decode(uint16_t magnitude, uint8_t rangeByte, uint8_t functionByte, uint8_t status = 0) {
    const auto frame = MakeLiveFrame(magnitude, rangeByte, functionByte, status);
    const auto live = DecodeLiveFrame(frame.data(), static_cast<int>(frame.size()));
    EXPECT_TRUE(live.has_value());
    return live.value_or(LiveReading{});
}

std::string Bar(int segments) {
    std::string bar = "|";
    for (int i = 1; i <= segments; ++i)
        bar += i % 5 == 0 ? " |" : " l";
    return bar;
}

TEST(ReadingDecoder, ReadingFields) {
    struct Case {
        const char* what;
        uint16_t magnitude;
        uint8_t rangeByte, functionByte, status;
        const char* functionName;
        const char* mode;
        const char* unit;
        int32_t divisor;
        int32_t raw;
        double fullScale, lowLimit;
        bool shortScale;
        int32_t barSegments;
        const char* displayText;
    };
    const Case cases[] = {
        {"VDC 1.2345", 12345, 0x01, 0x01, 0x00, "VDC", "DC", "V", 10000, 12345, 4, -4, false, 12, "1.2345"},
        {"VDC negative", 12345, 0x11, 0x01, 0x00, "VDC", "DC", "V", 10000, -12345, 4, -4, false, 12,
         "-1.2345"},
        {"sign covers 16 bits", 0x0100, 0x11, 0x01, 0x00, "VDC", "DC", "V", 10000, -256, 4, -4, false, 0,
         "-0.0256"},
        {"negative zero", 0, 0x11, 0x01, 0x00, "VDC", "DC", "V", 10000, 0, 4, -4, false, 0, "0.0000"},
        // Both limits are strict: exactly full scale is a reading, one count beyond it is overload.
        {"VDC at full scale", 40000, 0x01, 0x01, 0x00, "VDC", "DC", "V", 10000, 40000, 4, -4, false, 40,
         "4.0000"},
        {"VDC at negative full scale", 40000, 0x11, 0x01, 0x00, "VDC", "DC", "V", 10000, -40000, 4, -4, false,
         40, "-4.0000"},
        {"VDC beyond negative full scale", 40001, 0x11, 0x01, 0x00, "VDC", "DC", "V", 10000, -40001, 4, -4,
         false, 40, "-OL"},
        {"VAC range 4 over", 10001, 0x04, 0x00, 0x00, "VAC", "AC", "V", 10, 10001, 1000, 0, true, 10, "OL"},
        {"VAC range 4 half", 5000, 0x04, 0x00, 0x00, "VAC", "AC", "V", 10, 5000, 1000, 0, true, 5, "0500.0"},
        {"Temp C over", 12010, 0x00, 0x04, 0x00, "Temp", "TK", "C", 10, 12010, 1200, -50, false, 0, "OL"},
        {"Temp C under", 510, 0x10, 0x04, 0x00, "Temp", "TK", "C", 10, -510, 1200, -50, false, 0, "-OL"},
        {"Temp F", 21920, 0x00, 0x14, 0x00, "Temp", "TK", "F", 10, 21920, 2192, -58, false, 0, "2192.0"},
        {"4-20 mA% half", 5000, 0x00, 0x07, 0x00, "4-20 mA%", "", "%", 100, 5000, 125, -25, false, 5,
         "050.00"},
        {"4-20 mA% under", 2600, 0x10, 0x07, 0x00, "4-20 mA%", "", "%", 100, -2600, 125, -25, false, 2,
         "-OL"},
        {"resistance range 6", 1234, 0x06, 0x03, 0x00, "RDBC", "R", "", 1, 1234, 40000, 0, false, 1, "01234"},
        {"resistance KOhm", 1234, 0x02, 0x03, 0x00, "RDBC", "R", "K\xCE\xA9", 1000, 1234, 40, 0, false, 1,
         "01.234"},
        {"VAC sub-mode 3", 1234, 0x01, 0x30, 0x00, "VAC", "", "", 1, 1234, 40000, 0, false, 1, "01234"},
        {"HZ% range 7", 9000, 0x07, 0x02, 0x00, "HZ%", "Frequency", "MHz", 100, 9000, 100, 0, true, 9,
         "090.00"},
        {"10A frequency", 1234, 0x02, 0x25, 0x00, "10A", "Frequency", "KHz", 10000, 1234, 4, 0, false, 1,
         "0.1234"},
        {"AC+DC before frequency", 1234, 0x81, 0x10, 0x00, "VAC", "AC+DC", "", 1, 1234, 40000, 0, false, 1,
         "01234"},
        {"AC+DC on VDC is not DC", 12345, 0x91, 0x01, 0x00, "VDC", "AC+DC", "V", 10000, -12345, 4, 0, false,
         12, "-OL"},
        {"duty", 5000, 0x03, 0x12, 0x00, "HZ%", "Duty", "%", 100, 5000, 100, 0, true, 5, "050.00"},
        {"DIODE", 6000, 0x00, 0x13, 0x00, "RDBC", "DIODE", "V", 10000, 6000, 2.51, 0, false, 0, "0.6000"},
        {"DIODE open", 25101, 0x00, 0x13, 0x00, "RDBC", "DIODE", "V", 10000, 25101, 2.51, 0, false, 0, "OL"},
        {"BEEP", 1234, 0x00, 0x23, 0x00, "RDBC", "BEEP", "\xCE\xA9", 100, 1234, 400, 0, false, 1, "012.34"},
        {"10A DC", 9999, 0x10, 0x05, 0x00, "10A", "DC", "A", 1000, -9999, 10, -10, true, 9, "-09.999"},
        {"mA range 1", 1234, 0x01, 0x06, 0x00, "mA", "DC", "mA", 100, 1234, 400, -400, false, 1, "012.34"},
        {"uA AC", 1234, 0x00, 0x18, 0x00, "uA", "AC", "uA", 100, 1234, 400, 0, false, 1, "012.34"},
        {"mV", 39999, 0x00, 0x09, 0x00, "mV", "DC", "mV", 100, 39999, 400, -400, false, 39, "399.99"},
        {"bar caps at 40", 50000, 0x00, 0x01, 0x00, "VDC", "DC", "V", 1, 50000, 40000, -40000, false, 40,
         "OL"},
        {"code without row", 1234, 0x01, 0x0C, 0x00, "", "", "", 1, 1234, 40000, 0, false, 1, "01234"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const MeterReading r = Decode(c.magnitude, c.rangeByte, c.functionByte, c.status).reading;
        EXPECT_EQ(toUtf8(r.functionName), c.functionName);
        EXPECT_EQ(toUtf8(r.mode), c.mode);
        EXPECT_EQ(toUtf8(r.unit), c.unit);
        EXPECT_EQ(r.divisor, c.divisor);
        EXPECT_EQ(r.raw, c.raw);
        EXPECT_FLOAT_EQ(r.value, static_cast<float>(c.raw) / static_cast<float>(c.divisor));
        EXPECT_DOUBLE_EQ(r.fullScale, c.fullScale);
        EXPECT_DOUBLE_EQ(r.lowLimit, c.lowLimit);
        EXPECT_EQ(r.shortScale, c.shortScale);
        EXPECT_EQ(r.barSegments, c.barSegments);
        EXPECT_EQ(toUtf8(r.displayText), c.displayText);
        EXPECT_EQ(r.functionCode, c.functionByte & 0x0F);
    }
}

TEST(ReadingDecoder, PanelTextsAndControls) {
    const std::string scale = toUtf8(kBarScaleText);
    struct Case {
        const char* what;
        uint16_t magnitude;
        uint8_t rangeByte, functionByte, status;
        const char* modeText;
        const char* trmsText;
        const char* autoText;
        const char* holdText;
        const char* peakText;
        std::string barText;
        std::string scaleText;
        bool modeShown, trmsShown, beepShown, diodeShown;
    };
    const Case cases[] = {
        {"VDC auto", 12345, 0x01, 0x01, 0x00, "DC", "", "AUTO", "", "", Bar(12), scale, true, false, false,
         false},
        {"peak hold manual", 12345, 0x01, 0x01, 0xB0, "DC", "", "", "HOLD", "PEAK", Bar(12), scale, true,
         false, false, false},
        {"VAC lights TRMS", 5000, 0x04, 0x00, 0x00, "AC", "TRMS", "AUTO", "", "", Bar(5), scale, true, true,
         false, false},
        {"AC+DC lights TRMS", 1234, 0x81, 0x01, 0x00, "AC+DC", "TRMS", "AUTO", "", "", Bar(1), scale, true,
         true, false, false},
        {"10A AC: TRMS, no AUTO", 5000, 0x00, 0x15, 0x00, "AC", "TRMS", "", "", "", Bar(5), scale, true, true,
         false, false},
        {"frequency hides mode", 1234, 0x00, 0x02, 0x00, "Frequency", "", "AUTO", "", "", Bar(1), scale,
         false, false, false, false},
        {"Temp: no bar, no scale", 250, 0x00, 0x04, 0x00, "TK", "", "", "", "", "", "", false, false, false,
         false},
        {"4-20 mA%: mode empty", 5000, 0x00, 0x07, 0x00, "", "", "", "", "", Bar(5), scale, false, false,
         false, false},
        {"DIODE symbol", 6000, 0x00, 0x13, 0x00, "DIODE", "", "", "", "", Bar(0), scale, false, false, false,
         true},
        {"BEEP symbol", 1234, 0x00, 0x23, 0x00, "BEEP", "", "", "", "", Bar(1), scale, false, false, true,
         false},
        {"mV: no AUTO", 1234, 0x00, 0x09, 0x00, "DC", "", "", "", "", Bar(1), scale, true, false, false,
         false},
        {"40 segments", 50000, 0x00, 0x01, 0x00, "DC", "", "AUTO", "", "", Bar(40), scale, true, false, false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const LiveReading live = Decode(c.magnitude, c.rangeByte, c.functionByte, c.status);
        const PanelState& p = live.panel;
        EXPECT_EQ(toUtf8(p.texts.modeText), c.modeText);
        EXPECT_EQ(toUtf8(p.texts.trmsText), c.trmsText);
        EXPECT_EQ(toUtf8(p.texts.unitText), toUtf8(live.reading.unit));
        EXPECT_EQ(toUtf8(p.texts.valueText), toUtf8(live.reading.displayText));
        EXPECT_EQ(toUtf8(p.texts.autoText), c.autoText);
        EXPECT_EQ(toUtf8(p.texts.holdText), c.holdText);
        EXPECT_EQ(toUtf8(p.texts.peakText), c.peakText);
        EXPECT_EQ(toUtf8(p.texts.barText), c.barText);
        EXPECT_EQ(toUtf8(p.texts.scaleText), c.scaleText);
        EXPECT_EQ(p.modeShown, c.modeShown);
        EXPECT_EQ(p.trmsShown, c.trmsShown);
        EXPECT_EQ(p.beepShown, c.beepShown);
        EXPECT_EQ(p.diodeShown, c.diodeShown);
        EXPECT_TRUE(p.valueShown);
        EXPECT_FALSE(p.noticeShown);
    }
}

TEST(ReadingDecoder, FlagsFollowTheStatusByteNotThePanel) {
    // mV suppresses the AUTO text, but the reading still says the meter ranges automatically.
    const MeterReading r = Decode(1234, 0x80, 0x09, 0x90).reading;
    EXPECT_TRUE(r.autoRange);
    EXPECT_TRUE(r.hold);
    EXPECT_TRUE(r.peak);
    EXPECT_TRUE(r.acPlusDc);
}

// Every range and function byte, at both ends of the count and with every flag, gives a sane panel.
TEST(ReadingDecoder, EveryByteCombinationStaysInBounds) {
    for (int rangeByte = 0; rangeByte < 256; ++rangeByte) {
        for (int functionByte = 0; functionByte < 256; ++functionByte) {
            for (const uint16_t magnitude : {uint16_t{0}, uint16_t{65535}}) {
                const LiveReading live = Decode(magnitude, static_cast<uint8_t>(rangeByte),
                                                static_cast<uint8_t>(functionByte), 0xFF);
                const MeterReading& r = live.reading;
                ASSERT_GE(r.barSegments, 0);
                ASSERT_LE(r.barSegments, 40);
                ASSERT_FALSE(r.displayText.empty()) << rangeByte << " " << functionByte;
                ASSERT_GT(r.fullScale, r.lowLimit);
                if (r.functionName != u"Temp") {
                    ASSERT_EQ(live.panel.texts.barText.size(), 1 + 2 * static_cast<size_t>(r.barSegments));
                }
            }
        }
    }
}

TEST(ReadingDecoder, RejectsShortFrames) {
    const auto frame = MakeLiveFrame(1, 1, 1, 0);
    EXPECT_FALSE(DecodeLiveFrame(frame.data(), 9).has_value());
    EXPECT_FALSE(DecodeLiveFrame(nullptr, 12).has_value());
    EXPECT_TRUE(DecodeLiveFrame(frame.data(), 10).has_value());
}

} // namespace
} // namespace calvora
