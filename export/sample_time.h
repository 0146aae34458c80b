// The time column of the exports: a sample's time text " mm/dd/yy HH:MM:SS" (local time, two-digit year)
// becomes the ISO 8601 local time "20yy-mm-ddTHH:MM:SS", and back when a csv export is read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace calvora {

struct CalendarTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    bool operator==(const CalendarTime&) const = default;
};

// A blank, then "mm/dd/yy HH:MM:SS" with a real date of 2000-2099 and a time of day, and nothing more.
std::optional<CalendarTime> ParseRecordedTime(std::u16string_view text);
// "YYYY-MM-DDTHH:MM:SS" with a real date and a time of day, and nothing more but, for sources that keep
// finer times, a fraction of one to three digits (".125").
std::optional<CalendarTime> ParseIsoTime(std::u16string_view text);

std::u16string IsoTimeText(const CalendarTime& time);
// " mm/dd/yy HH:MM:SS"; the year must lie in 2000-2099.
std::u16string RecordedTimeText(const CalendarTime& time);

// The exports' time column: the ISO time of a recorded time text, else the text without leading and
// trailing blanks.
std::u16string ExportedTime(std::u16string_view timeText);
// What the csv import stores for an exported time: the recorded form of an ISO time of 2000-2099 in whole
// seconds, else the text as it is. ExportedTime(ImportedTime(t)) == t for every t that ExportedTime gives.
std::u16string ImportedTime(std::u16string_view exported);

} // namespace calvora
