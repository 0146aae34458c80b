#include "chart/chart_navigation.h"
#include "chart/gui/chart_toolbar.h"
#include "chart/gui/chart_view.h"
#include "chart/gui/cursor_readout.h"
#include "chart/pixel_raster.h"
#include "recording/recording_state.h"
#include "tests/chart/chart_test_documents.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <cmath>

namespace calvora {
namespace {

using testing::LiveDocument;
using testing::MakeDocument;
using testing::SetScale;

constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kBackground = 0xFFC8C8C8;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;

int CountPixels(const QImage& image, const QRect& area, QRgb colour) {
    int count = 0;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += image.pixel(x, y) == colour ? 1 : 0;
    return count;
}

int CountDark(const QImage& image, const QRect& area) {
    int count = 0;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    return count;
}

// Paints the view as the screen would and gives the back buffer.
const QImage& Painted(ChartView& view) {
    view.grab();
    return view.backBuffer();
}

void SendMouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(widget.mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

void Press(QWidget& w, QPoint at) {
    SendMouse(w, QEvent::MouseButtonPress, at, Qt::LeftButton);
}
void Drag(QWidget& w, QPoint at) {
    SendMouse(w, QEvent::MouseMove, at, Qt::LeftButton);
}
void Hover(QWidget& w, QPoint at) {
    SendMouse(w, QEvent::MouseMove, at, Qt::NoButton);
}
void Release(QWidget& w, QPoint at) {
    SendMouse(w, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

void Wheel(QWidget& widget, int delta) {
    const QPointF at(300, 300);
    QWheelEvent event(at, widget.mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&widget, &event);
}

class ChartViewTest : public ::testing::Test {
protected:
    // An 800 x 600 view: plot (110, 70) - (690, 470).
    std::unique_ptr<ChartView> MakeView(RecordingDocument& document, QSize size = QSize(800, 600)) {
        auto view = std::make_unique<ChartView>(document);
        view->resize(size);
        return view;
    }
};

TEST_F(ChartViewTest, EmptyPlotShowsBackgroundAndGridOnly) {
    RecordingDocument document;
    ApplyNewChartDefaults(document);
    auto view = MakeView(document);
    const QImage& image = Painted(*view);
    EXPECT_EQ(image.size(), QSize(800, 600));
    EXPECT_EQ(image.pixel(400, 290), kBackground);
    EXPECT_GT(CountPixels(image, QRect(110, 110, 580, 1), kWhite), 200); // a dotted grid line
    EXPECT_EQ(CountPixels(image, image.rect(), kBlack), 0);              // no frame, ticks or labels
    EXPECT_FALSE(view->horizontalBar()->isEnabled());
    EXPECT_FALSE(view->verticalBar()->isEnabled());
}

TEST_F(ChartViewTest, OneSampleHasOneTickAndNoSegment) {
    auto document = MakeDocument({3});
    auto view = MakeView(*document);
    const QImage& image = Painted(*view);
    EXPECT_EQ(CountPixels(image, image.rect(), kRed), 0);
    EXPECT_EQ(CountPixels(image, QRect(111, 290, 579, 1), kWhite), 0); // no vertical grid
    EXPECT_EQ(CountPixels(image, QRect(110, 473, 1, 6), kBlack), 6);   // the sample tick at the left side
    EXPECT_GT(CountDark(image, QRect(104, 478, 16, 16)), 5);           // its label "1"
    EXPECT_EQ(CountDark(image, QRect(130, 474, 560, 30)), 0);          // and no other
}

TEST_F(ChartViewTest, TwoSamplesSpanThePlot) {
    auto document = MakeDocument({1, 2});
    auto view = MakeView(*document);
    const QImage& image = Painted(*view);
    for (int x = 111; x < 690; ++x)
        ASSERT_GT(CountPixels(image, QRect(x, 71, 1, 399), kRed), 0) << "column " << x;
    EXPECT_EQ(CountPixels(image, QRect(0, 0, 110, 600), kRed), 0);
    EXPECT_EQ(CountPixels(image, QRect(691, 0, 109, 600), kRed), 0);
}

TEST_F(ChartViewTest, ValueAboveTheScaleIsCutAtTheTop) {
    auto document = MakeDocument({5, 5, 100});
    SetScale(*document, 0, 10);
    auto view = MakeView(*document);
    const QImage& image = Painted(*view);
    EXPECT_GT(CountPixels(image, QRect(400, 71, 290, 1), kRed), 0); // drawn up to the top
    EXPECT_EQ(CountPixels(image, QRect(0, 0, 800, 70), kRed), 0);   // and cut there
}

TEST_F(ChartViewTest, NoGridWhenHidden) {
    auto document = MakeDocument({1, 2, 3, 4});
    document->settings.gridVisible = 0;
    auto view = MakeView(*document);
    EXPECT_EQ(CountPixels(Painted(*view), QRect(110, 70, 581, 401), kWhite), 0);
    document->settings.gridVisible = 1;
    view->RedrawChart();
    EXPECT_GT(CountPixels(Painted(*view), QRect(110, 70, 581, 401), kWhite), 0);
}

TEST_F(ChartViewTest, ClientTwoHundredHighPaintsNothing) {
    auto document = MakeDocument({1, 2, 3});
    auto view = MakeView(*document, QSize(800, 200));
    QImage image;
    EXPECT_FALSE(view->OnDraw(image));
    const QRgb face = image.pixel(0, 0);
    EXPECT_EQ(CountPixels(image, image.rect(), face), 800 * 200);
    EXPECT_FALSE(IsPlotValid(view->plot()));
}

TEST_F(ChartViewTest, LiveSegmentsDrawTheSamePictureAsAFullPaint) {
    LiveDocument live(60);
    auto view = MakeView(live.document);
    Painted(*view);
    for (int i = 0; i < 40; ++i) {
        const int before = CountPixels(view->backBuffer(), QRect(110, 70, 581, 401), kRed);
        live.Append(static_cast<float>(2 + (i * 7) % 6));
        // After the first three samples only the newest segment is drawn, at once; a sample that gets a label
        // (every 13th in a window of 100) repaints the chart instead.
        if (i >= 3 && i % 13 != 0) {
            EXPECT_GT(CountPixels(view->backBuffer(), QRect(110, 70, 581, 401), kRed), before) << i;
        }
        Painted(*view);
    }
    const QImage incremental = view->backBuffer().copy();
    view->RedrawChart();
    EXPECT_EQ(Painted(*view), incremental);
}

TEST_F(ChartViewTest, ChartsOfOneProgramShareTheRememberedMarkColumn) {
    // Two samples of 5 on 0..10: one segment along y = 270 from the plot's left side, x = 110.
    auto first = MakeDocument({5, 5});
    auto second = MakeDocument({5, 5});
    SetScale(*first, 0, 10);
    SetScale(*second, 0, 10);
    auto marked = [](ChartView& view) { return Painted(view).pixel(111, 269) == kRed; };

    ChartHooks hooks;
    hooks.shared = std::make_shared<SharedChartState>();
    ChartView firstView(*first, hooks);
    firstView.resize(800, 600);
    EXPECT_TRUE(marked(firstView));
    EXPECT_EQ(hooks.shared->markedX[0], 110);
    // The second chart of the program starts in the column the first one marked last: no mark there.
    ChartView secondView(*second, hooks);
    secondView.resize(800, 600);
    EXPECT_FALSE(marked(secondView));
    // A chart on its own remembers nothing yet.
    auto alone = MakeView(*second);
    EXPECT_TRUE(marked(*alone));
}

TEST_F(ChartViewTest, StopsListeningToItsDocumentWhenDestroyedFirst) {
    auto document = MakeDocument({1, 2, 3, 4});
    auto view = MakeView(*document);
    EXPECT_EQ(document->listenerCount(), 1u);
    view.reset();
    EXPECT_EQ(document->listenerCount(), 0u);
    document->AnnounceSettingsChanged(); // nobody left to hear it
}

TEST_F(ChartViewTest, CrosshairDrawnTwiceRestoresThePicture) {
    auto document = MakeDocument({1.5f, 2.5f, 3.5f, 4.5f, 5.5f});
    SetScale(*document, 0, 10);
    document->layout.mouseMode = MouseMode::Cursor;
    auto view = MakeView(*document);
    const QImage before = Painted(*view).copy();

    Press(*view, QPoint(255, 300)); // sample 2 at (255, 370)
    const QImage first = view->backBuffer().copy();
    EXPECT_NE(first, before);
    EXPECT_EQ(first.pixel(300, 370), kBlack); // the crosshair is black on the background
    ASSERT_NE(view->readout(), nullptr);
    EXPECT_EQ(view->readout()->Text(0), QStringLiteral("2"));
    EXPECT_TRUE(view->paintSuspended());

    Drag(*view, QPoint(400, 300));
    EXPECT_NE(view->backBuffer(), first);
    EXPECT_EQ(view->readout()->Text(0), QStringLiteral("3"));
    Drag(*view, QPoint(255, 300));
    EXPECT_EQ(view->backBuffer(), first);

    Release(*view, QPoint(255, 300));
    EXPECT_FALSE(view->dragging());
    EXPECT_EQ(Painted(*view), before); // the repaint removes the crosshair, the readout stays
    ASSERT_NE(view->readout(), nullptr);
    Hover(*view, QPoint(500, 300));
    EXPECT_EQ(view->readout(), nullptr);
}

TEST_F(ChartViewTest, CursorAtTheRightEdgeTakesTheLastSampleAndShowsOverload) {
    auto document = MakeDocument({1, 2, 3, 2000});
    SetScale(*document, 0, 10);
    document->layout.mouseMode = MouseMode::Cursor;
    auto view = MakeView(*document);
    Painted(*view);
    Press(*view, QPoint(780, 300)); // clamped to the right side
    ASSERT_NE(view->readout(), nullptr);
    EXPECT_EQ(view->readout()->Text(0), QStringLiteral("4"));
    EXPECT_EQ(view->readout()->Text(1), QStringLiteral("VDC"));
    EXPECT_EQ(view->readout()->Text(2), QStringLiteral("DC"));
    EXPECT_EQ(view->readout()->Text(3), QStringLiteral("OLV"));
    EXPECT_EQ(view->readout()->Text(4), QString::fromStdU16String(testing::kTestTime));
    Drag(*view, QPoint(1000, 300));
    EXPECT_EQ(view->readout()->Text(0), QStringLiteral("4"));
    Release(*view, QPoint(1000, 300));
}

// The readout sits inside the plot, in the top corner away from the cursor, so the value labels and the
// scroll bars stay readable; it goes when the pointer leaves the chart.
TEST_F(ChartViewTest, ReadoutCoversNoLabelOrScrollBarAndGoesWithThePointer) {
    auto document = MakeDocument({1, 2, 3, 4, 5, 6, 7, 8, 9});
    SetScale(*document, 0, 10);
    document->layout.mouseMode = MouseMode::Cursor;
    auto view = MakeView(*document);
    Painted(*view);
    const QRect plot(110, 70, 581, 401);
    struct Case {
        int mouseX;
        bool onTheRight;
    };
    for (const Case& c : {Case{120, true}, Case{600, false}, Case{200, true}, Case{400, false}}) {
        SCOPED_TRACE(c.mouseX);
        Press(*view, QPoint(c.mouseX, 300));
        ASSERT_NE(view->readout(), nullptr);
        const QRect readout = view->readout()->geometry();
        EXPECT_TRUE(plot.contains(readout)) << "inside the frame, clear of the labels and bars";
        EXPECT_FALSE(readout.intersects(view->verticalBar()->geometry()));
        EXPECT_EQ(readout.center().x() > plot.center().x(), c.onTheRight);
        Release(*view, QPoint(c.mouseX, 300));
    }
    // While the button is held the readout stays, even outside the chart; once released, leaving closes it.
    Press(*view, QPoint(300, 300));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view.get(), &leave);
    EXPECT_NE(view->readout(), nullptr);
    Release(*view, QPoint(300, 300));
    ASSERT_NE(view->readout(), nullptr);
    QApplication::sendEvent(view.get(), &leave);
    EXPECT_EQ(view->readout(), nullptr);
    EXPECT_FALSE(view->paintSuspended());
}

// A live chart lays out room for the samples to come; the sample axis labels only the samples there are.
TEST_F(ChartViewTest, SampleLabelsStopAtTheLastSample) {
    LiveDocument live(500);
    for (int i = 0; i < 10; ++i)
        live.Append(5);
    auto view = MakeView(live.document);
    const QImage& image = Painted(*view);
    EXPECT_GT(CountDark(image, QRect(104, 478, 16, 16)), 5);  // "1" at the left side
    EXPECT_EQ(CountDark(image, QRect(180, 474, 520, 30)), 0); // nothing past sample 10 (x about 163)
    // Labels every 13 samples: sample 14 (x about 186) brings its own while the recording runs.
    for (int i = 0; i < 4; ++i) {
        live.Append(5);
        Painted(*view);
    }
    EXPECT_GT(CountDark(view->backBuffer(), QRect(176, 478, 24, 16)), 5);
    EXPECT_EQ(CountDark(view->backBuffer(), QRect(200, 474, 500, 30)), 0);
    for (int i = 0; i < 90; ++i)
        live.Append(5);
    EXPECT_GT(CountDark(Painted(*view), QRect(180, 474, 520, 30)), 20); // the window filled: all labelled
}

TEST_F(ChartViewTest, RubberBandZoomsOnlyBeyondThreePixels) {
    auto document = MakeDocument({1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6, 5, 4, 3, 2, 1});
    auto view = MakeView(*document);
    const QImage before = Painted(*view).copy();

    Press(*view, QPoint(200, 100));
    Drag(*view, QPoint(203, 300));
    EXPECT_NE(view->backBuffer(), before); // the inverting band
    Release(*view, QPoint(203, 300));
    EXPECT_EQ(view->backBuffer(), before); // erased exactly
    EXPECT_TRUE(document->layout.fullView);

    Press(*view, QPoint(200, 100));
    Drag(*view, QPoint(300, 200));
    Drag(*view, QPoint(400, 300));
    Release(*view, QPoint(400, 300));
    EXPECT_FALSE(document->layout.fullView);
    Painted(*view);
    EXPECT_TRUE(view->horizontalBar()->isEnabled());
    EXPECT_TRUE(view->verticalBar()->isEnabled());
    EXPECT_EQ(view->verticalBar()->maximum(), 10);
    EXPECT_EQ(view->verticalBar()->value(), 5);

    view->UndoZoom();
    EXPECT_TRUE(document->layout.fullView);
    Painted(*view);
    EXPECT_FALSE(view->horizontalBar()->isEnabled());
}

TEST_F(ChartViewTest, ScrollBarsAndWheelMoveTheZoomedChart) {
    std::vector<float> values;
    for (int i = 0; i < 50; ++i)
        values.push_back(static_cast<float>(5 + 3 * std::sin(i * 0.3)));
    auto document = MakeDocument(values);
    auto view = MakeView(*document);
    Painted(*view);
    Wheel(*view, 120);
    EXPECT_EQ(document->layout.horizontal.shift, 0); // nothing in the full view

    Press(*view, QPoint(200, 100));
    Drag(*view, QPoint(400, 300));
    Release(*view, QPoint(400, 300));
    ASSERT_FALSE(document->layout.fullView);
    Painted(*view);
    ChartLayout& layout = document->layout;
    const int64_t start = layout.horizontal.position();
    ASSERT_GT(start, 0);

    view->horizontalBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(layout.horizontal.position(), start + 1);
    EXPECT_EQ(layout.horizontal.shift, -1);
    EXPECT_EQ(view->horizontalBar()->value(), start + 1);

    Wheel(*view, 120);
    EXPECT_EQ(layout.horizontal.shift, 0);
    Wheel(*view, -360);
    EXPECT_EQ(layout.horizontal.shift, -1);

    view->verticalBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(layout.vertical.shift, 1);
    view->verticalBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(layout.vertical.position(), 10); // page down from 4 stops at the range
    EXPECT_EQ(layout.vertical.shift, -5);
}

TEST_F(ChartViewTest, ToolbarSwitchesTheModeAndUndoesTheZoom) {
    auto document = MakeDocument({1, 2, 3, 4, 5, 6});
    auto view = MakeView(*document);
    Painted(*view);
    ChartToolbar* toolbar = view->toolbar();
    EXPECT_EQ(toolbar->geometry(), QRect(0, 0, 800, 41));
    const QImage zoomIcon =
        toolbar->zoomModeButton()->icon().pixmap(kModeImageWidth, kModeImageHeight).toImage();
    toolbar->cursorModeButton()->click();
    EXPECT_EQ(document->layout.mouseMode, MouseMode::Cursor);
    EXPECT_NE(toolbar->zoomModeButton()->icon().pixmap(kModeImageWidth, kModeImageHeight).toImage(),
              zoomIcon);
    toolbar->zoomModeButton()->click();
    EXPECT_EQ(document->layout.mouseMode, MouseMode::Zoom);

    document->layout.fullView = false;
    document->layout.horizontal.shift = 3;
    toolbar->undoZoomButton()->click();
    EXPECT_TRUE(document->layout.fullView);
    EXPECT_EQ(document->layout.horizontal.shift, 0);
}

TEST_F(ChartViewTest, DragFarOutsideThePlotIsCancelledByTheTimer) {
    auto document = MakeDocument({1, 2, 3, 4});
    auto view = MakeView(*document);
    Painted(*view);
    Press(*view, QPoint(300, 300));
    ASSERT_TRUE(view->dragging());
    QCursor::setPos(view->mapToGlobal(QPoint(300, 300)));
    QCoreApplication::processEvents();
    EXPECT_TRUE(view->dragging()); // inside the plot the drag goes on
    QCursor::setPos(view->mapToGlobal(QPoint(300, 470 + 50)));
    QDeadlineTimer deadline(2000);
    while (view->dragging() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_FALSE(view->dragging());
}

TEST_F(ChartViewTest, PrintingGivesOnePageWithTheFooter) {
    auto document = MakeDocument({1, 3, 2, 4});
    auto view = MakeView(*document);
    const std::tm when = testing::TestPrintTime();
    const QImage page = view->PrintImage(when);
    const QImage screen = Painted(*view).copy();
    const QRect footer(550, 540, 250, 20);
    EXPECT_EQ(page.size(), screen.size());
    EXPECT_GT(CountDark(page, footer), 20);
    EXPECT_EQ(CountDark(screen, footer), 0);
    EXPECT_EQ(page.copy(0, 0, 800, 500), screen.copy(0, 0, 800, 500));

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("chart.pdf"));
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    view->Print(printer);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString pdf = QString::fromLatin1(file.readAll());
    EXPECT_TRUE(pdf.startsWith(QStringLiteral("%PDF")));
    EXPECT_EQ(pdf.count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))), 1);
}

// A whole picture leaves exactly the pixels of its lines and marks painted one at a time, whether its
// vertical lines stand side by side covering most rows or lie short and scattered.
TEST(PaintTrace, ManyColumnsLeaveThePixelsOfEachLineAlone) {
    TracePicture picture;
    for (int x = 0; x < 150; ++x) { // tall, overlapping columns, some given bottom end first
        const int a = 20 + (x * 37) % 60;
        const int b = 140 - (x * 53) % 70;
        picture.lines.push_back(x % 3 ? PixelLine{x, a, x, b} : PixelLine{x, b, x, a});
    }
    for (int x = 150; x < 300; ++x) // one or two pixels each, far apart
        picture.lines.push_back({x, (x * 71) % 190, x, (x * 71) % 190 + x % 2});
    picture.lines.push_back({40, -50, 40, 400});   // beyond the top and bottom
    picture.lines.push_back({-3, 10, -3, 20});     // left of the image
    picture.lines.push_back({5, 10, 60, 170});     // not vertical
    picture.lines.push_back({120, 100, 120, 100}); // one pixel
    picture.lines.push_back({20, 150, 20, 160});   // a second line in a column, apart from the first
    picture.lines.push_back({21, 10, 21, 199});    // and one overlapping it
    picture.lines.push_back({298, 3, 298, 190});   // beside the right edge
    picture.markCentres = {{7, 7}, {299, 199}, {-1, 5}};
    const QRect clips[] = {QRect(0, 0, 300, 200), QRect(10, 30, 200, 100)};
    for (const QRect& clip : clips) {
        QImage whole(300, 200, QImage::Format_RGB32);
        whole.fill(Qt::white);
        PaintTrace(whole, picture, kRed, clip);
        QImage single(300, 200, QImage::Format_RGB32);
        single.fill(Qt::white);
        for (const PixelLine& line : picture.lines) {
            TracePicture one;
            one.lines.push_back(line);
            PaintTrace(single, one, kRed, clip);
        }
        TracePicture marks;
        marks.markCentres = picture.markCentres;
        PaintTrace(single, marks, kRed, clip);
        EXPECT_GT(CountPixels(whole, whole.rect(), kRed), 3000) << clip.width();
        EXPECT_EQ(CountPixels(whole, whole.rect(), kRed), CountPixels(single, single.rect(), kRed))
            << clip.width();
        EXPECT_TRUE(whole == single) << clip.width();
        EXPECT_EQ(CountPixels(whole, whole.rect(), kRed), CountPixels(whole, clip, kRed)) << clip.width();
    }
}

// The grid, frame and tick lines are written straight into the image; they must be the painter's own
// one-pixel lines, solid and dotted, in either direction and of any length a screen holds.
TEST(PixelRules, SameAsThePaintersOnePixelPens) {
    QPen dotted(QColor(kWhite), 0, Qt::CustomDashLine);
    dotted.setDashPattern({1, 1});
    const QPen solid(QColor(kWhite), 0);
    struct Rule {
        int x0;
        int y0;
        int x1;
        int y1;
    };
    const Rule rules[] = {
        {3, 5, 3, 5},      {3, 7, 4, 7},          {10, 9, 17, 9},         {40, 11, 12, 11},
        {0, 13, 2549, 13}, {2549, 15, 0, 15},     {5, 20, 5, 21},         {7, 20, 7, 1399},
        {9, 1399, 9, 20},  {2540, 0, 2540, 1399}, {1000, 30, 1000, 1316}, {20, 1317, 2000, 1317},
    };
    for (const QPen& pen : {solid, dotted}) {
        for (const Rule& rule : rules) {
            QImage painted(2550, 1400, QImage::Format_RGB32);
            painted.fill(kBackground);
            QImage written = painted;
            {
                QPainter painter(&painted);
                painter.setPen(pen);
                painter.drawLine(rule.x0, rule.y0, rule.x1, rule.y1);
            }
            const PixelBuffer buffer{reinterpret_cast<uint32_t*>(written.bits()), written.bytesPerLine() / 4,
                                     written.width(), written.height()};
            RasterRule(buffer, rule.x0, rule.y0, rule.x1, rule.y1, kWhite,
                       pen.style() == Qt::SolidLine ? RuleStyle::Solid : RuleStyle::Dotted);
            EXPECT_TRUE(written == painted) << (pen.style() == Qt::SolidLine ? "solid " : "dotted ")
                                            << rule.x0 << "," << rule.y0 << " " << rule.x1 << "," << rule.y1;
        }
    }
}

TEST(PaintTrace, LinesHaveOnePixelPerStepBothEndsAndNoDirection) {
    const PixelLine lines[] = {
        {5, 5, 50, 5},   {5, 5, 5, 50},    {5, 5, 50, 50},   {5, 50, 50, 5},       {10, 3, 17, 55},
        {3, 40, 58, 37}, {20, 20, 21, 22}, {30, 30, 30, 30}, {-500, 30, 80, -900},
    };
    const QRect whole(0, 0, 60, 60);
    const QRect clip(12, 8, 30, 25);
    auto draw = [](const PixelLine& line, const QRect& area) {
        QImage image(60, 60, QImage::Format_RGB32);
        image.fill(Qt::white);
        TracePicture picture;
        picture.lines.push_back(line);
        PaintTrace(image, picture, kRed, area);
        return image;
    };
    for (const PixelLine& line : lines) {
        const QImage image = draw(line, whole);
        const PixelLine reverse{line.x1, line.y1, line.x0, line.y0};
        EXPECT_EQ(draw(reverse, whole), image) << line.x0 << "," << line.y0;
        if (whole.contains(line.x0, line.y0)) {
            EXPECT_EQ(image.pixel(line.x0, line.y0), kRed);
        }
        if (whole.contains(line.x1, line.y1)) {
            EXPECT_EQ(image.pixel(line.x1, line.y1), kRed);
        }
        // One pixel in every row (steep) or column (flat) the line passes through inside the image.
        const bool steep = std::abs(line.y1 - line.y0) >= std::abs(line.x1 - line.x0);
        for (int i = 0; i < 60; ++i) {
            const int low = steep ? std::min(line.y0, line.y1) : std::min(line.x0, line.x1);
            const int high = steep ? std::max(line.y0, line.y1) : std::max(line.x0, line.x1);
            const QRect band = steep ? QRect(0, i, 60, 1) : QRect(i, 0, 1, 60);
            const int count = CountPixels(image, band, kRed);
            if (i < low || i > high) {
                EXPECT_EQ(count, 0);
            } else if (line.x0 >= 0 && line.x1 < 60 && line.y0 >= 0 && line.y1 < 60) {
                EXPECT_EQ(count, 1) << "line " << line.x0 << "," << line.y0 << " step " << i;
            }
        }
        // Clipping only removes pixels.
        const QImage clipped = draw(line, clip);
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 60; ++x)
                ASSERT_EQ(clipped.pixel(x, y), clip.contains(x, y) ? image.pixel(x, y) : kWhite)
                    << x << "," << y;
    }
}

