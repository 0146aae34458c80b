// Pictures of the chart to look at: run with --gtest_also_run_disabled_tests and CALVORA_SCREENSHOT_DIR set.
#include "chart/chart_navigation.h"
#include "chart/gui/chart_view.h"
#include "tests/chart/chart_test_documents.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMouseEvent>

#include <cmath>

namespace calvora {
namespace {

void Mouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(widget.mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

float Reading(int i) {
    return static_cast<float>(4.2 + 1.1 * std::sin(i * 0.07) + 0.25 * std::sin(i * 0.9) +
                              ((i * 37) % 11) * 0.01);
}

TEST(ChartScreenshots, DISABLED_Write) {
    const QString folder = qEnvironmentVariable("CALVORA_SCREENSHOT_DIR", QDir::tempPath());

    // A live recording part way: the window has grown twice.
    testing::LiveDocument live(400, 0, 1);
    live.UseAutomaticScale();
    ChartView liveView(live.document);
    liveView.resize(1000, 640);
    liveView.grab();
    for (int i = 0; i < 115; ++i) {
        live.Append(Reading(i));
        liveView.grab();
    }
    EXPECT_TRUE(liveView.grab().save(folder + QStringLiteral("/chart-live.png")));

    // The same recording zoomed into its middle.
    Mouse(liveView, QEvent::MouseButtonPress, QPoint(350, 150), Qt::LeftButton);
    Mouse(liveView, QEvent::MouseMove, QPoint(650, 400), Qt::LeftButton);
    Mouse(liveView, QEvent::MouseButtonRelease, QPoint(650, 400), Qt::NoButton);
    EXPECT_FALSE(live.document.layout.fullView);
    EXPECT_TRUE(liveView.grab().save(folder + QStringLiteral("/chart-zoomed.png")));

    // The cursor on a finished recording.
    std::vector<float> values;
    for (int i = 0; i < 60; ++i)
        values.push_back(Reading(i * 3));
    auto document = testing::MakeDocument(values);
    document->layout.mouseMode = MouseMode::Cursor;
    ChartView cursorView(*document);
    cursorView.resize(1000, 640);
    cursorView.grab();
    Mouse(cursorView, QEvent::MouseButtonPress, QPoint(520, 300), Qt::LeftButton);
    Mouse(cursorView, QEvent::MouseMove, QPoint(540, 300), Qt::LeftButton);
    EXPECT_TRUE(cursorView.grab().save(folder + QStringLiteral("/chart-cursor.png")));
    Mouse(cursorView, QEvent::MouseButtonRelease, QPoint(540, 300), Qt::NoButton);

    const std::tm when = testing::TestPrintTime();
    EXPECT_TRUE(cursorView.PrintImage(when).save(folder + QStringLiteral("/chart-print.png")));
}

} // namespace
} // namespace calvora
