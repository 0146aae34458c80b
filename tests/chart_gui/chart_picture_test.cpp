// Pictures of a chart in files, read back by independent readers: Qt's PNG reader, librsvg's converter for
// the SVG and poppler's tools for the PDF.
#include "chart/chart_layout.h"
#include "chart/gui/chart_picture.h"
#include "chart/gui/chart_view.h"
#include "recording/recording_document.h"
#include "tests/chart/chart_test_documents.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace calvora {
namespace {

using testing::MakeDocument;
using testing::SetScale;

// Red pixels (the default trace colour), allowing for the smoothing of a rendered vector line.
int CountReddish(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 180 && c.green() < 90 && c.blue() < 90 ? 1 : 0;
        }
    return count;
}

int CountDark(const QImage& image, const QRect& area) {
    int count = 0;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
    return count;
}

QString RunTool(const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QStringLiteral("failed: ") + QString::fromUtf8(process.readAllStandardError());
    return QString::fromUtf8(process.readAllStandardOutput());
}

class ChartPictureTest : public ::testing::Test {
protected:
    ChartPictureTest() {
        document_ = MakeDocument({1, 4, 2, 8, 5, 7, 3, 6, 2, 9});
        SetScale(*document_, 0, 10);
        document_->title = u"bench run";
    }
    QString PathOf(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir_;
    std::unique_ptr<RecordingDocument> document_;
};

TEST_F(ChartPictureTest, TheTitleNamesTheDocumentItsFirstDateAndItsUnit) {
    EXPECT_EQ(ChartPictureTitle(*document_), QStringLiteral("bench run - ") +
                                                 QString::fromStdU16String(testing::kTestTime).trimmed() +
                                                 QStringLiteral(" - V"));
    RecordingDocument empty;
    empty.title = u"Datalog Panel";
    EXPECT_EQ(ChartPictureTitle(empty), QStringLiteral("Datalog Panel"));
    EXPECT_EQ(ChartPictureFormatOf(QStringLiteral("a.PNG")), ChartPictureFormat::Png);
    EXPECT_EQ(ChartPictureFormatOf(QStringLiteral("/x/b.svg")), ChartPictureFormat::Svg);
    EXPECT_EQ(ChartPictureFormatOf(QStringLiteral("c.pdf")), ChartPictureFormat::Pdf);
    EXPECT_EQ(ChartPictureFormatOf(QStringLiteral("d.jpg")), std::nullopt);
    EXPECT_EQ(ChartPictureFormatOf(QStringLiteral("png")), std::nullopt);
}

TEST_F(ChartPictureTest, APngHasTheChosenSizeWithTitleTraceAndLabels) {
    for (const QSize size : {QSize(1000, 600), QSize(3200, 1800)}) {
        SCOPED_TRACE(size.width());
        const QString path = PathOf("chart.png");
        ASSERT_TRUE(WriteChartPicture(*document_, path, ChartPictureFormat::Png, size));
        const QImage image(path);
        ASSERT_EQ(image.size(), size);
        const double s = ChartPictureScale(size);
        EXPECT_GT(CountReddish(image), 500 * s);
        EXPECT_GT(CountDark(image, QRect(0, 0, size.width(), static_cast<int>(50 * s))), 100 * s) << "title";
        EXPECT_GT(CountDark(image, QRect(0, 0, static_cast<int>(100 * s), size.height())), 100 * s)
            << "value labels";
        EXPECT_GT(CountDark(image, QRect(0, size.height() - static_cast<int>(45 * s), size.width(),
                                         static_cast<int>(45 * s))),
                  30 * s)
            << "sample labels";
    }
}

// The picture is laid out at its own size; the chart on the screen keeps its zoom and its picture.
TEST_F(ChartPictureTest, ExportingLeavesTheScreenChartAsItWas) {
    ChartView view(*document_);
    view.resize(800, 600);
    view.grab();
    // Zoom into the middle of the chart.
    auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(at), QPointF(view.mapToGlobal(at)),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&view, &event);
    };
    send(QEvent::MouseButtonPress, QPoint(300, 150), Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(500, 400), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPoint(500, 400), Qt::NoButton);
    ASSERT_FALSE(document_->layout.fullView);
    const QImage before = view.grab().toImage();
    const double x5 = document_->xPos(4, 0);

    ASSERT_TRUE(WriteChartPicture(*document_, PathOf("z.png"), ChartPictureFormat::Png, QSize(2000, 1200)));
    ASSERT_TRUE(WriteChartPicture(*document_, PathOf("z.pdf"), ChartPictureFormat::Pdf, QSize()));
    EXPECT_FALSE(document_->layout.fullView);
    EXPECT_EQ(document_->xPos(4, 0), x5);
    view.RedrawChart();
    EXPECT_EQ(view.grab().toImage(), before);
}

