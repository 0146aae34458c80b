// The "Data List" view on its own: cell texts, the list filling the view, the live refresh timer and
// printing.
#include "recording/gui/data_list_view.h"
#include "recording/recording_document.h"
#include "tests/support/calendar_time.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPaintEngine>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextItem>

#include <climits>

namespace calvora {
namespace {

// 7 December 2026, 22:05:20 local time.
std::time_t PrintDay() {
    std::tm local = testing::CalendarTime(2026, 12, 7, 22, 5, 20);
    return std::mktime(&local);
}

std::shared_ptr<RecordingDocument> DocumentOf(uint32_t samples) {
    auto document = std::make_shared<RecordingDocument>();
    document->SetChannelCount(1);
    document->FillRows(samples);
    for (uint32_t row = 0; row < samples; ++row) {
        document->SetValue(row, 0, 1.5f + static_cast<float>(row), 600.0f);
        document->SetLowLimit(row, -600);
        document->SetTexts(row, u"VDC", u"DC", u"V", u" 12/07/26 22:05:20");
    }
    return document;
}

QString Cell(const DataListView& view, int row, int column) {
    return view.model()->data(view.model()->index(row, column), Qt::DisplayRole).toString();
}

// Shows `view` and waits until it is on the screen.
bool Painted(DataListView& view) {
    view.resize(900, 700);
    view.show();
    return QTest::qWaitForWindowExposed(&view);
}

TEST(LogListCells, ColumnsFromTheStore) {
    RecordingDocument document;
    document.SetChannelCount(1);
    document.FillRows(4);
    document.SetValue(0, 0, 1.2345f, 6.0f);
    document.SetLowLimit(0, -6);
    document.SetTexts(0, u"VDC", u"DC", u"V", u" 12/07/26 22:05:20");
    document.SetValue(1, 0, 7.0f, 6.0f); // above the range
    document.SetLowLimit(1, -6);
    document.SetTexts(1, u"VDC", u"DC", u"V", u" 12/07/26 22:05:21");
    document.SetValue(2, 0, -7.0f, 6.0f); // below the range
    document.SetLowLimit(2, -6);
    document.SetTexts(2, u"Ohm", u"", u"kΩ", u" 12/07/26 22:05:22");
    document.SetValue(3, 0, 1234.56f, 6000.0f);
    document.SetTexts(3, u"VAC", u"AC", u"mV", u" 12/07/26 22:05:23");
    struct Case {
        uint32_t row;
        std::array<std::u16string_view, 6> cells;
    };
    const Case cases[] = {
        {0, {u"1", u"VDC", u"DC", u"1.2345", u"V", u" 12/07/26 22:05:20"}},
        {1, {u"2", u"VDC", u"DC", u"OL", u"V", u" 12/07/26 22:05:21"}},
        {2, {u"3", u"Ohm", u"", u"-OL", u"kΩ", u" 12/07/26 22:05:22"}},
        {3, {u"4", u"VAC", u"AC", u"1234.6", u"mV", u" 12/07/26 22:05:23"}},
        // Rows the list may still ask for after the store was reset.
        {4, {u"", u"", u"", u"", u"", u""}},
    };
    for (const Case& c : cases) {
        for (int column = 0; column < 6; ++column) {
            EXPECT_EQ(LogListCellText(document, c.row, column), c.cells[static_cast<size_t>(column)])
                << "row " << c.row << " column " << column;
        }
    }
    EXPECT_EQ(LogListCellText(document, 0, 6), u"");
}

TEST(LogListPrinting, PagesAndFooter) {
    const std::pair<uint32_t, int> pages[] = {{0, 0},   {1, 1},   {75, 1},     {76, 2},
                                              {150, 2}, {151, 3}, {65535, 874}};
    for (const auto& [samples, count] : pages) {
        EXPECT_EQ(LogListPageCount(samples), count) << samples;
    }
    const std::time_t day = PrintDay();
    std::tm date{};
    localtime_r(&day, &date);
    EXPECT_EQ(LogListFooter(date, 2), u"07/12/26  page2");
    EXPECT_EQ(LogListFooter(date, 874), u"07/12/26  page874");
}

TEST(LogListView, ListLooksAsSetAndFillsTheView) {
    DataListView view(DocumentOf(3), nullptr);
    ASSERT_TRUE(Painted(view));
    QTableView* list = view.list();
    EXPECT_EQ(list->objectName(), QStringLiteral("LogList159"));
    EXPECT_EQ(list->geometry(), view.rect());
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(list->verticalHeader()->isHidden());
    EXPECT_EQ(list->font().pixelSize(), 15);
    EXPECT_EQ(list->font().weight(), QFont::Thin);
    EXPECT_TRUE(list->font().families().contains(QStringLiteral("black Arial")));
    const char16_t* headers[] = {u"No.", u"Channel", u" Function", u"Data Value", u"Unit", u"Time"};
    const int widths[] = {50, 120, 120, 120, 60, 150};
    ASSERT_EQ(view.model()->columnCount(), 6);
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(view.model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(),
                  QString::fromUtf16(headers[column]));
        EXPECT_EQ(list->horizontalHeader()->sectionSize(column), widths[column]) << column;
        EXPECT_EQ(
            view.model()->data(view.model()->index(0, column), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignHorizontal_Mask,
            Qt::AlignLeft);
    }
    ASSERT_EQ(view.model()->rowCount(), 3);
    EXPECT_EQ(Cell(view, 0, 0), QStringLiteral("1"));
    EXPECT_EQ(Cell(view, 2, 3), QStringLiteral("3.5000"));

    // The list follows the view; its columns keep their widths.
    for (const QSize size : {QSize(300, 200), QSize(1400, 1000), QSize(640, 480)}) {
        view.resize(size);
        QCoreApplication::processEvents();
        EXPECT_EQ(list->geometry(), view.rect()) << size.width();
        EXPECT_EQ(list->horizontalHeader()->sectionSize(5), 150) << size.width();
    }
}

TEST(LogListView, RowsPastTheSampleCountAreEmptyUntilTheDocumentIsAnnounced) {
    auto document = DocumentOf(5);
    DataListView view(document, nullptr);
    ASSERT_TRUE(Painted(view));
    ASSERT_EQ(view.model()->rowCount(), 5);
    // A new recording on the same document resets its count; the list learns of it when the document says so.
    document->ResetSampleCount();
    EXPECT_EQ(view.model()->rowCount(), 5);
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(Cell(view, 4, column), QString()) << column;
    }
    document->AnnounceReset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.model()->rowCount() == 0; }, 2000));
}

