#include "chart/time_axis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace calvora {
namespace {

constexpr int64_t kSecond = 1000;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;
constexpr int64_t kDay = 24 * kHour;
// 2026-12-09T08:15:02.125Z
constexpr int64_t kStart = 1796804102125;

// The chart's label font: about seven pixels a character.
int SevenPerChar(std::string_view text) {
    return static_cast<int>(text.size()) * 7;
}

TEST(TimeAxis, TheStepFollowsTheVisibleSpan) {
    struct Case {
        int64_t span;
        TimeStep step;
        TimeLabelStyle style;
        const char* context;
    };
    const Case cases[] = {
        {kSecond, {TimeUnit::Millisecond, 100}, TimeLabelStyle::Milliseconds, "09 Dec 2026"},
        {10 * kSecond, {TimeUnit::Second, 1}, TimeLabelStyle::Seconds, "09 Dec 2026"},
        {kMinute, {TimeUnit::Second, 5}, TimeLabelStyle::Seconds, "09 Dec 2026"},
        {10 * kMinute, {TimeUnit::Second, 30}, TimeLabelStyle::Seconds, "09 Dec 2026"},
        {kHour, {TimeUnit::Minute, 2}, TimeLabelStyle::Minutes, "09 Dec 2026"},
        {6 * kHour, {TimeUnit::Minute, 10}, TimeLabelStyle::Minutes, "09 Dec 2026"},
        {kDay, {TimeUnit::Hour, 1}, TimeLabelStyle::Minutes, "09 Dec 2026"},
        {7 * kDay, {TimeUnit::Hour, 6}, TimeLabelStyle::Minutes, "09 Dec 2026"},
        {30 * kDay, {TimeUnit::Day, 1}, TimeLabelStyle::Days, "2026"},
        {365 * kDay, {TimeUnit::Week, 2}, TimeLabelStyle::Days, "2026"},
        {10 * 365 * kDay, {TimeUnit::Month, 6}, TimeLabelStyle::Months, ""},
    };
    for (const Case& c : cases) {
        const TimeTicks ticks =
            ChooseTimeTicks(kStart, kStart + c.span, 1700, SevenPerChar, FixedLocalOffset(0));
        EXPECT_EQ(ticks.step, c.step)
            << c.span << " ms: got " << static_cast<int>(ticks.step.unit) << " x " << ticks.step.count;
        EXPECT_EQ(ticks.style, c.style) << c.span;
        EXPECT_EQ(ticks.context, c.context) << c.span;
        EXPECT_GE(ticks.times.size(), 2u) << c.span;
    }
}

// Every span from one second to thirty days, at several widths and in several time zones (one of them
// changing its offset in the middle of the span, as daylight saving does).
TEST(TimeAxis, LabelsNeverOverlapAndTicksSitOnWholeStepsOfLocalTime) {
    const LocalOffset zones[] = {
        FixedLocalOffset(0),
        FixedLocalOffset(5 * 3600 + 1800),
        FixedLocalOffset(-5 * 3600),
        [](int64_t utc) { return utc < kStart + 2 * kDay ? 3600 : 7200; },
    };
    int checked = 0;
    for (double span = kSecond; span <= 30.0 * kDay; span *= 1.37) {
        for (const int width : {300, 800, 1700}) {
            for (size_t z = 0; z < std::size(zones); ++z) {
                const LocalOffset& zone = zones[z];
                const int64_t end = kStart + static_cast<int64_t>(span);
                const TimeTicks ticks = ChooseTimeTicks(kStart, end, width, SevenPerChar, zone);
                const std::string where = std::to_string(span) + " ms over " + std::to_string(width) +
                                          " px, zone " + std::to_string(z);
                ASSERT_GE(ticks.times.size(), 2u) << where;
                ASSERT_EQ(ticks.labels.size(), ticks.times.size()) << where;
                const double pixelsPerMs = width / span;
                for (size_t i = 0; i < ticks.times.size(); ++i) {
                    const int64_t t = ticks.times[i];
                    EXPECT_GE(t, kStart) << where;
                    EXPECT_LE(t, end) << where;
                    const int64_t local = t + int64_t{zone(t)} * kSecond;
                    const int64_t step = ticks.step.nominalMs();
                    if (step < kDay && zone(t) == zone(kStart)) {
                        EXPECT_EQ(local % step, 0) << where << " tick " << ticks.labels[i];
                    } else if (step >= kDay) {
                        EXPECT_EQ(local % kDay, 0) << where << " tick " << ticks.labels[i];
                    }
                    if (i == 0)
                        continue;
                    EXPECT_LT(ticks.times[i - 1], t) << where;
                    const double apart = static_cast<double>(t - ticks.times[i - 1]) * pixelsPerMs;
                    const double needed =
                        (SevenPerChar(ticks.labels[i - 1]) + SevenPerChar(ticks.labels[i])) / 2.0 + 12;
                    EXPECT_GE(apart, needed)
                        << where << ": " << ticks.labels[i - 1] << " / " << ticks.labels[i];
                }
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 300);
}

TEST(TimeAxis, LabelsReadTheLocalClock) {
    struct Case {
        int64_t utc;
        TimeLabelStyle style;
        int32_t offset;
        const char* label;
    };
    const Case cases[] = {
        {kStart, TimeLabelStyle::Milliseconds, 0, "08:15:02.125"},
        {kStart, TimeLabelStyle::Seconds, 3600, "09:15:02"},
        {kStart, TimeLabelStyle::Minutes, -9 * 3600, "23:15"},
        // Local midnight names the day under clock-time labels.
        {kStart - 8 * kHour - 15 * kMinute - 2125, TimeLabelStyle::Minutes, 0, "09 Dec"},
        {kStart, TimeLabelStyle::Days, 16 * 3600, "10 Dec"},
        {kStart, TimeLabelStyle::Months, 0, "Dec 2026"},
        {kStart + 23 * kDay, TimeLabelStyle::Years, 0, "2027"},
        // Before 1970 the floor still goes down.
        {-1, TimeLabelStyle::Milliseconds, 0, "23:59:59.999"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatTimeLabel(c.utc, c.style, c.offset), c.label);
}

TEST(TimeAxis, CivilDatesRoundTrip) {
    for (int64_t day = -800000; day <= 800000; day += 997) {
        const CivilDate date = CivilFromDays(day);
        EXPECT_EQ(DaysFromCivil(date), day);
    }
    EXPECT_EQ(DaysFromCivil({1970, 1, 1}), 0);
    EXPECT_EQ(DaysFromCivil({2000, 3, 1}) - DaysFromCivil({2000, 2, 28}), 2); // a leap day in 2000
    EXPECT_EQ(DaysFromCivil({2100, 3, 1}) - DaysFromCivil({2100, 2, 28}), 1); // none in 2100
    const CivilDate last = CivilFromDays(-1);
    EXPECT_EQ(last.year, 1969);
    EXPECT_EQ(last.month, 12);
    EXPECT_EQ(last.day, 31);
}

TEST(TimeAxis, NoTicksForAnEmptySpanOrNoRoom) {
    EXPECT_TRUE(ChooseTimeTicks(kStart, kStart, 800, SevenPerChar, FixedLocalOffset(0)).times.empty());
    EXPECT_TRUE(ChooseTimeTicks(kStart, kStart + kDay, 0, SevenPerChar, FixedLocalOffset(0)).times.empty());
}

} // namespace
} // namespace calvora
