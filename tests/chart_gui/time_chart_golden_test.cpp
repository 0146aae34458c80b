// A fixed set of time charts written as PNG files, to compare a change of the drawing code pixel for pixel
// with the code before it: run with --gtest_also_run_disabled_tests --gtest_filter='TimeChartGolden.*' and
// CALVORA_GOLDEN_DIR set, once per version, then compare the folders (cmp or sha256sum).
#include "chart/gui/time_chart_view.h"
#include "chart/time_series.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include <cmath>
#include <limits>
#include <vector>

namespace calvora {
namespace {

constexpr int64_t kStart = 1'796'000'000'000;

// Readings a second apart for `count` seconds; a gap of a minute after a third of them and an overload
// at two thirds when `flawed`.
VectorTimeSeries Series(int count, bool flawed) {
    VectorTimeSeries series;
    int64_t time = kStart;
    for (int i = 0; i < count; ++i) {
        if (flawed && i == count / 3 && i > 0) {
            series.AddGap(time);
            time += 60'000;
        }
        const bool overload = flawed && i == 2 * count / 3;
        series.Append(time, overload
                                ? std::numeric_limits<float>::quiet_NaN()
                                : static_cast<float>(3 + 2 * std::sin(i * 0.03) + (i * 7919 % 13) * 0.01));
        time += 1000;
    }
    return series;
}

TEST(TimeChartGolden, DISABLED_Write) {
    const QString folder = qEnvironmentVariable("CALVORA_GOLDEN_DIR", QDir::tempPath());
    const QSize sizes[] = {{1920, 1080}, {1003, 611}, {640, 300}};
    int written = 0;
    for (const int count : {0, 1, 2, 500, 20000}) {
        for (const bool flawed : {false, true}) {
            if (count < 500 && flawed)
                continue;
            const VectorTimeSeries series = Series(count, flawed);
            for (const QSize size : sizes) {
                for (const bool zoomed : {false, true}) {
                    if (zoomed && count < 500)
                        continue;
                    TimeChartView view;
                    view.resize(size);
                    view.SetSeries(&series);
                    view.SetUnit(QStringLiteral("V"));
                    if (zoomed) {
                        TimeWindow window = view.window();
                        window.startMs = kStart + (count / 4) * 1000;
                        window.endMs = window.startMs + 120'000;
                        window.values = {2.5, 4.5};
                        window.zoomed = true;
                        view.SetWindow(window);
                    }
                    QImage image(size, QImage::Format_RGB32);
                    view.Render(image);
                    const QString name = QStringLiteral("%1/time-c%2-f%3-z%4-%5x%6.png")
                                             .arg(folder)
                                             .arg(count)
                                             .arg(flawed ? 1 : 0)
                                             .arg(zoomed ? 1 : 0)
                                             .arg(size.width())
                                             .arg(size.height());
                    ASSERT_TRUE(image.save(name));
                    ++written;
                }
            }
        }
    }
    // Two and three traces on scales of their own, one of them with a gap and an overload.
    const VectorTimeSeries voltage = Series(3000, false);
    const VectorTimeSeries current = Series(2000, true);
    VectorTimeSeries temperature;
    for (int i = 0; i < 2500; ++i)
        temperature.Append(kStart + 400'000 + i * 1000, static_cast<float>(21.5 + 40 * std::sin(i * 0.002)));
    for (const int count : {2, 3}) {
        std::vector<TimeChartTrace> traces = {
            {&voltage, QStringLiteral("Supply voltage"), QStringLiteral("V")},
            {&current, QStringLiteral("Load current"), QStringLiteral("mA")},
            {&temperature, QStringLiteral("Heat sink"), QStringLiteral("°C")}};
        traces.resize(static_cast<size_t>(count));
        for (const QSize size : sizes) {
            TimeChartView view;
            view.resize(size);
            view.SetTraces(traces);
            QImage image(size, QImage::Format_RGB32);
            view.Render(image);
            ASSERT_TRUE(image.save(QStringLiteral("%1/time-traces%2-%3x%4.png")
                                       .arg(folder)
                                       .arg(count)
                                       .arg(size.width())
                                       .arg(size.height())));
            ++written;
        }
    }
    EXPECT_GT(written, 0);
}

} // namespace
} // namespace calvora
