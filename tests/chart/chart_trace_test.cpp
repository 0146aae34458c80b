// The chart's drawing arithmetic: plot geometry, grid steps, trace segments and their merging, the full
// layout and the live update plan.
#include "chart/chart_layout.h"
#include "chart/chart_navigation.h"
#include "chart/chart_trace.h"
#include "tests/chart/chart_test_documents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace calvora {
namespace {

using testing::LiveDocument;
using testing::MakeDocument;
using testing::SetScale;

// An 800 x 600 client: plot (110, 70) - (690, 470), 580 x 400.
const PlotRect kPlot = PlotFromClient(800, 600);

// Five samples on 0..10 laid out over kPlot: x = 110, 255, 400, 545, 690.
std::unique_ptr<RecordingDocument> FiveSamples() {
    auto document = MakeDocument({1, 2, 3, 4, 5});
    SetScale(*document, 0, 10);
    LayoutSamples(*document, kPlot);
    return document;
}

TEST(ChartGeometry, PlotInsetAndValidity) {
    EXPECT_EQ(kPlot, (PlotRect{110, 70, 690, 470}));
    EXPECT_TRUE(IsPlotValid(kPlot));
    EXPECT_FALSE(IsPlotValid(PlotFromClient(800, 200))); // top 70, bottom 70
    EXPECT_FALSE(IsPlotValid(PlotFromClient(220, 600))); // left 110, right 110
    EXPECT_FALSE(IsPlotValid(PlotFromClient(100, 100))); // inverted
}

TEST(ChartGeometry, GridStepIsSmallestReachingAnEighth) {
    struct Case {
        double dx;
        double width;
        int64_t k;
    };
    const Case cases[] = {
        {145, 580, 1}, {72.5, 580, 1}, {72.4, 580, 2}, {10, 580, 8}, {0.1, 8, 10}, {580.0 / 65534, 580, 8192},
        {0, 580, 1},   {-3, 580, 1},
    };
    for (const Case& c : cases) {
        const int64_t k = GridStep(c.dx, c.width);
        EXPECT_EQ(k, c.k) << c.dx << " " << c.width;
        if (c.dx > 0) {
            EXPECT_GE(static_cast<double>(k) * c.dx, c.width / 8);
            EXPECT_LT(static_cast<double>(k - 1) * c.dx, c.width / 8);
        }
    }
}

TEST(ChartGeometry, VisibleRangeStartsAtTheScrollPosition) {
    auto document = FiveSamples();
    const SampleAxis axis = SampleAxisOf(*document);
    EXPECT_DOUBLE_EQ(axis.x0, 110);
    EXPECT_DOUBLE_EQ(axis.dx, 145);
    EXPECT_DOUBLE_EQ(axis.X(5), 690);
    const DrawRange range = VisibleSamples(document->layout, axis, kPlot);
    EXPECT_EQ(range.first, 1);
    EXPECT_EQ(range.end, 1 + 4 + 2);

    auto single = MakeDocument({3});
    LayoutSamples(*single, kPlot);
    const SampleAxis one = SampleAxisOf(*single);
    EXPECT_EQ(one.dx, 0);
    EXPECT_EQ(VisibleSamples(single->layout, one, kPlot).end, 3); // no division by a zero step
}

TEST(ChartGeometry, ShownSamplesAreThoseBetweenThePlotsSides) {
    auto document = FiveSamples();
    document->layout.plotRect = kPlot;
    EXPECT_EQ(ShownSamples(*document), (SampleRange{1, 5}));
    // Zoomed to x 200..400: samples 1..4 land at -151, 269.5, 690 and 1110.5.
    ApplyZoom(*document, kPlot, {200, 100, 400, 300});
    LayoutZoomed(*document, kPlot);
    EXPECT_EQ(ShownSamples(*document), (SampleRange{2, 3}));
    // Scrolled one sample to the right: 1 and 2 are shown.
    document->layout.horizontal.MoveTrace(1);
    EXPECT_EQ(ShownSamples(*document), (SampleRange{1, 2}));
    // Scrolled far left, past the last sample: none.
    document->layout.horizontal.MoveTrace(-20);
    EXPECT_EQ(ShownSamples(*document).count(), 0);

    EXPECT_EQ(ShownSamples(*MakeDocument({})), (SampleRange{1, 0}));
}

TEST(TraceSegments, PixelEndsAreTruncatedAndKeptInRange) {
    EXPECT_EQ(SegmentPixels(1.7, 2.9, 10.2, -3.5), (PixelLine{1, 2, 10, -3}));
    EXPECT_FALSE(SegmentPixels(1, std::nan(""), 2, 3));
    // Far and infinite ends are cut along the segment, not wrapped through an int.
    const auto far = SegmentPixels(0, 0, 10, 1e12);
    ASSERT_TRUE(far);
    EXPECT_EQ(far->y1, 1 << 20);
    EXPECT_GE(far->x1, 0);
    EXPECT_LE(far->x1, 10);
    const auto infinite = SegmentPixels(100, 200, 101, -std::numeric_limits<double>::infinity());
    ASSERT_TRUE(infinite);
    EXPECT_EQ(infinite->y0, 200);
    EXPECT_EQ(infinite->y1, -(1 << 20));
    EXPECT_FALSE(SegmentPixels(0, 2e6, 10, 3e6)); // wholly beyond any plot
}

TEST(TraceSegments, SkipRules) {
    struct Case {
        PixelLine segment;
        bool outside;
    };
    const Case cases[] = {
        {{200, 60, 210, 50}, true},    // both above the top
        {{200, 70, 210, 50}, false},   // one end on the top line counts as inside
        {{200, 480, 210, 471}, true},  // both below the bottom
        {{200, 470, 210, 480}, false}, // one end on the bottom line
        {{100, 200, 110, 300}, true},  // both at or left of the left side
        {{110, 200, 111, 200}, false}, {{690, 200, 700, 300}, true}, // both at or right of the right side
        {{689, 200, 690, 300}, false}, {{200, 50, 210, 500}, false}, // crosses the whole plot
    };
    for (const Case& c : cases)
        EXPECT_EQ(SegmentOutsidePlot(c.segment, kPlot), c.outside)
            << c.segment.x0 << "," << c.segment.y0 << " " << c.segment.x1 << "," << c.segment.y1;
    EXPECT_TRUE(SegmentCrosses({0, 60, 1, 80}, 70));
    EXPECT_FALSE(SegmentCrosses({0, 70, 1, 80}, 70)); // an end on the line does not cross
    EXPECT_TRUE(SegmentCrosses({0, 480, 1, 460}, 470));
}

TEST(TraceSegments, MarksFollowTheRememberedColumn) {
    auto document = FiveSamples();
    const SampleAxis axis = SampleAxisOf(*document);
    TracePicture picture;
    int remembered = 0;
    TraceBuilder builder(*document, axis, kPlot, 0, TraceDrawing::PerSegment, remembered, picture);
    EXPECT_TRUE(builder.Add(1));
    EXPECT_EQ(picture.lines.size(), 1U);
    EXPECT_EQ(picture.markCentres.size(), 2U); // one mark around each end
    EXPECT_EQ(remembered, 110);
    EXPECT_EQ(picture.markCentres.front(), (PixelPoint{110, 430})); // value 1 of 0..10 lies at y 430
    // The same segment again: its column is remembered, so no new marks.
    EXPECT_TRUE(builder.Add(1));
    EXPECT_EQ(picture.markCentres.size(), 2U);
    EXPECT_FALSE(builder.Add(0));
    EXPECT_FALSE(builder.Add(5)); // no sample 6

    document->settings.markPoints[0] = 0;
    TracePicture plain;
    int other = 0;
    TraceBuilder unmarked(*document, axis, kPlot, 0, TraceDrawing::PerSegment, other, plain);
    unmarked.AddRange({1, 10});
    EXPECT_EQ(plain.lines.size(), 4U);
    EXPECT_TRUE(plain.markCentres.empty());
}

TEST(TraceSegments, MergingJoinsOnlyChainedSegmentsOfOneColumn) {
    // Many samples per pixel: the merged picture has at most a vertical line and a step per column.
    std::vector<float> values;
    for (int i = 0; i < 20000; ++i)
        values.push_back(static_cast<float>(5 + 4 * std::sin(i * 0.01) + (i % 7) * 0.1));
    auto document = MakeDocument(values);
    LayoutSamples(*document, kPlot);
    const SampleAxis axis = SampleAxisOf(*document);
    const DrawRange range = VisibleSamples(document->layout, axis, kPlot);
    TracePicture each;
    TracePicture merged;
    int rememberedEach = 0;
    int rememberedMerged = 0;
    TraceBuilder(*document, axis, kPlot, 0, TraceDrawing::PerSegment, rememberedEach, each).AddRange(range);
    TraceBuilder(*document, axis, kPlot, 0, TraceDrawing::Merged, rememberedMerged, merged).AddRange(range);
    // Segments lying wholly in the left side's column are skipped.
    EXPECT_GT(each.lines.size(), 19900U);
    EXPECT_LE(merged.lines.size(), 2U * (kPlot.width() + 1));
    EXPECT_EQ(each.markCentres, merged.markCentres);
    EXPECT_EQ(rememberedEach, rememberedMerged);
}

// A recording of `channels` channels: channel c holds wave(i, c). Limits from channel 0 as a file load does.
template <typename Wave>
std::unique_ptr<RecordingDocument> WithChannels(int channels, int samples, Wave wave) {
    auto document = std::make_unique<RecordingDocument>();
    ApplyNewChartDefaults(*document);
    document->SetChannelCount(static_cast<uint8_t>(channels));
    document->FillRows(static_cast<uint32_t>(samples));
    for (int i = 0; i < samples; ++i) {
        for (int c = 0; c < channels; ++c)
            document->SetValue(static_cast<uint32_t>(i), c, wave(i, c), 1000);
    }
    SetLimitsFromSamples(*document);
    return document;
}

TEST(ChartLayoutFull, EveryChannelLandsWhereTheFormulaPutsIt) {
    // One channel has a path of its own, two rows at a time; an odd count leaves one row after the pairs.
    for (const int channels : {1, 3}) {
        auto document = WithChannels(
            channels, 997, [](int i, int c) { return static_cast<float>(std::sin(i * 0.03 + c) * 4); });
        SetScale(*document, -5, 5);
        LayoutSamples(*document, kPlot);
        const double xStep = kPlot.width() / 996.0;
        const double lo = document->layout.ticks[0].values[0];
        const double pixelsPerUnit = kPlot.height() / (document->layout.ticks[0].values[kTickCount - 1] - lo);
        EXPECT_DOUBLE_EQ(lo, -5);
        for (uint32_t row = 0; row < 997; ++row) {
            for (int c = 0; c < channels; ++c) {
                const double v = document->value(row, c);
                ASSERT_EQ(document->xPos(row, c), kPlot.left + static_cast<double>(row) * xStep)
                    << row << " " << c;
                ASSERT_EQ(document->yPos(row, c), kPlot.bottom - (v - lo) * pixelsPerUnit) << row << " " << c;
            }
        }
    }
}

// AddRange's merged picture must be exactly the one built a segment at a time through Add: the same
// lines in the same order, the same marks and the same remembered column.
TEST(TraceSegments, MergedRangeMatchesAddingEachSegmentInTurn) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* what;
        int samples;
        float (*wave)(int i, int c);
    };
    const Case cases[] = {
        {"runs inside the plot", 20000,
         [](int i, int c) { return static_cast<float>(5 + 4 * std::sin(i * 0.37 + c) + (i % 7) * 0.1); }},
        {"runs crossing the top and bottom lines", 20000,
         [](int i, int c) { return static_cast<float>(5 + 6 * std::sin(i * 0.05 + c)); }},
        {"slow runs leaving the plot a pixel at a time", 20000,
         [](int i, int c) { return static_cast<float>(5 + 5.3 * std::sin(i * 0.002 + c)); }},
        {"values exactly on the top and bottom lines", 9000,
         [](int i, int c) { return (i + c) % 3 == 0 ? 0.0f : ((i + c) % 3 == 1 ? 10.0f : 5.0f); }},
        {"spikes, infinities and gaps", 20000,
         [](int i, int c) {
             if ((i + c) % 97 == 0)
                 return (i / 97) % 2 ? inf : -inf;
             if ((i + c) % 101 == 0)
                 return nan;
             if ((i + c) % 37 == 0)
                 return (i / 37) % 2 ? 4.0e7f : -3.0e7f;
             return static_cast<float>(5 + 2 * std::sin(i * 0.2));
         }},
        {"fewer samples than columns", 300,
         [](int i, int c) { return static_cast<float>((i * 7 + c) % 11); }},
    };
    // One channel sits in its columns without gaps and has a path of its own; three are interleaved.
    for (const int channels : {1, 3})
        for (const Case& k : cases) {
            auto document = WithChannels(channels, k.samples, k.wave);
            SetScale(*document, 0, 10);
            for (int c = 0; c < channels; ++c)
                document->settings.markPoints[c] = c != 1;
            LayoutSamples(*document, kPlot);
            const SampleAxis axis = SampleAxisOf(*document);
            const DrawRange range = VisibleSamples(document->layout, axis, kPlot);
            for (int c = 0; c < channels; ++c) {
                TracePicture whole;
                TracePicture single;
                int rememberedWhole = 7;
                int rememberedSingle = 7;
                TraceBuilder(*document, axis, kPlot, c, TraceDrawing::Merged, rememberedWhole, whole)
                    .AddRange(range);
                TraceBuilder builder(*document, axis, kPlot, c, TraceDrawing::Merged, rememberedSingle,
                                     single);
                for (int64_t n = range.first; n < range.end; ++n)
                    builder.Add(n);
                EXPECT_GT(single.lines.size(), 10U) << k.what << " channel " << c;
                EXPECT_TRUE(whole.lines == single.lines) << k.what << " channel " << c;
                EXPECT_TRUE(whole.markCentres == single.markCentres) << k.what << " channel " << c;
                EXPECT_EQ(rememberedWhole, rememberedSingle) << k.what << " channel " << c;
            }
        }
}