TEST_F(ChartPictureTest, AnSvgIsDrawnInVectorsThatAnotherReaderRenders) {
    const QString path = PathOf("chart.svg");
    ASSERT_TRUE(WriteChartPicture(*document_, path, ChartPictureFormat::Svg, QSize(1600, 900)));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray svg = file.readAll();
    EXPECT_FALSE(svg.contains("<image")) << "no bitmap inside";
    EXPECT_TRUE(svg.contains("bench run"));
    EXPECT_TRUE(svg.contains(">9<") && svg.contains(">0.00000<")) << "sample and value labels as text";

    const QString rsvg = QStandardPaths::findExecutable(QStringLiteral("rsvg-convert"));
    if (rsvg.isEmpty())
        GTEST_SKIP() << "rsvg-convert (librsvg2-bin) is not installed: the SVG was not rendered";
    const QString png = PathOf("svg.png");
    RunTool(rsvg, {QStringLiteral("-o"), png, path});
    const QImage image(png);
    ASSERT_EQ(image.size(), QSize(1600, 900));
    EXPECT_GT(CountReddish(image), 500);
    EXPECT_GT(CountDark(image, QRect(0, 0, 1600, 50)), 100) << "title";
}

TEST_F(ChartPictureTest, APdfIsOneLandscapePageWithTextThatPopplerReads) {
    const QString path = PathOf("chart.pdf");
    ASSERT_TRUE(WriteChartPicture(*document_, path, ChartPictureFormat::Pdf, QSize()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray pdf = file.readAll();
    EXPECT_EQ(pdf.count("/Type /Page\n") + pdf.count("/Type /Page "), 1);
    EXPECT_FALSE(pdf.contains("/Subtype /Image")) << "no bitmap inside";

    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (pdftotext.isEmpty() || pdftoppm.isEmpty())
        GTEST_SKIP() << "pdftotext and pdftoppm (poppler-utils) are not installed: the PDF was not read";
    const QString text = RunTool(pdftotext, {path, QStringLiteral("-")}).simplified();
    EXPECT_TRUE(text.contains(QStringLiteral("bench run"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("10.000"))) << text.toStdString();
    RunTool(pdftoppm, {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("40"),
                       QStringLiteral("-singlefile"), path, PathOf("page")});
    const QImage page(PathOf("page.png"));
    ASSERT_FALSE(page.isNull());
    EXPECT_GT(page.width(), page.height()) << "landscape";
    EXPECT_GT(CountReddish(page), 100);
}

TEST_F(ChartPictureTest, AFileThatCannotBeWrittenIsNamedAndNothingIsLeft) {
    const QString path = PathOf("missing-folder/chart.png");
    for (const ChartPictureFormat format :
         {ChartPictureFormat::Png, ChartPictureFormat::Svg, ChartPictureFormat::Pdf}) {
        const Outcome<> written = WriteChartPicture(*document_, path, format, QSize(800, 500));
        ASSERT_FALSE(written);
        EXPECT_TRUE(
            QString::fromStdU16String(written.reason()).startsWith(QStringLiteral("Can't write ") + path))
            << QString::fromStdU16String(written.reason()).toStdString();
    }
    // A file already there stays whole when the new picture cannot be drawn.
    const QString kept = PathOf("kept.png");
    ASSERT_TRUE(WriteChartPicture(*document_, kept, ChartPictureFormat::Png, QSize(800, 500)));
    EXPECT_FALSE(WriteChartPicture(*document_, kept, ChartPictureFormat::Png, QSize(0, 500)));
    EXPECT_EQ(QImage(kept).size(), QSize(800, 500));
}

} // namespace
} // namespace calvora
