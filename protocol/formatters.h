// The meter's value texts: the live digit text and the text of a stored sample value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace calvora {

// Five digits with leading zeros and the decimal point the divisor implies ("0.1234" for 1234/10000);
// a "-" in front for negative counts; empty for a divisor other than 1, 10, 100, 1000 or 10000.
std::u16string FormatDigits(int32_t count, int32_t divisor);

// Decimals follow the magnitude ("%.1f" from 1000 up ... "%.4f" below 10); "OL" above fullScale,
// then "-OL" below lowLimit. Used by the data list, the text export and the cursor readout.
std::u16string FormatStoredValue(double value, double fullScale, int32_t lowLimit);

// The overload part of FormatStoredValue alone: "OL" above fullScale, "-OL" below lowLimit (which wins when
// both hold), empty otherwise. A value that is not a number is neither.
std::u16string_view StoredOverloadText(double value, double fullScale, int32_t lowLimit);

// "1,234,567": a count as messages word it, thousands grouped with commas.
std::u16string GroupedNumber(uint64_t number);

} // namespace calvora
