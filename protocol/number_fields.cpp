#include "protocol/number_fields.h"

#include "protocol/text.h"

#include <charconv>
#include <string>

namespace calvora {

Outcome<int32_t> ParseIntField(std::u16string_view text, int32_t minimum, int32_t maximum) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && blank(text[begin])) {
        ++begin;
    }
    while (end > begin && blank(text[end - 1])) {
        --end;
    }
    size_t i = begin;
    bool negative = false;
    if (i < end && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    int64_t magnitude = 0;
    const size_t firstDigit = i;
    for (; i < end && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude > int64_t{INT32_MAX} + 1) {
            break;
        }
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (i == firstDigit || i != end || value < INT32_MIN || value > INT32_MAX)
        return Failure(u"Enter an integer.");
    if (value < minimum || value > maximum)
        return Failure(u"Enter an integer between " + fromAscii(std::to_string(minimum)) + u" and " +
                       fromAscii(std::to_string(maximum)) + u".");
    return static_cast<int32_t>(value);
}

double LeadingNumber(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    std::string number;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        if (text[i] == u'-')
            number += '-';
        ++i;
    }
    bool digits = false;
    auto takeDigits = [&] {
        while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
            number += static_cast<char>(text[i]);
            digits = true;
            ++i;
        }
    };
    takeDigits();
    if (i < text.size() && text[i] == u'.') {
        number += '.';
        ++i;
        takeDigits();
    }
    if (!digits)
        return 0;
    double value = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    return result.ec == std::errc() ? value : 0;
}

} // namespace calvora
