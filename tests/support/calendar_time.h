// A calendar moment for tests that need a fixed date: the fields of std::tm from a readable date.
#pragma once

#include <ctime>

namespace calvora::testing {

// year as written (2026), month 1..12; daylight saving left for the C library to work out.
inline std::tm CalendarTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    when.tm_isdst = -1;
    return when;
}

} // namespace calvora::testing
