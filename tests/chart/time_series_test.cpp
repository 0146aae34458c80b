#include "chart/time_series.h"
#include "chart/time_trace.h"
#include "chart/value_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace calvora {
namespace {

constexpr float kOverload = std::numeric_limits<float>::quiet_NaN();

ValueRange BruteForce(const std::vector<float>& values, size_t first, size_t end) {
    ValueRange range;
    for (size_t i = first; i < end; ++i)
        range.Add(values[i]);
    return range;
}

// Random ranges over a column long enough for four levels, with spikes and overloads in it, against
// the extremes found value by value.
TEST(ValueSummary, RangesMatchTheirValuesFoundOneByOne) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(2.0f, 0.1f);
    std::vector<float> values;
    ValueSummary summary;
    for (size_t i = 0; i < 70000; ++i) {
        float value = noise(random);
        if (i % 9973 == 0)
            value = 40.0f; // a spike of one reading
        if (i % 5003 == 17)
            value = kOverload;
        values.push_back(value);
        summary.Append(value);
    }
    ASSERT_GE(summary.levelCount(), 4);
    auto at = [&](size_t i) { return values[i]; };
    std::uniform_int_distribution<size_t> position(0, values.size());
    for (int trial = 0; trial < 3000; ++trial) {
        size_t a = position(random);
        size_t b = position(random);
        if (trial % 3 == 0)
            b = std::min(values.size(), a + trial % 40); // short ranges, inside one entry
        const auto [first, end] = std::minmax(a, b);
        const ValueRange expected = BruteForce(values, first, end);
        const ValueRange got = summary.Range(first, end, at);
        ASSERT_EQ(got.empty(), expected.empty()) << first << ".." << end;
        if (!expected.empty()) {
            ASSERT_EQ(got.min, expected.min) << first << ".." << end;
            ASSERT_EQ(got.max, expected.max) << first << ".." << end;
        }
    }
    // The whole column finds the spike.
    EXPECT_EQ(summary.Range(0, values.size(), at).max, 40.0f);
}

TEST(ValueSummary, OnlyOverloadsMakeAnEmptyRange) {
    ValueSummary summary;
    for (int i = 0; i < 40; ++i)
        summary.Append(kOverload);
    EXPECT_TRUE(summary.Range(0, 40, [](size_t) { return kOverload; }).empty());
}

// A series of readings at uneven times (bursts, pauses, a gap) drawn into columns, each column checked
// against the readings whose time falls into it.
TEST(TimeSeries, ColumnEnvelopesMatchTheirReadingsFoundOneByOne) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> step(0, 40);
    std::uniform_real_distribution<float> value(-5.0f, 5.0f);
    VectorTimeSeries series;
    std::vector<int64_t> times;
    std::vector<float> values;
    int64_t t = 1'000'000;
    for (int i = 0; i < 20000; ++i) {
        t += step(random) + (i % 5000 == 4999 ? 60000 : 0);
        if (i == 12000)
            series.AddGap(t - 5);
        float v = value(random);
        if (i % 777 == 3)
            v = kOverload;
        series.Append(t, v);
        times.push_back(t);
        values.push_back(v);
    }
    for (const auto& [start, columns] :
         {std::pair<double, int>{1'000'000, 1700}, {1'150'000, 300}, {1'200'003.5, 9}}) {
        const double stepMs =
            static_cast<double>(times.back() - 1'000'000) / columns / (columns == 9 ? 2000 : 1);
        ColumnTrace trace;
        series.Envelopes(start, stepMs, columns, trace);
        ASSERT_EQ(trace.columns.size(), static_cast<size_t>(columns));
        size_t index = std::lower_bound(times.begin(), times.end(), start) - times.begin();
        for (int k = 0; k < columns; ++k) {
            const double end = start + (k + 1) * stepMs;
            const size_t first = index;
            while (index < times.size() && static_cast<double>(times[index]) < end)
                ++index;
            const ColumnEnvelope& column = trace.columns[static_cast<size_t>(k)];
            ASSERT_EQ(column.count, index - first) << "column " << k;
            if (index == first)
                continue;
            const ValueRange expected = BruteForce(values, first, index);
            ASSERT_EQ(column.range.min, expected.min) << "column " << k;
            ASSERT_EQ(column.range.max, expected.max) << "column " << k;
            ASSERT_TRUE(std::isnan(column.first) ? std::isnan(values[first]) : column.first == values[first]);
            EXPECT_EQ(column.breakBefore, first == 12000) << "column " << k;
        }
        ASSERT_EQ(trace.after.has_value(), index < times.size());
    }
}

PlotRect Plot() {
    return {110, 70, 1110, 470};
}

