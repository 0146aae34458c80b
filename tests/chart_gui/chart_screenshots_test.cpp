// Pictures of the chart to look at: run with --gtest_also_run_disabled_tests and CALVORA_SCREENSHOT_DIR set.
#include "chart/chart_navigation.h"
#include "chart/gui/chart_view.h"
#include "chart/gui/time_chart_view.h"
#include "chart/time_series.h"
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

// A log of three meters on a bench: a supply's voltage, its load current and a heat sink's temperature, the
// current's meter losing its link for three minutes, the thermometer joining later, and all three stopping
// while the receivers were unplugged; the pointer's readout above the chart.
TEST(ChartScreenshots, DISABLED_WriteSeveralMeters) {
    const QString folder = qEnvironmentVariable("CALVORA_SCREENSHOT_DIR", QDir::tempPath());
    constexpr int64_t kStart = 1'796'000'000'000;
    constexpr int64_t kMinute = 60'000;
    VectorTimeSeries volts;
    VectorTimeSeries amps;
    VectorTimeSeries celsius;
    double heat = 24;
    for (int64_t t = 0; t < 120 * kMinute; t += 2000) {
        const double load = (t / (20 * kMinute)) % 2 == 0 ? 0.6 : 1.6;
        heat += (24 + 22 * load - heat) * 0.002;
        if (t >= 70 * kMinute && t < 76 * kMinute)
            continue; // unplugged
        const int64_t i = t / 2000;
        const double noise = static_cast<double>((i * 7919) % 13) / 13.0 - 0.5;
        if (t == 76 * kMinute) {
            volts.AddGap(kStart + 70 * kMinute - 2000);
            amps.AddGap(kStart + 70 * kMinute - 2000);
            celsius.AddGap(kStart + 70 * kMinute - 2000);
        }
        volts.Append(kStart + t, static_cast<float>(12.1 - 0.25 * load + 0.02 * noise));
        if (t < 30 * kMinute || t >= 33 * kMinute) {
            if (t == 33 * kMinute)
                amps.AddGap(kStart + 30 * kMinute - 2000);
            amps.Append(kStart + t, static_cast<float>(load + 0.05 * noise));
        }
        if (t >= 12 * kMinute)
            celsius.Append(kStart + t, static_cast<float>(heat + 0.1 * noise));
    }
    TimeChartView view;
    view.resize(1178, 648);
    view.SetTraces({{&volts, QStringLiteral("Supply voltage"), QStringLiteral("V")},
                    {&amps, QStringLiteral("Load current"), QStringLiteral("A")},
                    {&celsius, QStringLiteral("Heat sink"), QStringLiteral("°C")}});
    view.grab();
    const PlotRect plot = view.plot();
    Mouse(view, QEvent::MouseMove, QPoint(plot.left + plot.width() * 3 / 5, plot.top + 100), Qt::NoButton);
    EXPECT_TRUE(view.grab().save(folder + QStringLiteral("/log-several-meters.png")));
}

} // namespace
} // namespace calvora
