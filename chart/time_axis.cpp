#include "chart/time_axis.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

namespace calvora {

namespace {

constexpr int64_t kSecondMs = 1000;
constexpr int64_t kMinuteMs = 60 * kSecondMs;
constexpr int64_t kHourMs = 60 * kMinuteMs;
constexpr int64_t kDayMs = 24 * kHourMs;

constexpr std::array<const char*, 12> kMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// From the finest up; the first that leaves the labels room wins.
constexpr TimeStep kSteps[] = {
    {TimeUnit::Millisecond, 1},   {TimeUnit::Millisecond, 2},   {TimeUnit::Millisecond, 5},
    {TimeUnit::Millisecond, 10},  {TimeUnit::Millisecond, 20},  {TimeUnit::Millisecond, 50},
    {TimeUnit::Millisecond, 100}, {TimeUnit::Millisecond, 200}, {TimeUnit::Millisecond, 500},
    {TimeUnit::Second, 1},        {TimeUnit::Second, 2},        {TimeUnit::Second, 5},
    {TimeUnit::Second, 10},       {TimeUnit::Second, 15},       {TimeUnit::Second, 30},
    {TimeUnit::Minute, 1},        {TimeUnit::Minute, 2},        {TimeUnit::Minute, 5},
    {TimeUnit::Minute, 10},       {TimeUnit::Minute, 15},       {TimeUnit::Minute, 30},
    {TimeUnit::Hour, 1},          {TimeUnit::Hour, 2},          {TimeUnit::Hour, 3},
    {TimeUnit::Hour, 6},          {TimeUnit::Hour, 12},         {TimeUnit::Day, 1},
    {TimeUnit::Day, 2},           {TimeUnit::Week, 1},          {TimeUnit::Week, 2},
    {TimeUnit::Month, 1},         {TimeUnit::Month, 2},         {TimeUnit::Month, 3},
    {TimeUnit::Month, 6},         {TimeUnit::Year, 1},          {TimeUnit::Year, 2},
    {TimeUnit::Year, 5},          {TimeUnit::Year, 10},         {TimeUnit::Year, 20},
    {TimeUnit::Year, 50},         {TimeUnit::Year, 100},
};

TimeLabelStyle StyleOf(const TimeStep& step) {
    switch (step.unit) {
    case TimeUnit::Millisecond:
        return TimeLabelStyle::Milliseconds;
    case TimeUnit::Second:
        return TimeLabelStyle::Seconds;
    case TimeUnit::Minute:
    case TimeUnit::Hour:
        return TimeLabelStyle::Minutes;
    case TimeUnit::Day:
    case TimeUnit::Week:
        return TimeLabelStyle::Days;
    case TimeUnit::Month:
        return TimeLabelStyle::Months;
    case TimeUnit::Year:
        return TimeLabelStyle::Years;
    }
    return TimeLabelStyle::Seconds;
}

// The UTC instant at which the local clock reads `localMs`. Near a change of offset the local time may not
// exist or exist twice; either answer is one the axis can live with.
int64_t UtcOfLocal(int64_t localMs, const LocalOffset& offset) {
    int64_t utc = localMs - int64_t{offset(localMs)} * kSecondMs;
    utc = localMs - int64_t{offset(utc)} * kSecondMs;
    return utc;
}

int64_t LocalOf(int64_t utcMs, const LocalOffset& offset) {
    return utcMs + int64_t{offset(utcMs)} * kSecondMs;
}

// Ticks of a step shorter than a day: whole steps of the local clock, counted from local midnight.
void FixedTicks(int64_t startMs, int64_t endMs, int64_t stepMs, const LocalOffset& offset,
                std::vector<int64_t>& out) {
    const int64_t local = LocalOf(startMs, offset);
    const int64_t day = FloorDiv(local, kDayMs) * kDayMs;
    int64_t tickLocal = day + (FloorDiv(local - day - 1, stepMs) + 1) * stepMs;
    // The start's offset holds for the whole span but for a change of offset inside it; the labels
    // read the real local time either way.
    const int64_t shift = local - startMs;
    for (int64_t t = tickLocal - shift; t <= endMs; t += stepMs) {
        if (t >= startMs)
            out.push_back(t);
    }
}

// Ticks of a day or longer: local midnights on the calendar.
void CalendarTicks(int64_t startMs, int64_t endMs, const TimeStep& step, const LocalOffset& offset,
                   std::vector<int64_t>& out) {
    int64_t day = FloorDiv(LocalOf(startMs, offset), kDayMs);
    const int64_t lastDay = FloorDiv(LocalOf(endMs, offset), kDayMs);
    CivilDate date = CivilFromDays(day);
    auto push = [&](int64_t tickDay) {
        const int64_t t = UtcOfLocal(tickDay * kDayMs, offset);
        if (t >= startMs && t <= endMs && (out.empty() || t > out.back()))
            out.push_back(t);
    };
    switch (step.unit) {
    case TimeUnit::Day:
        for (int64_t d = FloorDiv(day, step.count) * step.count; d <= lastDay; d += step.count)
            push(d);
        break;
    case TimeUnit::Week: {
        // Weeks begin on Mondays; 1970-01-01 was a Thursday, so day 4 was a Monday.
        const int64_t stride = 7 * int64_t{step.count};
        for (int64_t d = FloorDiv(day - 4, stride) * stride + 4; d <= lastDay; d += stride)
            push(d);
        break;
    }
    case TimeUnit::Month: {
        int64_t index = int64_t{date.year} * 12 + (date.month - 1);
        index = FloorDiv(index, step.count) * step.count;
        for (;; index += step.count) {
            const int64_t d = DaysFromCivil(
                {static_cast<int32_t>(FloorDiv(index, 12)), static_cast<int32_t>(index % 12 + 1), 1});
            if (d > lastDay)
                break;
            push(d);
        }
        break;
    }
    case TimeUnit::Year: {
        for (int64_t year = FloorDiv(date.year, step.count) * step.count;; year += step.count) {
            const int64_t d = DaysFromCivil({static_cast<int32_t>(year), 1, 1});
            if (d > lastDay)
                break;
            push(d);
        }
        break;
    }
    default:
        break;
    }
}

struct LocalFields {
    CivilDate date;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

LocalFields FieldsOf(int64_t utcMs, int32_t offsetSeconds) {
    const int64_t local = utcMs + int64_t{offsetSeconds} * kSecondMs;
    const int64_t day = FloorDiv(local, kDayMs);
    const int64_t inDay = local - day * kDayMs;
    LocalFields fields;
    fields.date = CivilFromDays(day);
    fields.hour = static_cast<int>(inDay / kHourMs);
    fields.minute = static_cast<int>(inDay / kMinuteMs % 60);
    fields.second = static_cast<int>(inDay / kSecondMs % 60);
    fields.millisecond = static_cast<int>(inDay % kSecondMs);
    return fields;
}

std::string DayMonth(const CivilDate& date) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d %s", date.day, kMonthNames[static_cast<size_t>(date.month - 1)]);
    return text;
}

} // namespace

int64_t TimeStep::nominalMs() const {
    switch (unit) {
    case TimeUnit::Millisecond:
        return count;
    case TimeUnit::Second:
        return count * kSecondMs;
    case TimeUnit::Minute:
        return count * kMinuteMs;
    case TimeUnit::Hour:
        return count * kHourMs;
    case TimeUnit::Day:
        return count * kDayMs;
    case TimeUnit::Week:
        return count * 7 * kDayMs;
    case TimeUnit::Month:
        return count * 30 * kDayMs;
    case TimeUnit::Year:
        return count * 365 * kDayMs;
    }
    return kSecondMs;
}

LocalOffset SystemLocalOffset() {
    return [](int64_t utcMs) {
        const std::time_t seconds = static_cast<std::time_t>(FloorDiv(utcMs, kSecondMs));
        std::tm local{};
        if (localtime_r(&seconds, &local) == nullptr)
            return int32_t{0};
        return static_cast<int32_t>(local.tm_gmtoff);
    };
}

LocalOffset FixedLocalOffset(int32_t seconds) {
    return [seconds](int64_t) { return seconds; };
}

// Days from civil and back: the proleptic Gregorian calendar in 400-year eras.
int64_t DaysFromCivil(const CivilDate& date) {
    const int64_t y = int64_t{date.year} - (date.month <= 2 ? 1 : 0);
    const int64_t era = FloorDiv(y, 400);
    const int64_t yearOfEra = y - era * 400;
    const int64_t m = date.month;
    const int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

CivilDate CivilFromDays(int64_t days) {
    const int64_t z = days + 719468;
    const int64_t era = FloorDiv(z, 146097);
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return {static_cast<int32_t>(year), static_cast<int32_t>(month), static_cast<int32_t>(day)};
}

std::string FormatTimeLabel(int64_t utcMs, TimeLabelStyle style, int32_t offsetSeconds) {
    const LocalFields f = FieldsOf(utcMs, offsetSeconds);
    char text[32];
    switch (style) {
    case TimeLabelStyle::Milliseconds:
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", f.hour, f.minute, f.second, f.millisecond);
        return text;
    case TimeLabelStyle::Seconds:
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", f.hour, f.minute, f.second);
        return text;
    case TimeLabelStyle::Minutes:
        if (f.hour == 0 && f.minute == 0 && f.second == 0 && f.millisecond == 0)
            return DayMonth(f.date);
        std::snprintf(text, sizeof text, "%02d:%02d", f.hour, f.minute);
        return text;
    case TimeLabelStyle::Days:
        return DayMonth(f.date);
    case TimeLabelStyle::Months:
        std::snprintf(text, sizeof text, "%s %d", kMonthNames[static_cast<size_t>(f.date.month - 1)],
                      f.date.year);
        return text;
    case TimeLabelStyle::Years:
        std::snprintf(text, sizeof text, "%d", f.date.year);
        return text;
    }
    return {};
}

TimeTicks ChooseTimeTicks(int64_t startMs, int64_t endMs, int widthPx, const LabelWidth& width,
                          const LocalOffset& offset, int gapPx) {
    TimeTicks chosen;
    if (endMs <= startMs || widthPx <= 0)
        return chosen;
    const double span = static_cast<double>(endMs - startMs);
    const double pixelsPerMs = widthPx / span;
    // No label is narrower than two characters' room; steps that would crowd more ticks than that into the
    // width are not even laid out.
    const int narrowest = std::max(1, width("00") + gapPx);
    for (const TimeStep& step : kSteps) {
        if (static_cast<double>(step.nominalMs()) * pixelsPerMs < narrowest)
            continue;
        TimeTicks ticks;
        ticks.step = step;
        ticks.style = StyleOf(step);
        if (step.nominalMs() < kDayMs)
            FixedTicks(startMs, endMs, step.nominalMs(), offset, ticks.times);
        else
            CalendarTicks(startMs, endMs, step, offset, ticks.times);
        std::vector<int> widths;
        widths.reserve(ticks.times.size());
        for (const int64_t t : ticks.times) {
            ticks.labels.push_back(FormatTimeLabel(t, ticks.style, offset(t)));
            widths.push_back(width(ticks.labels.back()));
        }
        bool fits = true;
        for (size_t i = 1; i < ticks.times.size() && fits; ++i) {
            const double apart = static_cast<double>(ticks.times[i] - ticks.times[i - 1]) * pixelsPerMs;
            fits = apart >= (widths[i - 1] + widths[i]) / 2.0 + gapPx;
        }
        if (!fits)
            continue;
        const LocalFields start = FieldsOf(startMs, offset(startMs));
        if (ticks.style <= TimeLabelStyle::Minutes)
            ticks.context = DayMonth(start.date) + " " + std::to_string(start.date.year);
        else if (ticks.style == TimeLabelStyle::Days)
            ticks.context = std::to_string(start.date.year);
        return ticks;
    }
    chosen.step = {TimeUnit::Year, 100};
    chosen.style = TimeLabelStyle::Years;
    return chosen;
}

} // namespace calvora