// Drawn from envelopes, the trace keeps a spike, breaks at a gap and at an overload, and runs on to
// the readings beside the window.
TEST(TimeTrace, ColumnsDrawTheirExtremesAndJoinUnlessBroken) {
    VectorTimeSeries series;
    for (int64_t t = 0; t < 1000; ++t)
        series.Append(t, t == 500 ? 9.0f : 1.0f);
    series.AddGap(1000);
    for (int64_t t = 2000; t < 3000; ++t)
        series.Append(t, t == 2500 ? kOverload : 1.0f);

    TimeWindow window;
    window.startMs = 0;
    window.endMs = 3000;
    window.values = {0, 10};
    const PlotRect plot = Plot();
    ColumnTrace trace;
    series.Envelopes(window.startMs, window.StepMs(plot), plot.width() + 1, trace);
    TracePicture picture;
    BuildColumnTrace(trace, window, plot, picture);

    const int spikeX = static_cast<int>(std::lround(window.X(plot, 500)));
    const int top = static_cast<int>(std::lround(window.values.Y(plot, 9.0)));
    bool spikeDrawn = false;
    bool joinedOverTheGap = false;
    for (const PixelLine& line : picture.lines) {
        spikeDrawn |= std::min(line.y0, line.y1) <= top && std::abs(line.x0 - spikeX) <= 1;
        const int gapLeft = static_cast<int>(window.X(plot, 999));
        const int gapRight = static_cast<int>(window.X(plot, 2000));
        joinedOverTheGap |= std::min(line.x0, line.x1) <= gapLeft && std::max(line.x0, line.x1) >= gapRight;
    }
    EXPECT_TRUE(spikeDrawn);
    EXPECT_FALSE(joinedOverTheGap);

    // Zoomed into the overload: no line crosses its column, and the first reading outside the window
    // on either side still pulls the trace to the plot's sides.
    window.startMs = 2490;
    window.endMs = 2510;
    series.Envelopes(window.startMs, window.StepMs(plot), plot.width() + 1, trace);
    ASSERT_TRUE(trace.before.has_value());
    ASSERT_TRUE(trace.after.has_value());
    BuildColumnTrace(trace, window, plot, picture);
    const double overloadX = window.X(plot, 2500);
    int reachesLeft = 0;
    int reachesRight = 0;
    for (const PixelLine& line : picture.lines) {
        EXPECT_FALSE(std::min(line.x0, line.x1) < overloadX && std::max(line.x0, line.x1) > overloadX);
        reachesLeft += std::min(line.x0, line.x1) < plot.left;
        reachesRight += std::max(line.x0, line.x1) > plot.right;
    }
    EXPECT_EQ(reachesLeft, 1);
    EXPECT_EQ(reachesRight, 1);
}

TEST(TimeTrace, WindowNavigationStaysOnTheSeries) {
    VectorTimeSeries series;
    for (int64_t t = 0; t <= 100000; t += 10)
        series.Append(t, static_cast<float>(t % 7));
    const PlotRect plot = Plot();
    const TimeWindow whole = WholeSeriesWindow(series);
    EXPECT_EQ(whole.startMs, 0);
    EXPECT_EQ(whole.endMs, 100000);
    EXPECT_FALSE(whole.zoomed);
    EXPECT_LT(whole.values.low, 0.0 + 1e-9);
    EXPECT_GT(whole.values.high, 6.0);

    const auto band = ZoomToBand(whole, plot, plot.left + 100, plot.top, plot.left + 200, plot.bottom);
    ASSERT_TRUE(band.has_value());
    EXPECT_TRUE(band->zoomed);
    EXPECT_EQ(band->startMs, 10000);
    EXPECT_EQ(band->endMs, 20000);
    EXPECT_FALSE(ZoomToBand(whole, plot, 300, 100, 300, 200).has_value()) << "no time span";

    // Scrolling stops at either end of the series.
    TimeWindow moved = ScrollWindow(*band, series, 100);
    EXPECT_EQ(moved.endMs, 100000);
    moved = ScrollWindow(moved, series, -100);
    EXPECT_EQ(moved.startMs, 0);
    EXPECT_EQ(ScrollPosition(moved, series, 1000), 0);
    moved = WindowAtScrollPosition(moved, series, 1000, 1000);
    EXPECT_EQ(moved.endMs, 100000);

    // The wheel narrows around the pointer and widens back to the whole series.
    const TimeWindow narrow = ZoomAround(whole, series, plot, plot.left + plot.width() / 2.0, 0.5);
    EXPECT_EQ(narrow.startMs, 25000);
    EXPECT_EQ(narrow.endMs, 75000);
    const TimeWindow wide = ZoomAround(narrow, series, plot, plot.left, 4);
    EXPECT_FALSE(wide.zoomed);
    EXPECT_EQ(wide.spanMs(), 100000);
    TimeWindow tiny = whole;
    for (int i = 0; i < 40; ++i)
        tiny = ZoomAround(tiny, series, plot, plot.left, 0.5);
    EXPECT_EQ(tiny.spanMs(), kMinimumWindowMs);
}

} // namespace
} // namespace calvora
