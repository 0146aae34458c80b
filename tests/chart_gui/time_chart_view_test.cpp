// The time chart as the user drives it: keys, the wheel, a dragged band and a double click move and zoom
// the window, and a zoomed window stays put while the series grows; several traces on their own scales.
#include "chart/gui/chart_controls.h"
#include "chart/gui/time_chart_view.h"
#include "chart/time_series.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace calvora {
namespace {

constexpr int64_t kStart = 1'796'000'000'000;

class TimeChartViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 1000; ++i)
            series.Append(kStart + 1000LL * i, static_cast<float>(std::sin(i * 0.05)));
        view.resize(800, 500);
        view.SetSeries(&series);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    int64_t span() const { return view.window().spanMs(); }

    VectorTimeSeries series;
    TimeChartView view;
};

TEST_F(TimeChartViewTest, KeysZoomScrollAndReturnToTheWholeSeries) {
    EXPECT_FALSE(view.window().zoomed);
    EXPECT_EQ(view.window().startMs, kStart);
    EXPECT_EQ(view.window().endMs, kStart + 999'000);
    EXPECT_FALSE(view.scrollBar()->isEnabled());

    QTest::keyClick(&view, Qt::Key_Plus);
    ASSERT_TRUE(view.window().zoomed);
    EXPECT_NEAR(static_cast<double>(span()), 0.8 * 999'000, 1000);
    QTest::qWait(1); // the scroll bar follows at the next paint
    view.repaint();
    EXPECT_TRUE(view.scrollBar()->isEnabled());

    const int64_t before = view.window().startMs;
    const int64_t zoomedSpan = span();
    QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_GT(view.window().startMs, before);
    EXPECT_EQ(span(), zoomedSpan);
    // Scrolling stops at the series' end.
    for (int i = 0; i < 30; ++i)
        QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_LE(view.window().endMs, series.lastTime() + 1000);
    EXPECT_GE(view.window().endMs, series.lastTime() - 1000);

    QTest::keyClick(&view, Qt::Key_Minus);
    EXPECT_GT(span(), zoomedSpan);
    QTest::keyClick(&view, Qt::Key_Home);
    EXPECT_FALSE(view.window().zoomed);
    EXPECT_EQ(view.window().startMs, kStart);
}

TEST_F(TimeChartViewTest, ADraggedBandZoomsToItsTimesAndADoubleClickShowsEverything) {
    const PlotRect plot = view.plot();
    const int left = plot.left + plot.width() / 4;
    const int right = plot.left + plot.width() / 2;
    const int y = plot.top + plot.height() / 2;
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(left, plot.top + 10));
    QTest::mouseMove(&view, QPoint(right, y + 50));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(right, y + 50));
    ASSERT_TRUE(view.window().zoomed);
    // A quarter of the plot's width: a quarter of the series' span, starting a quarter in.
    EXPECT_NEAR(static_cast<double>(view.window().startMs - kStart), 999'000 / 4.0, 999'000 * 0.01);
    EXPECT_NEAR(static_cast<double>(span()), 999'000 / 4.0, 999'000 * 0.01);

    QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(right, y));
    EXPECT_FALSE(view.window().zoomed);

    // With Ctrl the wheel zooms around the pointer; without, it scrolls.
    QWheelEvent zoomIn(QPointF(plot.left + plot.width() / 2.0, y), view.mapToGlobal(QPointF(0, 0)), {},
                       {0, 120}, Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &zoomIn);
    EXPECT_TRUE(view.window().zoomed);
    EXPECT_NEAR(static_cast<double>(span()), 0.8 * 999'000, 1000);
    const int64_t before = view.window().startMs;
    QWheelEvent scroll(QPointF(plot.left + 10.0, y), view.mapToGlobal(QPointF(0, 0)), {}, {0, 120},
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &scroll);
    EXPECT_LT(view.window().startMs, before);
}

// A zoomed window stays where it is while readings arrive; the whole series takes them in.
TEST_F(TimeChartViewTest, AZoomedWindowStaysWhileTheSeriesGrows) {
    QTest::keyClick(&view, Qt::Key_Plus);
    const TimeWindow zoomed = view.window();
    series.Append(kStart + 2'000'000, 0.5f);
    view.SeriesChanged();
    EXPECT_EQ(view.window().startMs, zoomed.startMs);
    EXPECT_EQ(view.window().endMs, zoomed.endMs);
    QTest::keyClick(&view, Qt::Key_Home);
    EXPECT_EQ(view.window().endMs, kStart + 2'000'000);
}

