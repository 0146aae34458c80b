// The wall-clock axis of a chart: which ticks to draw for a span of time across so many pixels, and what
// their labels read. Pure arithmetic on UTC milliseconds; the local clock comes in as a function giving its
// offset from UTC, and the labels' widths as a function measuring them, so the rules are tested without a
// time zone database or a font.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace calvora {

// Seconds east of UTC that the local clock reads at the UTC instant `utcMs`.
using LocalOffset = std::function<int32_t(int64_t utcMs)>;
// The C library's local time (the TZ variable and the system's zone).
LocalOffset SystemLocalOffset();
LocalOffset FixedLocalOffset(int32_t seconds);

enum class TimeUnit { Millisecond, Second, Minute, Hour, Day, Week, Month, Year };

struct TimeStep {
    TimeUnit unit = TimeUnit::Second;
    int32_t count = 1;

    // Its length in milliseconds; a month counts 30 days and a year 365.
    int64_t nominalMs() const;
    bool operator==(const TimeStep&) const = default;
};

// What the labels read: "08:15:02.125", "08:15:02", "08:15" (where a tick falls on local midnight it reads
// the date instead, "09 Dec"), "09 Dec", "Dec 2026", "2026".
enum class TimeLabelStyle { Milliseconds, Seconds, Minutes, Days, Months, Years };

struct TimeTicks {
    TimeStep step;
    TimeLabelStyle style = TimeLabelStyle::Seconds;
    std::vector<int64_t> times; // UTC milliseconds, ascending, within the span
    std::vector<std::string> labels;
    // What the labels leave out, said once beside the axis: the date of the span's start under
    // clock-time labels ("09 Dec 2026"), its year under day labels ("2026"); empty otherwise.
    std::string context;
};

using LabelWidth = std::function<int(std::string_view label)>;

// The finest step from 1 ms up to years whose ticks, placed on whole steps of local time across `widthPx`
// pixels for [startMs, endMs], leave at least `gapPx` between neighbouring labels centred on them. When even
// a year per tick is too crowded the ticks are left empty.
TimeTicks ChooseTimeTicks(int64_t startMs, int64_t endMs, int widthPx, const LabelWidth& width,
                          const LocalOffset& offset, int gapPx = 12);

// One label in `style` for the local time `offsetSeconds` east of UTC.
std::string FormatTimeLabel(int64_t utcMs, TimeLabelStyle style, int32_t offsetSeconds);

// The civil date of a day counted from 1970-01-01 (day 0), and back.
struct CivilDate {
    int32_t year = 1970;
    int32_t month = 1; // 1..12
    int32_t day = 1;   // 1..31
};
CivilDate CivilFromDays(int64_t days);
int64_t DaysFromCivil(const CivilDate& date);

// Floor division for times before 1970 as well.
inline int64_t FloorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

} // namespace calvora
