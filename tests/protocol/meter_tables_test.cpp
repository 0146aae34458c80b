#include "protocol/hex_text.h"
#include "protocol/meter_tables.h"
#include "protocol/pairing.h"
#include "protocol/text.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

// Ranges the live decoder's cases do not reach.
TEST(FunctionTable, RangesUnitsAndLimits) {
    struct Case {
        const char* what;
        uint8_t rangeByte, functionByte;
        const char* functionName;
        const char* mode;
        const char* unit;
        int32_t divisor;
        bool shortScale;
        double fullScale, lowLimit;
    };
    const Case cases[] = {
        {"VAC 4 V", 0x01, 0x00, "VAC", "AC", "V", 10000, false, 4, 0},
        {"VDC 40 V", 0x02, 0x01, "VDC", "DC", "V", 1000, false, 40, -40},
        {"VDC 400 V any sub-mode", 0x03, 0x31, "VDC", "DC", "V", 100, false, 400, -400},
        {"ohm", 0x00, 0x03, "RDBC", "R", "\xCE\xA9", 100, false, 400, 0},
        {"40 MOhm", 0x05, 0x03, "RDBC", "R", "M\xCE\xA9", 1000, false, 40, 0},
        {"40 nF", 0x01, 0x33, "RDBC", "CAP", "nF", 1000, false, 40, 0},
        {"40 mF", 0x07, 0x33, "RDBC", "CAP", "mF", 1000, false, 40, 0},
        {"CAP range 0 has no row", 0x00, 0x33, "RDBC", "CAP", "", 1, false, 40000, 0},
        {"10A duty", 0x02, 0x35, "10A", "Duty", "%", 100, true, 100, 0},
        {"mA 40 mA", 0x00, 0x06, "mA", "DC", "mA", 1000, false, 40, -40},
        {"uA 4000 uA", 0x01, 0x08, "uA", "DC", "uA", 10, false, 4000, -4000},
        {"mV AC", 0x00, 0x19, "mV", "AC", "mV", 100, false, 400, 0},
        {"HZ% 40 Hz", 0x00, 0x02, "HZ%", "Frequency", "Hz", 1000, false, 40, 0},
        {"HZ% 4 MHz", 0x05, 0x02, "HZ%", "Frequency", "MHz", 10000, false, 4, 0},
        {"code 15", 0x01, 0x3F, "", "", "", 1, false, 40000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FunctionInfo info = LookUpFunction(c.rangeByte, c.functionByte);
        EXPECT_EQ(toUtf8(info.functionName), c.functionName);
        EXPECT_EQ(toUtf8(info.mode), c.mode);
        EXPECT_EQ(toUtf8(info.unit), c.unit);
        EXPECT_EQ(info.divisor, c.divisor);
        EXPECT_EQ(info.shortScale, c.shortScale);
        EXPECT_DOUBLE_EQ(info.fullScale, c.fullScale);
        EXPECT_DOUBLE_EQ(info.lowLimit, c.lowLimit);
    }
}

TEST(StoredReading, DecodesRecordsLikeTheLiveTableWithoutPanelRules) {
    struct Case {
        const char* what;
        uint8_t record[4];
        float value;
        float fullScale;
        int32_t lowLimit;
        const char* functionName;
        const char* mode;
        const char* unit;
    };
    const Case cases[] = {
        {"VDC negative", {0x30, 0x39, 0x11, 0x01}, -1.2345f, 4, -4, "VDC", "DC", "V"},
        {"4-20 mA% keeps DC", {0x13, 0x88, 0x00, 0x07}, 50, 125, -25, "4-20 mA%", "DC", "%"},
        {"Temp F", {0x00, 0xFA, 0x00, 0x14}, 25, 2192, -58, "Temp", "TK", "F"},
        {"DIODE", {0x17, 0x70, 0x00, 0x13}, 0.6f, 2.51f, 0, "RDBC", "DIODE", "V"},
        {"duty", {0x13, 0x88, 0x02, 0x35}, 50, 100, 0, "10A", "Duty", "%"},
        {"100 MHz", {0x23, 0x28, 0x07, 0x02}, 90, 100, 0, "HZ%", "Frequency", "MHz"},
        {"KOhm", {0x04, 0xD2, 0x01, 0x03}, 0.1234f, 4, 0, "RDBC", "R", "K\xCE\xA9"},
        {"mF", {0x04, 0xD2, 0x07, 0x33}, 1.234f, 40, 0, "RDBC", "CAP", "mF"},
        {"AC+DC", {0x04, 0xD2, 0x81, 0x00}, 0.1234f, 4, 0, "VAC", "AC+DC", "V"},
        {"code without row", {0xFF, 0xFF, 0x10, 0x0A}, -65535, 40000, 0, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const StoredReading r = DecodeStoredReading(c.record);
        EXPECT_FLOAT_EQ(r.value, c.value);
        EXPECT_FLOAT_EQ(r.fullScale, c.fullScale);
        EXPECT_EQ(r.lowLimit, c.lowLimit);
        EXPECT_EQ(toUtf8(r.functionName), c.functionName);
        EXPECT_EQ(toUtf8(r.mode), c.mode);
        EXPECT_EQ(toUtf8(r.unit), c.unit);
    }
}

TEST(HexText, RoundTripsAndRejectsNonDigits) {
    const uint8_t bytes[] = {0x00, 0xD5, 0xF0, 0x0A, 0xFF};
    EXPECT_EQ(ToHexText(bytes, sizeof bytes), "00d5f00aff");
    EXPECT_EQ(HexTextToBytes("00D5f00aFf"), std::vector<uint8_t>(std::begin(bytes), std::end(bytes)));
    EXPECT_EQ(HexTextToBytes("00d5f"), (std::vector<uint8_t>{0x00, 0xD5}));
    EXPECT_FALSE(HexTextToBytes("00g5").has_value());
}

TEST(Pairing, AcknowledgementLooksAtBytesZeroAndThreeOnly) {
    const uint8_t ack[] = {0x05, 0x99, 0x99, 0x4C, 0x12};
    EXPECT_TRUE(IsPairAcknowledgement(ack, 4));
    EXPECT_TRUE(IsPairAcknowledgement(ack, 5));
    EXPECT_FALSE(IsPairAcknowledgement(ack, 3));
    // The request itself is not an acknowledgement: its byte 3 is 08.
    EXPECT_FALSE(IsPairAcknowledgement(kPairRequest.data(), static_cast<int>(kPairRequest.size())));
}

} // namespace
} // namespace calvora