// Several traces, each drawn in its colour on its own scale: every pixel of a trace lies between the rows
// of its own extremes and reaches both; a second trace gets the right axis, a third one further out, for
// which the plot narrows. One trace given as a list draws as SetSeries does.
TEST(TimeChartTraces, EachTraceFillsItsOwnScaleAndHasItsOwnAxis) {
    // Slow sines a thousandfold apart, with a period short enough to swing fully in any quarter.
    VectorTimeSeries series[3];
    for (int i = 0; i < 3000; ++i) {
        const double phase = i * 0.05 + 1.3 * static_cast<double>(i % 3);
        series[0].Append(kStart + 1000LL * i, static_cast<float>(2 + std::sin(phase)));
        series[1].Append(kStart + 1000LL * i, static_cast<float>(2000 + 500 * std::sin(phase + 1)));
        series[2].Append(kStart + 1000LL * i, static_cast<float>(-0.004 + 0.001 * std::sin(phase + 2)));
    }
    const double extremes[3][2] = {{1, 3}, {1500, 2500}, {-0.005, -0.003}};
    for (const size_t count : {2u, 3u}) {
        std::vector<TimeChartTrace> traces;
        for (size_t i = 0; i < count; ++i)
            traces.push_back({&series[i], QStringLiteral("Meter %1").arg(i + 1), QStringLiteral("V")});
        TimeChartView view;
        view.resize(1200, 600);
        view.SetTraces(traces);
        QImage image(view.size(), QImage::Format_RGB32);
        view.Render(image);
        const PlotRect plot = view.plot();
        if (count == 3) {
            EXPECT_LT(plot.right, PlotFromClient(1200, 600).right) << "room for the third axis";
        }
        const TimeWindow window = view.window();
        ASSERT_EQ(window.scaleCount(), count);
        for (size_t i = 0; i < count; ++i) {
            const QRgb colour = ColourFromRef(TraceColour(i)).rgb();
            const double top = window.scale(i).Y(plot, extremes[i][1]);
            const double bottom = window.scale(i).Y(plot, extremes[i][0]);
            int highest = plot.bottom;
            int lowest = plot.top;
            int pixels = 0;
            // The right half: the legend lies in the top left corner.
            for (int y = plot.top + 1; y < plot.bottom; ++y) {
                for (int x = plot.left + plot.width() / 2; x < plot.right; ++x) {
                    if (image.pixel(x, y) != colour)
                        continue;
                    ++pixels;
                    highest = std::min(highest, y);
                    lowest = std::max(lowest, y);
                }
            }
            EXPECT_GT(pixels, 100) << "trace " << i << " of " << count;
            EXPECT_NEAR(highest, top, 2) << "trace " << i << " of " << count;
            EXPECT_NEAR(lowest, bottom, 2) << "trace " << i << " of " << count;
        }
        // An axis is a black column over the plot's height; one right of the plot only for a third trace.
        auto axisAt = [&](int x) {
            for (int y = plot.top; y <= plot.bottom; ++y)
                if (image.pixel(x, y) != qRgb(0, 0, 0))
                    return false;
            return true;
        };
        int outerAxes = 0;
        for (int x = plot.right + 1; x < image.width(); ++x)
            outerAxes += axisAt(x);
        EXPECT_TRUE(axisAt(plot.right));
        EXPECT_EQ(outerAxes, count == 3 ? 1 : 0);
    }

    TimeChartView single;
    single.resize(700, 400);
    single.SetSeries(&series[0]);
    single.SetUnit(QStringLiteral("V"));
    QImage expected(single.size(), QImage::Format_RGB32);
    single.Render(expected);
    TimeChartView listed;
    listed.resize(700, 400);
    listed.SetTraces({{&series[0], QStringLiteral("Meter"), QStringLiteral("V")}});
    QImage drawn(listed.size(), QImage::Format_RGB32);
    listed.Render(drawn);
    EXPECT_EQ(drawn, expected);
}

} // namespace
} // namespace calvora
