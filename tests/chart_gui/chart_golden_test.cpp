// A fixed set of charts written as PNG files, to compare a change of the drawing code pixel for pixel with
// the code before it: run with --gtest_also_run_disabled_tests --gtest_filter='ChartGolden.*' and
// CALVORA_GOLDEN_DIR set, once per version, then compare the folders (cmp or sha256sum).
#include "chart/chart_layout.h"
#include "chart/gui/chart_view.h"
#include "chart/model/chart_model.h"
#include "recording/recording_document.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMouseEvent>

#include <cmath>
#include <memory>

namespace calvora {
namespace {

void Mouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(widget.mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

enum class Shape { Smooth, Noisy, Spiky };

float Reading(int64_t i, Shape shape, int channel) {
    const double t = static_cast<double>(i);
    const double drift = 5 + 3 * std::sin(t * 0.002) + channel * 1.7;
    switch (shape) {
    case Shape::Smooth:
        return static_cast<float>(drift + static_cast<double>((i * 7919) % 13) * 0.002);
    case Shape::Noisy:
        return static_cast<float>(drift + 1.5 * std::sin(t * 0.37) +
                                  static_cast<double>((i * 7919) % 13) * 0.05);
    case Shape::Spiky:
        return static_cast<float>(i % 7 == 0 ? 5000.0 : drift);
    }
    return 0;
}

std::unique_ptr<RecordingDocument> Recording(uint32_t samples, Shape shape, int channels, bool marks) {
    auto document = std::make_unique<RecordingDocument>();
    ApplyNewChartDefaults(*document);
    document->SetChannelCount(static_cast<uint8_t>(channels));
    document->FillRows(samples);
    for (uint32_t row = 0; row < samples; ++row) {
        for (int channel = 0; channel < channels; ++channel)
            document->SetValue(row, channel, Reading(row, shape, channel), 1000);
        document->SetLowLimit(row, -1000);
        document->SetTexts(row, u"VDC", u"DC", u"V", u" 05/03/17 14:22:10");
    }
    SetLimitsFromSamples(*document);
    for (auto& mark : document->settings.markPoints)
        mark = marks ? 1 : 0;
    return document;
}

TEST(ChartGolden, DISABLED_Write) {
    const QString folder = qEnvironmentVariable("CALVORA_GOLDEN_DIR", QDir::tempPath());
    struct Size {
        int width;
        int height;
    };
    const Size sizes[] = {{1920, 1080}, {1003, 611}, {700, 205}, {700, 260}, {700, 400}};
    const uint32_t counts[] = {0, 1, 2, 17, 500, 5000, 20000, 65535};
    int written = 0;
    // One program's charts, one after the other, as in the desktop program: they share the remembered marks.
    ChartHooks hooks;
    hooks.shared = std::make_shared<SharedChartState>();
    for (const bool marks : {true, false}) {
        for (const uint32_t count : counts) {
            for (const Shape shape : {Shape::Smooth, Shape::Noisy, Shape::Spiky}) {
                if (count < 500 && shape != Shape::Noisy)
                    continue;
                for (const int channels : {1, 3}) {
                    for (const Size size : sizes) {
                        if (size.width != 1920 && (count != 5000 || channels != 1))
                            continue;
                        auto document = Recording(count, shape, channels, marks);
                        if (count == 500 && shape == Shape::Smooth)
                            document->settings.gridVisible = 0;
                        ChartView view(*document, hooks);
                        view.resize(size.width, size.height);
                        const QString name = QStringLiteral("%1/c%2-s%3-ch%4-m%5-%6x%7")
                                                 .arg(folder)
                                                 .arg(count)
                                                 .arg(static_cast<int>(shape))
                                                 .arg(channels)
                                                 .arg(marks ? 1 : 0)
                                                 .arg(size.width)
                                                 .arg(size.height);
                        ASSERT_TRUE(view.grab().save(name + QStringLiteral(".png")));
                        ++written;
                        if (count >= 500 && size.width == 1920 && channels == 1) {
                            // Two zoom levels: a rubber band into the middle, then into its middle again.
                            Mouse(view, QEvent::MouseButtonPress, QPoint(600, 300), Qt::LeftButton);
                            Mouse(view, QEvent::MouseMove, QPoint(1300, 800), Qt::LeftButton);
                            Mouse(view, QEvent::MouseButtonRelease, QPoint(1300, 800), Qt::NoButton);
                            ASSERT_TRUE(view.grab().save(name + QStringLiteral("-zoom1.png")));
                            Mouse(view, QEvent::MouseButtonPress, QPoint(800, 400), Qt::LeftButton);
                            Mouse(view, QEvent::MouseMove, QPoint(1000, 600), Qt::LeftButton);
                            Mouse(view, QEvent::MouseButtonRelease, QPoint(1000, 600), Qt::NoButton);
                            ASSERT_TRUE(view.grab().save(name + QStringLiteral("-zoom2.png")));
                            written += 2;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(written, 80);
}

} // namespace
} // namespace calvora
