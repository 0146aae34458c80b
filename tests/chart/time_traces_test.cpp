// Several series on one time axis: the window covers all of them with a scale per series, navigation
// stays on their union, gaps are shaded only where none has readings, and the value axes fit beside the
// plot without their labels running into each other.
#include "chart/model/chart_model.h"
#include "chart/time_series.h"
#include "chart/time_trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace calvora {
namespace {

constexpr PlotRect kPlot{110, 70, 1110, 470};

VectorTimeSeries Ramp(int64_t fromMs, int64_t toMs, float low, float high) {
    VectorTimeSeries series;
    for (int64_t t = fromMs; t <= toMs; t += 10)
        series.Append(t, low + (high - low) * static_cast<float>(t - fromMs) /
                                   static_cast<float>(toMs - fromMs));
    return series;
}

void ExpectScale(const ValueScale& scale, double low, double high) {
    EXPECT_DOUBLE_EQ(scale.low, low);
    EXPECT_DOUBLE_EQ(scale.high, high);
}

TEST(TimeTraces, TheWindowCoversEverySeriesEachOnItsOwnScale) {
    const VectorTimeSeries volts = Ramp(0, 10'000, 0, 1);
    const VectorTimeSeries amps = Ramp(5'000, 20'000, 100, 200);
    const VectorTimeSeries none;
    const std::vector<const TimeSeries*> set = {&volts, &amps, &none, nullptr};

    const TimeWindow whole = WholeSeriesWindow(set);
    EXPECT_EQ(whole.startMs, 0);
    EXPECT_EQ(whole.endMs, 20'000);
    EXPECT_FALSE(whole.zoomed);
    ASSERT_EQ(whole.scaleCount(), 4u);
    const AutoLimits voltLimits = ComputeAutoLimits(0, 1);
    const AutoLimits ampLimits = ComputeAutoLimits(100, 200);
    ExpectScale(whole.scale(0), voltLimits.low, voltLimits.high);
    ExpectScale(whole.scale(1), ampLimits.low, ampLimits.high);
    ExpectScale(whole.scale(2), 0, 1); // no readings: the empty rule's scale
    ExpectScale(whole.scale(3), 0, 1);

    // A band over the plot's second quarter and its upper half: the same times for all, and the same
    // fraction of each scale.
    const auto band =
        ZoomToBand(whole, kPlot, kPlot.left + 250, kPlot.top, kPlot.left + 500, kPlot.top + 200);
    ASSERT_TRUE(band.has_value());
    EXPECT_EQ(band->startMs, 5'000);
    EXPECT_EQ(band->endMs, 10'000);
    ASSERT_EQ(band->scaleCount(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const ValueScale& before = whole.scale(i);
        const double middle = (before.low + before.high) / 2;
        EXPECT_NEAR(band->scale(i).low, middle, 1e-9) << "series " << i;
        EXPECT_NEAR(band->scale(i).high, before.high, 1e-9) << "series " << i;
    }

    // So many axes that no plot is left: a band there selects nothing.
    const PlotRect squeezed{300, 70, 200, 470};
    EXPECT_FALSE(ZoomToBand(whole, squeezed, 210, 100, 290, 300).has_value());

    // Scrolling stops at the first reading of any and the last of any; the scales stay.
    TimeWindow moved = ScrollWindow(*band, set, 100);
    EXPECT_EQ(moved.endMs, 20'000);
    EXPECT_NEAR(moved.scale(1).low, band->scale(1).low, 1e-9);
    moved = ScrollWindow(moved, set, -100);
    EXPECT_EQ(moved.startMs, 0);
    moved = WindowAtScrollPosition(moved, set, 1000, 1000);
    EXPECT_EQ(moved.endMs, 20'000);
    EXPECT_EQ(ScrollPosition(moved, set, 1000), 1000);

    // Widening past all of them shows them whole again, each on its automatic scale.
    const TimeWindow wide = ZoomAround(*band, set, kPlot, kPlot.left, 8);
    EXPECT_FALSE(wide.zoomed);
    EXPECT_EQ(wide.startMs, 0);
    EXPECT_EQ(wide.endMs, 20'000);
    ExpectScale(wide.scale(1), ampLimits.low, ampLimits.high);
}

// A zoomed window chosen before a series joined gives the newcomer the automatic rule over its readings in
// the shown time; the scales of those it had stay, and a removed series' scale goes.
TEST(TimeTraces, ASeriesJoiningAZoomedWindowIsScaledOverTheShownTime) {
    const VectorTimeSeries volts = Ramp(0, 10'000, 0, 1);
    const VectorTimeSeries amps = Ramp(0, 10'000, 100, 200);
    TimeWindow zoomed;
    zoomed.startMs = 0;
    zoomed.endMs = 5'000;
    zoomed.values = {0.25, 0.5};
    zoomed.zoomed = true;
    const std::vector<const TimeSeries*> both = {&volts, &amps};
    const TimeWindow joined = WithScaleForEach(zoomed, both);
    ASSERT_EQ(joined.scaleCount(), 2u);
    ExpectScale(joined.scale(0), 0.25, 0.5);
    const AutoLimits shown = ComputeAutoLimits(100, 150);
    ExpectScale(joined.scale(1), shown.low, shown.high);

    const std::vector<const TimeSeries*> one = {&volts};
    EXPECT_EQ(WithScaleForEach(joined, one).scaleCount(), 1u);
}

TEST(TimeTraces, GapsAreShadedWhereNoSeriesHasReadings) {
    struct Piece {
        int64_t fromMs;
        int64_t toMs;
    };
    // Each series: its runs of readings, a gap between neighbouring runs.
    using Runs = std::vector<Piece>;
    struct Case {
        const char* what;
        std::vector<Runs> series;
        std::vector<Piece> shaded;
    };
    const Case cases[] = {
        {"one series: its own gaps", {{{0, 1000}, {3000, 4000}}}, {{1000, 3000}}},
        {"overlapping gaps: where both lack readings",
         {{{0, 1000}, {3000, 4000}}, {{500, 1500}, {2500, 5000}}},
         {{1500, 2500}}},
        {"a gap another series fills", {{{0, 1000}, {3000, 4000}}, {{0, 4000}}}, {}},
        {"one ends before the next begins", {{{0, 1000}}, {{2000, 3000}}}, {{1000, 2000}}},
        {"three, one with two gaps",
         {{{0, 1000}, {2000, 3000}, {6000, 7000}}, {{0, 1500}, {2500, 5000}}, {{0, 500}, {5500, 7000}}},
         {{1500, 2000}, {5000, 5500}}},
    };
    for (const Case& c : cases) {
        std::vector<VectorTimeSeries> series(c.series.size());
        std::vector<const TimeSeries*> set;
        for (size_t s = 0; s < c.series.size(); ++s) {
            for (size_t r = 0; r < c.series[s].size(); ++r) {
                if (r > 0)
                    series[s].AddGap(c.series[s][r - 1].toMs);
                for (int64_t t = c.series[s][r].fromMs; t <= c.series[s][r].toMs; t += 100)
                    series[s].Append(t, 1.0f);
            }
            set.push_back(&series[s]);
        }
        if (c.series.size() > 1)
            set.push_back(nullptr); // a trace without readings changes nothing
        const std::vector<SeriesGap> shaded = CommonGaps(set);
        ASSERT_EQ(shaded.size(), c.shaded.size()) << c.what;
        for (size_t i = 0; i < shaded.size(); ++i) {
            EXPECT_EQ(shaded[i].startMs, c.shaded[i].fromMs) << c.what;
            EXPECT_EQ(shaded[i].endMs, c.shaded[i].toMs) << c.what;
        }
    }
}

TEST(TimeTraces, AxesFitBesideThePlotAndTheirLabelsNeverMeet) {
    const std::vector<std::vector<int>> widths = {
        {60}, {60, 60}, {60, 80, 120}, {200, 40, 40, 40}, {50, 90, 300}};
    for (const int clientWidth : {1920, 800}) {
        const PlotRect plain = PlotFromClient(clientWidth, 600);
        for (const std::vector<int>& labels : widths) {
            const AxesLayout layout = LayOutAxes(clientWidth, 600, labels);
            const PlotRect& plot = layout.plot;
            ASSERT_EQ(layout.axisX.size(), labels.size());
            EXPECT_EQ(plot.top, plain.top);
            EXPECT_EQ(plot.bottom, plain.bottom);
            EXPECT_EQ(layout.axisX[0], plot.left);
            if (labels.size() == 1) {
                EXPECT_EQ(plot, plain) << "one axis lies where it always did";
                continue;
            }
            EXPECT_LE(plot.width(), plain.width());
            EXPECT_GE(plot.left - kAxisLabelOffset - labels[0], 0) << "the left labels fit";
            EXPECT_EQ(layout.axisX[1], plot.right);
            for (size_t i = 1; i + 1 < labels.size(); ++i)
                EXPECT_LT(layout.axisX[i] + kAxisLabelOffset + labels[i], layout.axisX[i + 1])
                    << labels.size() << " axes: axis " << i << "'s labels reach the next";
            EXPECT_LE(layout.axisX.back() + kAxisLabelOffset + labels.back(), clientWidth)
                << "the outermost labels fit";
        }
    }

    // The legend stays inside the plot, its entries apart, on a second row when one is too narrow.
    const std::vector<int> names = {120, 90, 150};
    for (const int right : {1110, 420}) {
        const PlotRect plot{110, 70, right, 470};
        const LegendLayout legend = LayOutLegend(plot, names, 18);
        ASSERT_EQ(legend.entries.size(), names.size());
        EXPECT_GT(legend.box.left, plot.left);
        EXPECT_LT(legend.box.right, plot.right);
        for (size_t i = 0; i + 1 < names.size(); ++i) {
            const PixelPoint a = legend.entries[i];
            const PixelPoint b = legend.entries[i + 1];
            EXPECT_TRUE(b.y > a.y || b.x > a.x + kLegendSwatch + names[i])
                << "entries " << i << " and " << i + 1;
        }
        EXPECT_EQ(legend.entries.back().y > legend.entries.front().y, right == 420);
    }
}

} // namespace
} // namespace calvora