// The merged trace must leave exactly the pixels of one line per segment.
TEST_F(ChartViewTest, MergedTraceCoversTheSamePixelsPerColumnAsPerSegment) {
    struct Case {
        const char* what;
        int samples;
        double spikeEvery; // 0: no values outside the scale
    };
    const Case cases[] = {
        {"65535 samples", 65535, 0},
        {"20000 samples with spikes above and below", 20000, 37},
        {"300 samples, several pixels apart", 300, 11},
    };
    const PlotRect plot = PlotFromClient(1920, 1080);
    for (const Case& c : cases) {
        std::vector<float> values;
        for (int i = 0; i < c.samples; ++i) {
            double v = 5 + 3 * std::sin(i * 0.002) + 1.5 * std::sin(i * 0.37) + ((i * 7919) % 13) * 0.05;
            if (c.spikeEvery > 0 && i % static_cast<int>(c.spikeEvery) == 0)
                v = (i / static_cast<int>(c.spikeEvery)) % 2 ? 40 : -30;
            values.push_back(static_cast<float>(v));
        }
        auto document = MakeDocument(values);
        SetScale(*document, 0, 10);
        LayoutSamples(*document, plot);
        const SampleAxis axis = SampleAxisOf(*document);
        const DrawRange range = VisibleSamples(document->layout, axis, plot);

        QImage pictures[2];
        size_t lines[2] = {};
        const TraceDrawing drawings[2] = {TraceDrawing::PerSegment, TraceDrawing::Merged};
        for (int i = 0; i < 2; ++i) {
            TracePicture picture;
            int remembered = 0;
            TraceBuilder(*document, axis, plot, 0, drawings[i], remembered, picture).AddRange(range);
            lines[i] = picture.lines.size();
            pictures[i] = QImage(1920, 1080, QImage::Format_RGB32);
            pictures[i].fill(Qt::white);
            PaintTrace(pictures[i], picture, kRed, pictures[i].rect());
        }
        int differentColumns = 0;
        for (int x = 0; x < 1920; ++x) {
            for (int y = 0; y < 1080; ++y) {
                if (pictures[0].pixel(x, y) != pictures[1].pixel(x, y)) {
                    ++differentColumns;
                    break;
                }
            }
        }
        EXPECT_EQ(differentColumns, 0) << c.what;
        EXPECT_GT(CountPixels(pictures[1], pictures[1].rect(), kRed), 1000) << c.what;
        if (c.samples > plot.width()) {
            EXPECT_LT(lines[1] * 4, lines[0]) << c.what;
        }
    }
}

} // namespace
} // namespace calvora