TEST(LiveUpdate, FirstSamplesRedrawThenOnlyTheNewestSegment) {
    LiveDocument live(50);
    std::u16string lastFunction;
    bool vScrolled = false;
    auto plan = [&] { return PlanLiveUpdate(live.document, kPlot, false, vScrolled, lastFunction).action; };
    live.Append(5);
    EXPECT_EQ(plan(), LiveAction::Redraw);
    live.Append(5);
    EXPECT_EQ(plan(), LiveAction::Redraw);
    live.Append(5);
    EXPECT_EQ(plan(), LiveAction::Redraw); // the function name is seen for the first time
    EXPECT_EQ(lastFunction, u"VDC");
    live.Append(6);
    EXPECT_EQ(plan(), LiveAction::DrawNewestSegment);
    live.Append(6, u"ACV");
    EXPECT_EQ(plan(), LiveAction::Redraw); // the meter's function changed
    live.Append(20, u"ACV");
    EXPECT_EQ(plan(), LiveAction::Redraw); // leaves the plot through the top line
    live.Append(20, u"ACV");
    EXPECT_EQ(plan(),
              LiveAction::DrawNewestSegment); // above the plot on both ends: drawn (and skipped) alone
    live.Append(5, u"ACV");
    EXPECT_EQ(PlanLiveUpdate(live.document, kPlot, true, vScrolled, lastFunction).action,
              LiveAction::Nothing);
}

