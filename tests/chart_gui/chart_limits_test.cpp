// The chart's side of the measurement aids: a drag with Shift picks a range of samples, and the limits in
// force are drawn as dashed lines with a mark on every sample beyond one.
#include "chart/gui/chart_view.h"
#include "tests/chart/chart_test_documents.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

namespace calvora {
namespace {

using testing::MakeDocument;
using testing::SetScale;

int CountColour(const QImage& image, const QRect& area, QRgb colour) {
    int count = 0;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += image.pixel(x, y) == colour ? 1 : 0;
    return count;
}

void SendShifted(QWidget& widget, QEvent::Type type, QPoint at) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(widget.mapToGlobal(at)), button, held, Qt::ShiftModifier);
    QApplication::sendEvent(&widget, &event);
}

void ShiftDrag(QWidget& widget, int fromX, int toX) {
    SendShifted(widget, QEvent::MouseButtonPress, QPoint(fromX, 300));
    SendShifted(widget, QEvent::MouseMove, QPoint((fromX + toX) / 2, 250));
    SendShifted(widget, QEvent::MouseMove, QPoint(toX, 200));
    SendShifted(widget, QEvent::MouseButtonRelease, QPoint(toX, 200));
}

// Eleven samples 0 .. 10 on a 0 .. 10 scale in an 800 x 600 view: plot (110, 70) - (690, 470), sample n at
// x = 110 + 58 (n - 1), value v at y = 470 - 40 v.
std::unique_ptr<RecordingDocument> Ramp() {
    auto document = MakeDocument({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    SetScale(*document, 0, 10);
    return document;
}

TEST(ChartSelection, AShiftDragPicksTheSamplesUnderItAndAShiftClickLetsThemGo) {
    auto document = Ramp();
    ChartView view(*document);
    view.resize(800, 600);
    view.grab();
    EXPECT_EQ(document->layout.shown, (SampleRange{1, 11}));

    ShiftDrag(view, 400, 160); // right to left, from sample 6 to just left of sample 2
    EXPECT_EQ(document->layout.selection, (SampleRange{2, 6}));
    EXPECT_TRUE(document->layout.fullView) << "a selection is no zoom";
    const QImage& image = (view.grab(), view.backBuffer());
    EXPECT_GT(CountColour(image, QRect(200, 80, 150, 1), kSelectionColour), 100) << "the band is drawn";
    EXPECT_EQ(CountColour(image, QRect(450, 80, 200, 1), kSelectionColour), 0) << "and nowhere else";

    SendShifted(view, QEvent::MouseButtonPress, QPoint(300, 300));
    SendShifted(view, QEvent::MouseButtonRelease, QPoint(301, 300));
    EXPECT_EQ(document->layout.selection.count(), 0);
}

TEST(ChartLimits, DashedLinesAtTheLimitsInForceAndAMarkOnEverySampleBeyond) {
    auto document = Ramp();
    document->limits.high = 8.5;
    document->limits.low = 1.5;
    ChartView view(*document);
    view.resize(800, 600);
    const QImage* image = &(view.grab(), view.backBuffer());
    const int highRow = 470 - 340; // 8.5
    const int lowRow = 470 - 60;   // 1.5
    const QRect highLine(150, highRow, 300, 1);
    const int dashes = CountColour(*image, highLine, kLimitColour);
    EXPECT_GT(dashes, 100);
    EXPECT_LT(dashes, 300) << "dashed, not solid";
    EXPECT_GT(CountColour(*image, QRect(150, lowRow, 300, 1), kLimitColour), 100);
    // Sample 10 (9) lies above, sample 2 (1) below; sample 9 (8) lies inside.
    for (const QPoint sample : {QPoint(632, 110), QPoint(168, 430)})
        EXPECT_GE(CountColour(*image, QRect(sample - QPoint(2, 2), QSize(5, 5)), kLimitColour), 9)
            << sample.x() << "," << sample.y();
    EXPECT_EQ(CountColour(*image, QRect(572, 148, 5, 5), kLimitColour), 0) << "sample 9 is inside";

    // The channel's "Alarm High" flag off: the high limit is no longer drawn nor marked.
    document->settings.alarmHigh[0] = 0;
    document->AnnounceSettingsChanged();
    image = &(view.grab(), view.backBuffer());
    EXPECT_EQ(CountColour(*image, highLine, kLimitColour), 0);
    EXPECT_EQ(CountColour(*image, QRect(630, 108, 5, 5), kLimitColour), 0);
    EXPECT_GT(CountColour(*image, QRect(150, lowRow, 300, 1), kLimitColour), 100);
}

} // namespace
} // namespace calvora
