// Zoom, scrolling and the cursor of a chart, without a window.
#include "chart/chart_layout.h"
#include "chart/chart_navigation.h"
#include "tests/chart/chart_test_documents.h"

#include <gtest/gtest.h>

#include <cmath>

namespace calvora {
namespace {

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

TEST(Zoom, Verdicts) {
    struct Case {
        const char* what;
        double high; // scale 0..high
        DragRect drag;
        ZoomVerdict verdict;
    };
    const Case cases[] = {
        {"3 pixels wide", 10, {200, 100, 203, 300}, ZoomVerdict::TooSmall},
        {"3 pixels high", 10, {200, 100, 400, 103}, ZoomVerdict::TooSmall},
        {"4 pixels each way, step of 0 rows", 10, {200, 100, 204, 104}, ZoomVerdict::StepTooFine},
        {"step 7.5e-6", 0.0001, {200, 100, 400, 400}, ZoomVerdict::StepTooFine},
        {"step 7.5e-5", 0.001, {200, 100, 400, 400}, ZoomVerdict::Zoom},
        {"narrower than one sample step", 10, {200, 100, 340, 300}, ZoomVerdict::UnderOneSample},
        {"a fair rectangle", 10, {200, 100, 400, 300}, ZoomVerdict::Zoom},
    };
    for (const Case& c : cases) {
        auto document = FiveSamples();
        SetScale(*document, 0, c.high);
        LayoutSamples(*document, kPlot);
        EXPECT_EQ(CheckZoom(*document, kPlot, c.drag), c.verdict) << c.what;
    }
    auto single = MakeDocument({4});
    LayoutSamples(*single, kPlot);
    EXPECT_EQ(CheckZoom(*single, kPlot, {200, 100, 400, 300}), ZoomVerdict::TooFewSamples);
    EXPECT_EQ(NormalisedDrag(400, 300, 200, 100).left, 200);
    EXPECT_EQ(NormalisedDrag(400, 300, 200, 100).bottom, 300);
}

TEST(Zoom, ApplyZoomStretchesPositionsAndSetsTheScrollState) {
    auto document = FiveSamples();
    ChartLayout& layout = document->layout;
    layout.vertical.shift = 3; // left over from scrolling an earlier zoom
    const ZoomScroll scroll = ApplyZoom(*document, kPlot, {200, 100, 400, 300});
    EXPECT_FALSE(layout.fullView);
    EXPECT_EQ(layout.vertical.middle, 5);
    EXPECT_EQ(layout.vertical.range, 10);
    EXPECT_EQ(layout.vertical.shift, 0);
    EXPECT_DOUBLE_EQ(layout.zoomScale[0].base, 4.25); // (470 - 300) / 40
    EXPECT_DOUBLE_EQ(layout.zoomScale[0].next, 4.75); // 20 rows higher
    EXPECT_DOUBLE_EQ(layout.zoomScale[1].base, 4.25);
    EXPECT_DOUBLE_EQ(document->xPos(0, 0), 110 + 2.9 * (110 - 200));
    EXPECT_DOUBLE_EQ(document->xPos(1, 0), 110 + 2.9 * (255 - 200));
    EXPECT_EQ(layout.horizontal.origin, 0);
    EXPECT_EQ(scroll.horizontal.maximum, 5);
    EXPECT_EQ(scroll.horizontal.position, 1);
    EXPECT_EQ(scroll.vertical.maximum, 10);
    EXPECT_EQ(scroll.vertical.position, 5);

    LayoutZoomed(*document, kPlot);
    EXPECT_DOUBLE_EQ(layout.ticks[0].values[0], 4.25);
    EXPECT_DOUBLE_EQ(layout.ticks[0].values[10], 9.25);
}

TEST(Scrolling, HorizontalTable) {
    struct Case {
        ScrollRequest request;
        int64_t p;
        int64_t expected;
    };
    // N = 10 samples, a page of 4, thumb at 8.
    const Case cases[] = {
        {ScrollRequest::LineBack, 3, 2},    {ScrollRequest::LineBack, 0, 0},
        {ScrollRequest::LineForward, 3, 4}, {ScrollRequest::LineForward, 10, 10},
        {ScrollRequest::PageBack, 7, 3},    {ScrollRequest::PageBack, 4, 0},
        {ScrollRequest::PageForward, 3, 7}, {ScrollRequest::PageForward, 6, 10},
        {ScrollRequest::Track, 3, 8},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ScrollHorizontally(c.request, c.p, 10, 4, 8), c.expected)
            << static_cast<int>(c.request) << " from " << c.p;

    ChartLayout layout;
    layout.horizontal.origin = 4;
    EXPECT_EQ(layout.horizontal.position(), 5);
    layout.horizontal.SetPosition(7); // two samples on: the trace moves two samples left
    EXPECT_EQ(layout.horizontal.shift, -2);
    EXPECT_EQ(layout.horizontal.position(), 7);

    auto document = FiveSamples();
    EXPECT_EQ(HorizontalPageSamples(SampleAxisOf(*document), kPlot), 5); // 580 / 145 + 1
    EXPECT_EQ(TrackFromMouse(40000, 130, kPlot), 0);
    EXPECT_EQ(TrackFromMouse(40000, 670, kPlot), 40000);
    EXPECT_EQ(TrackFromMouse(40000, 400, kPlot), 20000);
}

TEST(Scrolling, VerticalTable) {
    struct Case {
        ScrollRequest request;
        int64_t q;
        int64_t range;
        int64_t expected;
    };
    const Case cases[] = {
        {ScrollRequest::LineBack, 5, 10, 4},     {ScrollRequest::LineBack, 0, 10, 0},
        {ScrollRequest::LineForward, 5, 10, 6},  {ScrollRequest::LineForward, 10, 10, 10},
        {ScrollRequest::PageBack, 15, 20, 5},    {ScrollRequest::PageBack, 10, 20, 0},
        {ScrollRequest::PageForward, 5, 20, 15}, {ScrollRequest::PageForward, 10, 20, 20},
        {ScrollRequest::Track, 5, 20, 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ScrollVertically(c.request, c.q, c.range, 7), c.expected)
            << static_cast<int>(c.request) << " from " << c.q;

    ChartLayout layout;
    layout.vertical.range = 10;
    layout.vertical.middle = 5;
    EXPECT_EQ(layout.vertical.position(), 5);
    layout.vertical.SetPosition(4); // line up: the scale moves up one zoom step
    EXPECT_EQ(layout.vertical.shift, 1);
    layout.vertical.SetPosition(5); // the thumb back where the zoom put it: no shift
    EXPECT_EQ(layout.vertical.shift, 0);
}

TEST(Scrolling, WheelOnlyWhileZoomedAndInsideTheSamples) {
    ChartLayout layout;
    EXPECT_FALSE(WheelScroll(layout, 10, 120)); // full view
    layout.fullView = false;
    layout.horizontal.origin = 3; // P = 4
    EXPECT_EQ(WheelScroll(layout, 10, 120), 3);
    EXPECT_EQ(layout.horizontal.shift, 1); // forward shows earlier samples
    EXPECT_EQ(WheelScroll(layout, 10, -240), 4);
    EXPECT_EQ(layout.horizontal.shift, 0); // one sample per message whatever the delta
    EXPECT_FALSE(WheelScroll(layout, 10, 0));
    layout.horizontal.shift = 4; // P = 0
    EXPECT_FALSE(WheelScroll(layout, 10, 120));
    layout.horizontal.shift = -6; // P = 10 = N
    EXPECT_FALSE(WheelScroll(layout, 10, -120));
}

TEST(Scrolling, DragCancelDistance) {
    EXPECT_TRUE(FarOutsidePlot(kPlot, 740, 200));
    EXPECT_FALSE(FarOutsidePlot(kPlot, 739, 200));
    EXPECT_TRUE(FarOutsidePlot(kPlot, 60, 200));
    EXPECT_FALSE(FarOutsidePlot(kPlot, 61, 200));
    EXPECT_TRUE(FarOutsidePlot(kPlot, 300, 520));
    EXPECT_TRUE(FarOutsidePlot(kPlot, 300, 20));
    EXPECT_FALSE(FarOutsidePlot(kPlot, 300, 21));
}

TEST(Cursor, SnapsToTheNearestSampleInsideTheRecording) {
    auto document = FiveSamples();
    struct Case {
        int mouseX;
        uint32_t row;
        double x;
    };
    const Case cases[] = {
        {110, 0, 110}, {182, 0, 110}, {183, 1, 255}, {400, 2, 400}, {690, 4, 690}, {800, 4, 690}, {0, 0, 110},
    };
    for (const Case& c : cases) {
        const auto pick = CursorSample(*document, c.mouseX);
        ASSERT_TRUE(pick) << c.mouseX;
        EXPECT_EQ(pick->row, c.row) << c.mouseX;
        EXPECT_DOUBLE_EQ(pick->x, c.x) << c.mouseX;
    }
    // Zoomed and scrolled right so that sample 1 is drawn at 400: left of it the first sample is taken.
    document->layout.fullView = false;
    document->layout.horizontal.shift = 2;
    const auto left = CursorSample(*document, 200);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->row, 0U);
    EXPECT_DOUBLE_EQ(left->x, 400);

    auto single = MakeDocument({3});
    LayoutSamples(*single, kPlot);
    EXPECT_FALSE(CursorSample(*single, 110));
}

TEST(Cursor, NearestChannelFirstWinsTies) {
    auto document = FiveSamples();
    EXPECT_EQ(NearestChannel(*document, 0, 0), 0);
    RecordingDocument two;
    two.SetChannelCount(2);
    two.FillRows(1);
    two.SetYPos(0, 0, 100);
    two.SetYPos(0, 1, 200);
    EXPECT_EQ(NearestChannel(two, 0, 160), 1);
    EXPECT_EQ(NearestChannel(two, 0, 150), 0);
    EXPECT_EQ(NearestChannel(two, 0, 120), 0);
}

TEST(Cursor, ReadoutTexts) {
    auto document = MakeDocument({12.5f, 2000});
    const auto first = ReadoutTexts(*document, 0, 0);
    EXPECT_EQ(first[kReadoutNumber], u"1");
    EXPECT_EQ(first[kReadoutChannel], u"VDC");
    EXPECT_EQ(first[kReadoutFunction], u"DC");
    EXPECT_EQ(first[kReadoutValue], u"12.500V");
    EXPECT_EQ(first[kReadoutTime], testing::kTestTime);
    EXPECT_EQ(ReadoutTexts(*document, 1, 0)[kReadoutValue], u"OLV"); // above the full scale of 1000
}

} // namespace
} // namespace calvora
