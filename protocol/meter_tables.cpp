#include "protocol/meter_tables.h"

#include <cmath>

namespace calvora {

namespace {

struct RangeRow {
    int32_t divisor; // 0: no row for this range index
    const char16_t* unit;
};

// Index = range index r. A range without a row keeps divisor 1 and the unit set so far.
constexpr RangeRow kVoltRanges[8] = {{0, nullptr}, {10000, u"V"}, {1000, u"V"}, {100, u"V"},
                                     {10, u"V"},   {0, nullptr},  {0, nullptr}, {0, nullptr}};
constexpr RangeRow kResistanceRanges[8] = {{100, u"\u03A9"},  {10000, u"K\u03A9"}, {1000, u"K\u03A9"},
                                           {100, u"K\u03A9"}, {10000, u"M\u03A9"}, {1000, u"M\u03A9"},
                                           {0, nullptr},      {0, nullptr}};
constexpr RangeRow kCapacitanceRanges[8] = {{0, nullptr},  {1000, u"nF"}, {100, u"nF"}, {10000, u"uF"},
                                            {1000, u"uF"}, {100, u"uF"},  {10, u"uF"},  {1000, u"mF"}};
constexpr RangeRow kFrequencyRanges[8] = {{1000, u"Hz"}, {100, u"Hz"},    {10000, u"KHz"}, {1000, u"KHz"},
                                          {100, u"KHz"}, {10000, u"MHz"}, {1000, u"MHz"},  {100, u"MHz"}};

void ApplyRange(FunctionInfo& info, const RangeRow (&table)[8], int r) {
    if (table[r].divisor == 0)
        return;
    info.divisor = table[r].divisor;
    info.unit = table[r].unit;
}

void ApplyVoltRange(FunctionInfo& info, int r) {
    ApplyRange(info, kVoltRanges, r);
    if (r == 4)
        info.shortScale = true;
}

void SetFixedLimits(FunctionInfo& info, double lowLimit, double fullScale) {
    info.fixedLimits = true;
    info.lowLimit = lowLimit;
    info.fullScale = fullScale;
}

void ApplyFunctionTable(FunctionInfo& info, int code, int s, int r) {
    switch (code) {
    case 0:
        info.functionName = u"VAC";
        if (s == 0) {
            info.mode = u"AC";
            info.unit = u"V";
            info.tableTrms = true;
            ApplyVoltRange(info, r);
        } else if (s == 1) {
            info.mode = u"Frequency";
        } else if (s == 2) {
            info.mode = u"Duty";
        }
        break;
    case 1:
        info.functionName = u"VDC";
        info.mode = u"DC";
        info.unit = u"V";
        ApplyVoltRange(info, r);
        break;
    case 2:
        info.functionName = u"HZ%";
        info.mode = s != 0 ? u"Duty" : u"Frequency";
        break;
    case 3:
        info.functionName = u"RDBC";
        if (s == 0) {
            info.mode = u"R";
            ApplyRange(info, kResistanceRanges, r);
        } else if (s == 1) {
            info.mode = u"DIODE";
            info.divisor = 10000;
            info.unit = u"V";
            info.diode = true;
            SetFixedLimits(info, 0, 2.51);
        } else if (s == 2) {
            info.mode = u"BEEP";
            info.divisor = 100;
            info.unit = u"\u03A9";
            info.beep = true;
        } else {
            info.mode = u"CAP";
            ApplyRange(info, kCapacitanceRanges, r);
        }
        break;
    case 4:
        info.functionName = u"Temp";
        info.mode = u"TK";
        info.divisor = 10;
        info.temperature = true;
        if (s != 0) {
            info.unit = u"F";
            SetFixedLimits(info, -58, 2192);
        } else {
            info.unit = u"C";
            SetFixedLimits(info, -50, 1200);
        }
        break;
    case 5:
        info.functionName = u"10A";
        if (s == 0 || s == 1) {
            info.mode = s == 0 ? u"DC" : u"AC";
            info.unit = u"A";
            info.divisor = 1000;
            info.shortScale = true;
            info.tableTrms = s == 1;
        } else {
            info.mode = s == 2 ? u"Frequency" : u"Duty";
        }
        break;
    case 6:
        info.functionName = u"mA";
        info.unit = u"mA";
        info.divisor = r == 1 ? 100 : 1000;
        info.mode = s != 0 ? u"AC" : u"DC";
        break;
    case 7:
        info.functionName = u"4-20 mA%";
        info.divisor = 100;
        info.unit = u"%";
        info.mode = u"DC";
        SetFixedLimits(info, -25, 125);
        break;
    case 8:
        info.functionName = u"uA";
        info.unit = u"uA";
        info.mode = s != 0 ? u"AC" : u"DC";
        info.divisor = r == 1 ? 10 : 100;
        break;
    case 9:
        info.functionName = u"mV";
        info.divisor = 100;
        info.unit = u"mV";
        info.mode = s != 0 ? u"AC" : u"DC";
        break;
    default:
        break; // 10-15 have no row
    }
}

} // namespace

FunctionInfo LookUpFunction(uint8_t rangeByte, uint8_t functionByte) {
    FunctionInfo info;
    const int r = rangeByte & kRangeIndexMask;
    const int code = functionByte & kFunctionCodeMask;
    const int s = (functionByte >> 4) & 0x03;
    info.functionCode = static_cast<uint8_t>(code);
    ApplyFunctionTable(info, code, s, r);

    // AC+DC comes before the frequency rule, so an AC+DC frequency reading gets no range.
    if (rangeByte & kAcPlusDcBit)
        info.mode = u"AC+DC";
    if (info.mode == u"Frequency") {
        ApplyRange(info, kFrequencyRanges, r);
        if (r == 7)
            info.shortScale = true;
    }
    if (info.mode == u"Duty") {
        info.divisor = 100;
        info.shortScale = true;
        info.unit = u"%";
    }

    const bool dc = info.mode == u"DC";
    if (info.shortScale) {
        info.fullScale = 10000 / info.divisor;
        info.lowLimit = dc ? -(10000 / info.divisor) : 0;
    } else if (!info.fixedLimits) {
        info.fullScale = 40000 / info.divisor;
        info.lowLimit = dc ? -(40000 / info.divisor) : 0;
    }
    return info;
}

int32_t SignedCount(uint8_t magnitudeHigh, uint8_t magnitudeLow, uint8_t rangeByte) {
    const int32_t magnitude = magnitudeHigh * 256 + magnitudeLow;
    return (rangeByte & kNegativeBit) ? -magnitude : magnitude;
}

StoredReading DecodeStoredReading(const uint8_t* record) {
    const FunctionInfo info = LookUpFunction(record[2], record[3]);
    StoredReading reading;
    const int32_t count = SignedCount(record[0], record[1], record[2]);
    reading.value = static_cast<float>(count) / static_cast<float>(info.divisor);
    reading.fullScale = static_cast<float>(info.fullScale);
    reading.lowLimit = static_cast<int32_t>(std::trunc(info.lowLimit));
    reading.functionName = info.functionName;
    reading.mode = info.mode;
    reading.unit = info.unit;
    return reading;
}

} // namespace calvora