TEST(LiveUpdate, GrowingWindowRedrawsOnce) {
    LiveDocument live(200);
    std::u16string lastFunction = u"VDC";
    bool vScrolled = false;
    for (int i = 0; i < 100; ++i)
        live.Append(5);
    EXPECT_EQ(PlanLiveUpdate(live.document, kPlot, false, vScrolled, lastFunction).action,
              LiveAction::DrawNewestSegment);
    live.Append(5); // the 101st sample grows the window to 109
    EXPECT_EQ(live.document.layout.liveWindow.sizes[live.document.layout.liveWindow.index], 109U);
    EXPECT_EQ(PlanLiveUpdate(live.document, kPlot, false, vScrolled, lastFunction).action,
              LiveAction::Redraw);
    EXPECT_FALSE(live.document.layout.liveWindow.grew);
    live.Append(5);
    EXPECT_EQ(PlanLiveUpdate(live.document, kPlot, false, vScrolled, lastFunction).action,
              LiveAction::DrawNewestSegment);
}

TEST(LiveUpdate, ZoomedTraceAtTheRightEdgeMovesLeftUnlessJustScrolledVertically) {
    LiveDocument live(50);
    std::u16string lastFunction;
    bool vScrolled = false;
    for (int i = 0; i < 10; ++i)
        live.Append(5);
    PlanLiveUpdate(live.document, kPlot, false, vScrolled, lastFunction);
    ChartLayout& layout = live.document.layout;
    layout.fullView = false;
    layout.horizontal.shift = 95; // pushes sample 9 past the right side
    live.Append(5);
    LivePlan plan = PlanLiveUpdate(live.document, kPlot, false, vScrolled, lastFunction);
    EXPECT_EQ(plan.action, LiveAction::Redraw);
    EXPECT_EQ(layout.horizontal.shift, 94);
    EXPECT_EQ(plan.horizontalPosition, layout.horizontal.position());

    vScrolled = true;
    live.Append(5);
    plan = PlanLiveUpdate(live.document, kPlot, false, vScrolled, lastFunction);
    EXPECT_EQ(layout.horizontal.shift, 94);
    EXPECT_FALSE(vScrolled);
    EXPECT_EQ(plan.action, LiveAction::Redraw);
}

} // namespace
} // namespace calvora