TEST(LogListView, TimerExtendsALiveListOnlyWhenMarked) {
    auto document = std::make_shared<RecordingDocument>();
    document->SetChannelCount(1);
    uint32_t rows = 0;
    ASSERT_TRUE(document->BeginLiveStorage(200, rows));
    auto append = [&](int count) {
        for (int i = 0; i < count; ++i) {
            document->AppendSample(2.0f, 6.0f, -6, u"VDC", u"DC", u"V", u" 12/07/26 22:05:20");
        }
    };
    append(3);
    document->liveActive = true;
    auto view = std::make_unique<DataListView>(document, nullptr);
    ASSERT_TRUE(Painted(*view));
    EXPECT_EQ(view->model()->rowCount(), 3);
    EXPECT_TRUE(document->listTimerStarted);
    EXPECT_TRUE(view->timer().isActive());
    EXPECT_EQ(view->timer().interval(), 1000);

    // Each sample the document announces marks the list; it grows at the next tick, not before.
    document->listDirty = false;
    append(60);
    EXPECT_TRUE(document->listDirty);
    EXPECT_EQ(view->model()->rowCount(), 3);
    QSignalSpy ticks(&view->timer(), &QTimer::timeout);
    ASSERT_TRUE(ticks.wait(1500));
    EXPECT_EQ(view->model()->rowCount(), 63);
    EXPECT_FALSE(document->listDirty);
    // The newest row is wholly in sight.
    QTableView* list = view->list();
    QCoreApplication::processEvents();
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualRect(view->model()->index(62, 0))));

    // No longer live: the tick leaves the mark (and the list) alone.
    append(2);
    document->liveActive = false;
    document->listDirty = true;
    ASSERT_TRUE(ticks.wait(1500));
    EXPECT_TRUE(document->listDirty);

    // The timer goes with the view; the next list view of the document starts its own.
    view.reset();
    EXPECT_FALSE(document->listTimerStarted);
    DataListView next(document, nullptr);
    ASSERT_TRUE(Painted(next));
    EXPECT_TRUE(next.timer().isActive());
    EXPECT_EQ(next.model()->rowCount(), 65);
}

// A paint device that keeps every text drawn on it with its baseline point.
class TextRecorder : public QPaintDevice {
public:
    struct Text {
        QPointF baseline;
        qreal ascent;
        QString text;
    };

    explicit TextRecorder(QSize size) : size_(size), engine_(this) {}
    QPaintEngine* paintEngine() const override { return &engine_; }

    std::vector<Text> texts;

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth:
            return size_.width();
        case PdmHeight:
            return size_.height();
        case PdmWidthMM:
            return size_.width() * 254 / 6000;
        case PdmHeightMM:
            return size_.height() * 254 / 6000;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 600;
        case PdmNumColors:
            return INT_MAX;
        case PdmDepth:
            return 32;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        default:
            return 0;
        }
    }

private:
    class Engine : public QPaintEngine {
    public:
        explicit Engine(TextRecorder* device) : QPaintEngine(QPaintEngine::AllFeatures), device_(device) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawTextItem(const QPointF& at, const QTextItem& item) override {
            device_->texts.push_back({at, item.ascent(), item.text()});
        }
        Type type() const override { return QPaintEngine::User; }

    private:
        TextRecorder* device_;
    };

    QSize size_;
    mutable Engine engine_;
};

class CountingListView : public DataListView {
public:
    using DataListView::DataListView;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        DataListView::paintEvent(event);
    }
};

