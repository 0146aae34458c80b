// The time chart as the user drives it: keys, the wheel, a dragged band and a double click move and zoom
// the window, and a zoomed window stays put while the series grows.
#include "chart/gui/time_chart_view.h"
#include "chart/time_series.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <cmath>

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

} // namespace
} // namespace calvora
