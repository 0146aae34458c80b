#include "protocol/formatters.h"

#include "protocol/text.h"

#include <cmath>
#include <cstdio>

namespace calvora {

std::u16string FormatDigits(int32_t count, int32_t divisor) {
    const bool negative = count < 0;
    const int64_t c = negative ? -static_cast<int64_t>(count) : count;
    const int d1 = static_cast<int>(c / 10000);
    const int d2 = static_cast<int>((c % 10000) / 1000);
    const int d3 = static_cast<int>((c % 1000) / 100);
    const int d4 = static_cast<int>((c % 100) / 10);
    const int d5 = static_cast<int>(c % 10);
    char buffer[32];
    switch (divisor) {
    case 1:
        std::snprintf(buffer, sizeof buffer, "%d%d%d%d%d", d1, d2, d3, d4, d5);
        break;
    case 10:
        std::snprintf(buffer, sizeof buffer, "%d%d%d%d.%d", d1, d2, d3, d4, d5);
        break;
    case 100:
        std::snprintf(buffer, sizeof buffer, "%d%d%d.%d%d", d1, d2, d3, d4, d5);
        break;
    case 1000:
        std::snprintf(buffer, sizeof buffer, "%d%d.%d%d%d", d1, d2, d3, d4, d5);
        break;
    case 10000:
        std::snprintf(buffer, sizeof buffer, "%d.%d%d%d%d", d1, d2, d3, d4, d5);
        break;
    default:
        return {};
    }
    std::u16string text = fromAscii(buffer);
    return negative ? u"-" + text : text;
}

std::u16string FormatStoredValue(double value, double fullScale, int32_t lowLimit) {
    if (const std::u16string_view overload = StoredOverloadText(value, fullScale, lowLimit);
        !overload.empty())
        return std::u16string(overload);
    const double magnitude = std::fabs(value);
    const char* format = magnitude >= 1000  ? "%.1f"
                         : magnitude >= 100 ? "%.2f"
                         : magnitude >= 10  ? "%.3f"
                                            : "%.4f";
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, value);
    return fromAscii(buffer);
}

std::u16string_view StoredOverloadText(double value, double fullScale, int32_t lowLimit) {
    if (static_cast<double>(lowLimit) > value)
        return u"-OL";
    if (fullScale < value)
        return u"OL";
    return {};
}

std::u16string GroupedNumber(uint64_t number) {
    const std::string digits = std::to_string(number);
    std::u16string grouped;
    grouped.reserve(digits.size() + digits.size() / 3);
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += u',';
        grouped += static_cast<char16_t>(digits[i]);
    }
    return grouped;
}

} // namespace calvora