TEST(LogListView, APaintDoesNotAskForTheNext) {
    // A live list scrolls at every paint; that must not make the view paint again and again.
    auto document = DocumentOf(500);
    document->liveActive = true;
    CountingListView view(document, nullptr);
    ASSERT_TRUE(Painted(view));
    auto settle = [] {
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
        }
    };
    settle();
    const int settled = view.paints;
    settle();
    EXPECT_EQ(view.paints, settled);
}

TEST(LogListView, PrintedPageHoldsHeaderRowsAndFooterWhereTheyBelong) {
    DataListView view(DocumentOf(151), nullptr);
    const QSize page(2000, 3360); // line 42, character 40
    const int line = 42;
    const int character = 40;
    std::tm date{};
    const std::time_t day = PrintDay();
    localtime_r(&day, &date);
    struct Expected {
        int x;
        int top;
        QString text;
    };
    auto printed = [&](int number) {
        TextRecorder device(page);
        QPainter painter(&device);
        view.PrintPage(painter, page, number, date);
        painter.end();
        std::vector<Expected> texts;
        for (const TextRecorder::Text& text : device.texts) {
            texts.push_back({qRound(text.baseline.x()), qRound(text.baseline.y() - text.ascent), text.text});
        }
        return texts;
    };
    auto expectAt = [](const std::vector<Expected>& texts, const Expected& wanted) {
        const auto found = std::find_if(texts.begin(), texts.end(), [&](const Expected& text) {
            return text.text == wanted.text && text.x == wanted.x && std::abs(text.top - wanted.top) <= 1;
        });
        EXPECT_NE(found, texts.end()) << wanted.text.toStdString() << " at " << wanted.x << "," << wanted.top;
    };
    // The x advance is the header's character count times the character width.
    const int xs[] = {0, 3 * character, 10 * character, 19 * character, 29 * character, 33 * character};

    const std::vector<Expected> third = printed(3);
    const char* headers[] = {"No.", "Channel", " Function", "Data Value", "Unit", "Time"};
    for (int column = 0; column < 6; ++column) {
        expectAt(third, {xs[column], line, QString::fromUtf8(headers[column])});
    }
    const char* row151[] = {"151", "VDC", "DC", "151.50", "V", " 12/07/26 22:05:20"};
    for (int column = 0; column < 6; ++column) {
        expectAt(third, {xs[column], 2 * line, QString::fromUtf8(row151[column])});
    }
    expectAt(third, {2000 / 2 - 5 * character, 3360 - line, QStringLiteral("07/12/26  page3")});
    EXPECT_EQ(third.size(), 6u + 6u + 1u) << "page 3 holds one row";

    const std::vector<Expected> first = printed(1);
    EXPECT_EQ(first.size(), 6u + 75u * 6u + 1u);
    expectAt(first, {0, 2 * line, QStringLiteral("1")});
    expectAt(first, {0, 76 * line, QStringLiteral("75")});
    expectAt(first, {2000 / 2 - 5 * character, 3360 - line, QStringLiteral("07/12/26  page1")});
}

TEST(LogListView, PrintsToPdfOnePagePerSeventyFiveRows) {
    QTemporaryDir dir;
    struct Case {
        uint32_t samples;
        int pages;
    };
    for (const Case c : {Case{151, 3}, Case{75, 1}}) {
        DataListView view(DocumentOf(c.samples), nullptr);
        view.SetClock(PrintDay);
        const QString path = dir.filePath(QStringLiteral("list%1.pdf").arg(c.samples));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        view.Print(printer);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray pdf = file.readAll();
        // Page objects, not the page tree ("/Type /Pages").
        EXPECT_EQ(pdf.count("/Type /Page\n") + pdf.count("/Type /Page "), c.pages) << c.samples;
    }

    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty()) {
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed: page texts not read";
    }
    QProcess process;
    process.start(pdftotext, {QStringLiteral("-layout"), dir.filePath(QStringLiteral("list151.pdf")),
                              QStringLiteral("-")});
    ASSERT_TRUE(process.waitForFinished(30000));
    const QStringList pages = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\f'));
    ASSERT_GE(pages.size(), 3);
    auto words = [](const QString& page) { return page.simplified().split(QLatin1Char(' ')); };
    const QStringList third = words(pages[2]);
    EXPECT_TRUE(third.contains(QStringLiteral("151")));
    EXPECT_FALSE(third.contains(QStringLiteral("150")));
    EXPECT_FALSE(third.contains(QStringLiteral("152")));
    // The text tool closes up blanks: the two before "page" are checked on the recorded page above.
    EXPECT_TRUE(pages[2].simplified().contains(QStringLiteral("07/12/26 page3"))) << pages[2].toStdString();
    EXPECT_TRUE(words(pages[0]).contains(QStringLiteral("75")));
    EXPECT_FALSE(words(pages[0]).contains(QStringLiteral("76")));
    EXPECT_TRUE(pages[1].simplified().contains(QStringLiteral("07/12/26 page2")));
}

TEST(LogListView, AnEmptyDocumentPrintsNothing) {
    QTemporaryDir dir;
    DataListView view(DocumentOf(0), nullptr);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath(QStringLiteral("empty.pdf")));
    view.Print(printer);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("empty.pdf"))));
}

} // namespace
} // namespace calvora
