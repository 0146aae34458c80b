#include "chart/chart_layout.h"
#include "chart/model/chart_model.h"
#include "recording/recording_document.h"

#include <gtest/gtest.h>

#include <vector>

namespace calvora {
namespace {

TEST(ComputeAutoLimits, Rules) {
    struct Case {
        double min;
        double max;
        double low;
        double high;
    };
    const Case cases[] = {
        {0, 0, 0, 1},
        {5, 5, 4, 6},
        {-5, -5, -6, -4},
        {2, 2, 1.6, 2.4},
        {0.0000005, 0.0000005, 0, 0.0000006},
        // Snapping to 0 would put low above high: keep the unsnapped low.
        {-0.0000005, -0.0000005, -0.0000006, -0.0000004},
        {0, 10, 0, 12},
        {-0.0000005, 10, 0, 10 + 10.0000005 / 5},
        {2, 12, 0, 14},
        {3, 8, 2, 9},
        {1, 5, 0.2, 5.8},
        {-10, -2, -11.6, -0.4},
        {-0.000001, -0.000001, -0.0000012, -0.0000008},
    };
    for (const Case& c : cases) {
        const AutoLimits limits = ComputeAutoLimits(c.min, c.max);
        EXPECT_NEAR(limits.low, c.low, 1e-12) << c.min << ".." << c.max;
        EXPECT_NEAR(limits.high, c.high, 1e-12) << c.min << ".." << c.max;
        EXPECT_LT(limits.low, limits.high) << c.min << ".." << c.max;
    }
}

TEST(TruncateForScale, CutsTowardZeroAtTheMagnitudesDecimals) {
    const std::pair<double, double> cases[] = {
        {1234.567, 1234.56},   {0.1234567, 0.12345}, {-12.345678, -12.3456},
        {999.999999, 999.999}, {1000, 1000},         {-1234.567, -1234.56},
        {150.12345, 150.123},  {-0.0000049, 0},      {9.9999999, 9.99999},
    };
    for (const auto& [x, expected] : cases)
        EXPECT_NEAR(TruncateForScale(x), expected, 1e-9) << x;
}

TEST(FormatScaleValue, DecimalsFollowTheMagnitude) {
    const std::pair<double, std::u16string> cases[] = {
        {1000, u"1000.00"}, {99.5, u"99.5000"},      {-0.5, u"-0.50000"}, {0, u"0.00000"},
        {100, u"100.000"},  {-1500.25, u"-1500.25"}, {1, u"1.00000"},
    };
    for (const auto& [x, expected] : cases)
        EXPECT_EQ(FormatScaleValue(x), expected) << x;
}

TEST(LiveWindow, GrowsByTwelveElevenths) {
    ChartLayout layout;
    layout.liveWindow.sizes[0] = 0;
    layout.liveWindow.Start();
    std::vector<uint32_t> sizes = {layout.liveWindow.sizes[0]};
    uint32_t firstGrowth = 0;
    for (uint32_t count = 1; count <= 20000; ++count) {
        layout.laidOut.last = static_cast<int32_t>(count);
        if (layout.GrowLiveWindow(count)) {
            sizes.push_back(layout.liveWindow.sizes[layout.liveWindow.index]);
            if (!firstGrowth)
                firstGrowth = count;
        }
    }
    const std::vector<uint32_t> start = {100, 109, 118, 128, 139, 151, 164, 178, 194, 211, 230};
    EXPECT_EQ(std::vector<uint32_t>(sizes.begin(), sizes.begin() + 11), start);
    EXPECT_EQ(firstGrowth, 101u) << "the 101st sample grows the window";
    EXPECT_TRUE(layout.liveWindow.grew);
    EXPECT_EQ(layout.liveWindow.index, 62u);
    EXPECT_EQ(layout.liveWindow.sizes[62], 20611u);
}

TEST(LiveWindow, StopsAtTheLastSlot) {
    ChartLayout layout;
    layout.liveWindow.Start();
    for (uint32_t count = 1; count < 4000000000u; count += count / 8 + 1)
        layout.GrowLiveWindow(count);
    EXPECT_EQ(layout.liveWindow.index, kLiveWindowSlots - 1);
}

TEST(ApplyScale, CustomAndAutoLimits) {
    ChartSettings settings;
    ChartLayout layout;
    settings.autoMin = -1;
    settings.autoMax = 3;
    layout.fullView = false;
    layout.horizontal.shift = 4;
    layout.vertical.range = 9;

    EXPECT_FALSE(ApplyScale(settings, layout, ScaleMode::Custom, 5, 5));
    EXPECT_EQ(settings.scaleMode, ScaleMode::Unset);
    EXPECT_FALSE(layout.fullView);

    ASSERT_TRUE(ApplyScale(settings, layout, ScaleMode::Custom, 2, 7));
    EXPECT_EQ(settings.axisMin, 2);
    EXPECT_EQ(settings.axisMax, 7);
    EXPECT_TRUE(layout.fullView);
    EXPECT_EQ(layout.horizontal.shift, 0);
    EXPECT_EQ(layout.vertical.range, 9) << "the next zoom sets the range";

    ASSERT_TRUE(ApplyScale(settings, layout, ScaleMode::Auto, 10, 20));
    EXPECT_EQ(settings.axisMin, -1);
    EXPECT_EQ(settings.axisMax, 3);
    EXPECT_EQ(settings.customMin, 10);
    EXPECT_EQ(settings.customMax, 20);
    EXPECT_EQ(settings.scaleMode, ScaleMode::Auto);
}

RecordingDocument WithValues(const std::vector<float>& values) {
    RecordingDocument document;
    document.SetChannelCount(1);
    document.FillRows(static_cast<uint32_t>(values.size()));
    for (uint32_t row = 0; row < values.size(); ++row)
        document.SetValue(row, 0, values[row], 100);
    SetLimitsFromSamples(document);
    return document;
}

const PlotRect kPlot{110, 70, 910, 470}; // 800 x 400

TEST(LayoutSamples, AllZeroSamplesGetTheUnitScale) {
    RecordingDocument document = WithValues({0, 0, 0});
    LayoutSamples(document, kPlot);
    for (int l = 0; l < kTickCount; ++l) {
        EXPECT_NEAR(document.layout.ticks[0].values[l], l / 10.0, 1e-12);
        EXPECT_EQ(document.layout.ticks[1].values[l], document.layout.ticks[0].values[l]);
    }
    EXPECT_EQ(FormatScaleValue(document.layout.ticks[0].values[10]), u"1.00000");
    EXPECT_EQ(document.yPos(1, 0), 470);
    EXPECT_EQ(document.xPos(2, 0), 910);
}

TEST(LayoutSamples, FullView) {
    // On the scale 0..14, 7 sits half way up; 20 and -7 lie outside the plot.
    RecordingDocument document = WithValues({2, 7, 12, 20, -7});
    document.settings.axisMin = 0;
    document.settings.axisMax = 14;
    LayoutSamples(document, kPlot);
    EXPECT_DOUBLE_EQ(document.layout.pixelsPerSample, 200);
    const double expectedY[] = {470 - 400 * 2 / 14.0, 270, 470 - 400 * 12 / 14.0, 470 - 400 * 20 / 14.0,
                                470 + 400 * 7 / 14.0};
    for (uint32_t row = 0; row < 5; ++row) {
        EXPECT_DOUBLE_EQ(document.xPos(row, 0), 110 + 200.0 * row);
        EXPECT_NEAR(document.yPos(row, 0), expectedY[row], 1e-9) << "row " << row << " (not clipped)";
    }
}

TEST(LayoutSamples, OneSampleSitsOnTheLeftEdge) {
    RecordingDocument document = WithValues({5});
    LayoutSamples(document, kPlot);
    EXPECT_EQ(document.layout.pixelsPerSample, 800);
    EXPECT_EQ(document.xPos(0, 0), 110);
    EXPECT_DOUBLE_EQ(document.yPos(0, 0), 270); // 5 on the scale 4..6
}

TEST(LayoutSamples, LiveStepFollowsTheWindow) {
    RecordingDocument document = WithValues({1, 2, 3});
    document.liveActive = true;
    document.layout.liveWindow.Start();
    LayoutSamples(document, kPlot);
    EXPECT_DOUBLE_EQ(document.layout.pixelsPerSample, 800 / 99.0);
    document.layout.liveWindow.index = 1;
    document.layout.liveWindow.sizes[1] = 109;
    LayoutSamples(document, kPlot);
    EXPECT_DOUBLE_EQ(document.layout.pixelsPerSample, 800 / 108.0);
}

TEST(LayoutSamples, SecondChannelUsesTheRightAxisAndEmptyDocumentIsLeftAlone) {
    RecordingDocument empty;
    empty.layout.pixelsPerSample = 3;
    LayoutSamples(empty, kPlot);
    EXPECT_EQ(empty.layout.pixelsPerSample, 3);

    RecordingDocument document;
    document.SetChannelCount(2);
    document.FillRows(2);
    document.SetValue(0, 0, 0, 1);
    document.SetValue(1, 0, 10, 1);
    document.SetValue(0, 1, 5, 1);
    SetLimitsFromSamples(document); // 0..12
    LayoutSamples(document, kPlot);
    EXPECT_DOUBLE_EQ(document.yPos(0, 1), 470 - 400 * 5 / 12.0);
    EXPECT_DOUBLE_EQ(document.xPos(1, 1), 910);
}

TEST(LayoutZoomed, TicksFromTheZoomAndPositionsCarriedOnResize) {
    RecordingDocument document = WithValues({1, 2, 3});
    document.settings.traceAxis[0] = 0;
    LayoutSamples(document, kPlot);
    document.layout.plotRect = kPlot;
    document.layout.fullView = false;
    document.layout.zoomScale[0].base = 1.5;
    document.layout.zoomScale[0].next = 1.6;
    document.layout.vertical.shift = 2;
    document.SetXPos(1, 0, 510); // the zoom left sample 2 in the middle of the plot

    const PlotRect wider{110, 70, 1710, 270}; // twice as wide, half as high
    LayoutSamples(document, wider);
    EXPECT_EQ(document.xPos(1, 0), 510) << "zoomed positions are not rewritten by the full layout";
    LayoutZoomed(document, wider);
    for (int l = 0; l < kTickCount; ++l)
        EXPECT_NEAR(document.layout.ticks[0].values[l], 1.5 + (l + 2) * 0.1, 1e-12);
    EXPECT_DOUBLE_EQ(document.xPos(1, 0), 910);
    // Value 2 on ticks 1.7..2.7 is 0.3 of the 200-pixel height above the bottom.
    EXPECT_NEAR(document.yPos(1, 0), 270 - 200 * 0.3, 1e-9);
    EXPECT_EQ(document.layout.plotRect, wider);

    document.layout.ResetZoom();
    EXPECT_TRUE(document.layout.fullView);
    EXPECT_EQ(document.layout.vertical.shift, 0);
    LayoutSamples(document, wider);
    EXPECT_DOUBLE_EQ(document.xPos(1, 0), 910);
}

TEST(SetLimitsFromSamples, InfiniteValuesDoNotMakeTheScaleInfinite) {
    RecordingDocument document = WithValues({1, std::numeric_limits<float>::infinity(), 5});
    EXPECT_DOUBLE_EQ(document.settings.axisMin, 0.2);
    EXPECT_DOUBLE_EQ(document.settings.axisMax, 5.8);
}

} // namespace
} // namespace calvora
