// The meter's vocabulary: function codes, sub-modes and range indexes turned into names, units, a
// divisor and display limits. Shared by the live-reading decoder and the stored-reading decoder.
#pragma once

#include <cstdint>
#include <string>

namespace calvora {

// Bits of the range byte (P2) and the function byte (P3) of a reading.
inline constexpr uint8_t kRangeIndexMask = 0x07;
inline constexpr uint8_t kNegativeBit = 0x10;
inline constexpr uint8_t kAcPlusDcBit = 0x80;
inline constexpr uint8_t kFunctionCodeMask = 0x0F;

// What the function table, the AC+DC, frequency and duty rules and the limit rule make of one
// range byte and one function byte. Everything here is independent of the count.
struct FunctionInfo {
    uint8_t functionCode = 0;
    std::u16string functionName;
    std::u16string mode;
    std::u16string unit;
    int32_t divisor = 1;
    bool shortScale = false;  // 10000 counts at full scale instead of 40000
    bool fixedLimits = false; // DIODE, Temp and 4-20 mA% bring their own limits
    double fullScale = 0;
    double lowLimit = 0;
    // Panel effects of the table itself: VAC AC and 10A AC light TRMS, DIODE and BEEP show their
    // symbols, Temp has no bar graph.
    bool tableTrms = false;
    bool diode = false;
    bool beep = false;
    bool temperature = false;
};

FunctionInfo LookUpFunction(uint8_t rangeByte, uint8_t functionByte);

// Magnitude high * 256 + low, negated when the range byte's sign bit is set.
int32_t SignedCount(uint8_t magnitudeHigh, uint8_t magnitudeLow, uint8_t rangeByte);

// One reading out of the meter's memory. No status byte is stored, so no AUTO, HOLD or PEAK.
struct StoredReading {
    float value = 0;
    float fullScale = 0;
    int32_t lowLimit = 0; // truncated toward zero
    std::u16string functionName;
    std::u16string mode; // keeps "DC" for 4-20 mA%, unlike the live panel
    std::u16string unit;
};

// `record` points at 4 bytes: magnitude high, magnitude low, range byte, function byte.
StoredReading DecodeStoredReading(const uint8_t* record);

} // namespace calvora
