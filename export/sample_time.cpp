#include "export/sample_time.h"

namespace calvora {

namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The number of `count` digits at `at`, or -1.
int Digits(std::u16string_view text, size_t at, size_t count) {
    int number = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (!IsDigit(text[i]))
            return -1;
        number = number * 10 + (text[i] - u'0');
    }
    return number;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool Valid(const CalendarTime& t) {
    return t.year >= 0 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

bool Separators(std::u16string_view text, std::initializer_list<std::pair<size_t, char16_t>> marks) {
    for (const auto& [at, mark] : marks) {
        if (text[at] != mark)
            return false;
    }
    return true;
}

void PutDigits(std::u16string& out, int number, int count) {
    for (int divisor = count == 4 ? 1000 : 10; divisor > 0; divisor /= 10)
        out += static_cast<char16_t>(u'0' + number / divisor % 10);
}

} // namespace

std::optional<CalendarTime> ParseRecordedTime(std::u16string_view text) {
    // " 12/07/26 22:05:20"
    if (text.size() != 18 ||
        !Separators(text, {{0, u' '}, {3, u'/'}, {6, u'/'}, {9, u' '}, {12, u':'}, {15, u':'}}))
        return std::nullopt;
    const int year = Digits(text, 7, 2);
    const CalendarTime time{year < 0 ? -1 : 2000 + year, Digits(text, 1, 2),  Digits(text, 4, 2),
                            Digits(text, 10, 2),         Digits(text, 13, 2), Digits(text, 16, 2)};
    return Valid(time) ? std::optional(time) : std::nullopt;
}

std::optional<CalendarTime> ParseIsoTime(std::u16string_view text) {
    // "2026-12-07T22:05:20", perhaps with ".1" to ".125"
    constexpr size_t kWhole = 19;
    if (text.size() < kWhole || text.size() == kWhole + 1 || text.size() > kWhole + 4 ||
        !Separators(text, {{4, u'-'}, {7, u'-'}, {10, u'T'}, {13, u':'}, {16, u':'}}))
        return std::nullopt;
    CalendarTime time{Digits(text, 0, 4),  Digits(text, 5, 2),  Digits(text, 8, 2),
                      Digits(text, 11, 2), Digits(text, 14, 2), Digits(text, 17, 2)};
    if (text.size() > kWhole) {
        const size_t digits = text.size() - kWhole - 1;
        const int fraction = text[kWhole] == u'.' ? Digits(text, kWhole + 1, digits) : -1;
        if (fraction < 0)
            return std::nullopt;
        time.millisecond = fraction * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
    }
    return Valid(time) ? std::optional(time) : std::nullopt;
}

std::u16string IsoTimeText(const CalendarTime& time) {
    std::u16string out;
    out.reserve(19);
    PutDigits(out, time.year, 4);
    out += u'-';
    PutDigits(out, time.month, 2);
    out += u'-';
    PutDigits(out, time.day, 2);
    out += u'T';
    PutDigits(out, time.hour, 2);
    out += u':';
    PutDigits(out, time.minute, 2);
    out += u':';
    PutDigits(out, time.second, 2);
    return out;
}

std::u16string RecordedTimeText(const CalendarTime& time) {
    std::u16string out;
    out.reserve(18);
    out += u' ';
    PutDigits(out, time.month, 2);
    out += u'/';
    PutDigits(out, time.day, 2);
    out += u'/';
    PutDigits(out, time.year % 100, 2);
    out += u' ';
    PutDigits(out, time.hour, 2);
    out += u':';
    PutDigits(out, time.minute, 2);
    out += u':';
    PutDigits(out, time.second, 2);
    return out;
}

std::u16string ExportedTime(std::u16string_view timeText) {
    if (const std::optional<CalendarTime> time = ParseRecordedTime(timeText))
        return IsoTimeText(*time);
    const size_t first = timeText.find_first_not_of(u' ');
    if (first == std::u16string_view::npos)
        return {};
    const size_t last = timeText.find_last_not_of(u' ');
    return std::u16string(timeText.substr(first, last - first + 1));
}

std::u16string ImportedTime(std::u16string_view exported) {
    const std::optional<CalendarTime> time = ParseIsoTime(exported);
    if (time && exported.size() == 19 && time->year >= 2000 && time->year <= 2099)
        return RecordedTimeText(*time);
    return std::u16string(exported);
}

} // namespace calvora
