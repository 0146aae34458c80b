// The meter's bytes, as the simulator builds them, reaching the window: a live recording on the "Data List"
// tab, and stored-log downloads with their "Loading..." window and the "Datalog Panel" document.
#include "app/command_ids.h"
#include "app/gui/calvora_application.h"
#include "app/gui/document_window.h"
#include "app/gui/engine_link.h"
#include "app/gui/loading_dialog.h"
#include "app/gui/main_window.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
#include "recording/gui/data_list_view.h"
#include "recording/recording_document.h"
#include "tests/support/shown_main_window.h"
#include "tests/support/window_with_engine.h"
#include "tools/sim/meter_frames.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QPrintPreviewDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <set>

namespace calvora {
namespace {

class MeterWindowsTest : public testing::WindowWithEngineTest {
protected:
    void SetUp() override {
        Assemble(&prompts);
        ASSERT_FALSE(HasFatalFailure());
        frame->resize(1000, 700);
        frame->move(40, 30);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
        inventory.ports = {{kReceiverDescription, "COM5", ""}};
        // The scan selects the receiver, so the frames fed below are handed on as from its port.
        link->Start();
    }

    testing::ScriptedPrompts prompts;

    void Feed(const sim::Bytes& frameBytes) {
        link->state().ReceiveChunk(frameBytes.data(), static_cast<int>(frameBytes.size()));
    }
    void FeedReadings(int count) {
        const sim::Bytes reading = sim::BuildLiveFrame(sim::ReadingSettings{}, 1234);
        for (int i = 0; i < count; ++i) {
            Feed(reading);
        }
    }
    static std::vector<sim::Record> Records(int count) {
        std::vector<sim::Record> records;
        for (int i = 0; i < count; ++i) {
            records.push_back(sim::BuildRecord(sim::ReadingSettings{}, 1000 + 10 * i));
        }
        return records;
    }
    // True when every pixel of `rect` (in `widget`'s coordinates) can be seen: no ancestor cuts it off.
    static bool WhollyVisible(const QWidget* widget, const QRect& rect) {
        return widget->isVisible() && (QRegion(rect) - widget->visibleRegion()).isEmpty();
    }
    // Shows the "Data List" tab of `window` and waits for its list.
    static DataListView* ShowList(DocumentWindow* window) {
        window->tabStrip()->tabBar()->setCurrentIndex(1);
        auto* view = qobject_cast<DataListView*>(window->activeView());
        if (view == nullptr || !QTest::qWaitFor([&] { return view->list() != nullptr; }, 2000)) {
            return nullptr;
        }
        return view;
    }
};

TEST_F(MeterWindowsTest, LiveListGrowsOnceASecondOnlyWhileItsTabShows) {
    link->state().StartRecordingOf(500);
    DocumentWindow* window = frame->activeDocumentWindow();
    ASSERT_NE(window, nullptr);
    RecordingDocument* document = window->document();
    ASSERT_EQ(document->title, u"RealTime Panel");
    DataListView* list = ShowList(window);
    ASSERT_NE(list, nullptr);

    // The first reading sets the scale, which redraws every view.
    FeedReadings(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount() == 1; }, 2000));
    // Further readings of the same value only mark the list; it catches up at the next tick.
    FeedReadings(60);
    EXPECT_EQ(document->sampleCount(), 61u);
    EXPECT_EQ(document->listDirty, 1);
    EXPECT_EQ(list->model()->rowCount(), 1);
    QSignalSpy ticks(&list->timer(), &QTimer::timeout);
    ASSERT_TRUE(ticks.wait(1500));
    EXPECT_EQ(list->model()->rowCount(), 61);
    QCoreApplication::processEvents();
    QTableView* table = list->list();
    EXPECT_TRUE(table->viewport()->rect().contains(table->visualRect(list->model()->index(60, 0))));

    // With the chart shown the list is not marked; the new list view shows every sample at its first paint.
    window->tabStrip()->tabBar()->setCurrentIndex(0);
    FeedReadings(5);
    EXPECT_EQ(document->listDirty, 0);
    list = ShowList(window);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount() == 66; }, 2000));
    EXPECT_TRUE(list->timer().isActive());
    EXPECT_EQ(list->model()->data(list->model()->index(0, 0), Qt::DisplayRole).toString(),
              QStringLiteral("1"));
}

TEST_F(MeterWindowsTest, ListInAWindowShowsItsLastColumnItsScrollBarAndTheNewestRow) {
    frame->resize(1200, 800);
    link->state().StartRecordingOf(500);
    DocumentWindow* window = frame->activeDocumentWindow();
    ASSERT_NE(window, nullptr);
    // A window as wide as the columns need, inside the workspace.
    window->showNormal();
    window->setGeometry(20, 20, 700, 420);
    ASSERT_TRUE(frame->mdiArea()->viewport()->rect().contains(window->geometry()));
    DataListView* list = ShowList(window);
    ASSERT_NE(list, nullptr);
    FeedReadings(80);
    QSignalSpy ticks(&list->timer(), &QTimer::timeout);
    ASSERT_TRUE(ticks.wait(1500));
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount() == 80; }, 2000));
    QCoreApplication::processEvents();

    QTableView* table = list->list();
    QHeaderView* header = table->horizontalHeader();
    const QRect time(header->sectionViewportPosition(5), 0, header->sectionSize(5), header->height());
    EXPECT_EQ(header->sectionSize(5), 150);
    EXPECT_TRUE(WhollyVisible(header->viewport(), time)) << "the Time column is cut";
    QScrollBar* scroll = table->verticalScrollBar();
    EXPECT_TRUE(WhollyVisible(scroll, scroll->rect())) << "the scroll bar lies outside the window";
    const QRect newest = table->visualRect(list->model()->index(79, 0));
    EXPECT_TRUE(WhollyVisible(table->viewport(), newest)) << "the newest row is below the visible edge";
}

TEST_F(MeterWindowsTest, RefilledListChangesNothingWhileTheWindowPaints) {
    for (const sim::Bytes& bytes : sim::BuildLogBurst(Records(200))) {
        Feed(bytes);
    }
    DocumentWindow* window = frame->activeDocumentWindow();
    ASSERT_NE(window, nullptr);
    window->showMaximized();
    DataListView* list = ShowList(window);
    ASSERT_NE(list, nullptr);
    QTest::qWait(50);

    // A row count or a place that changes while the window paints leaves the backing store with pixels
    // painted for the old layout; every change must come before the paint or after it.
    auto painting = [&] {
        for (QWidget* widget = list->list()->viewport(); widget != nullptr; widget = widget->parentWidget()) {
            if (widget->testAttribute(Qt::WA_WState_InPaintEvent)) {
                return true;
            }
        }
        return false;
    };
    int changesWhilePainting = 0;
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                     [&] { changesWhilePainting += painting() ? 1 : 0; });
    QObject::connect(list->model(), &QAbstractItemModel::rowsRemoved, list,
                     [&] { changesWhilePainting += painting() ? 1 : 0; });
    for (const sim::Bytes& bytes : sim::BuildLogBurst(Records(300))) {
        Feed(bytes);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount() == 300; }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(changesWhilePainting, 0);

    // What the screen shows of the status bar is the status bar itself.
    QStatusBar* bar = frame->statusBar();
    const QImage screen = frame->screen()->grabWindow(frame->winId()).toImage();
    const QImage shown =
        screen.copy(QRect(bar->mapTo(frame, QPoint()), bar->size())).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, bar->grab().toImage().convertToFormat(QImage::Format_RGB32));
}

TEST_F(MeterWindowsTest, DownloadShowsProgressThenOpensAndRefillsTheDatalogPanel) {
    const std::vector<sim::Bytes> burst = sim::BuildLogBurst(Records(25));
    ASSERT_EQ(burst.size(), 1u + 1u + 1u + 1u + 2u) << "header, three blocks, two tails";

    Feed(burst[0]);
    LoadingDialog* progress = link->progress();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->windowTitle(), QStringLiteral("Loading..."));
    // 25 records round up to 30: range 0 … 60.
    EXPECT_EQ(progress->bar()->minimum(), 0);
    EXPECT_EQ(progress->bar()->maximum(), 60);
    // Centred across the main window's client area (below the menu bar), four of its own heights below its
    // top.
    const QPoint client = frame->mapToGlobal(QPoint(0, frame->menuBar()->height()));
    EXPECT_EQ(progress->pos(), QPoint(client.x() + frame->width() / 2 - progress->width() / 2,
                                      client.y() + 4 * progress->height()));
    for (size_t i = 1; i < 4; ++i) {
        Feed(burst[i]);
        EXPECT_EQ(progress->bar()->value(), static_cast<int>(i) * 10);
    }
    Feed(burst[4]);
    EXPECT_NE(link->progress(), nullptr) << "the first tail does not end the download";
    EXPECT_TRUE(frame->mdiArea()->subWindowList().isEmpty());
    Feed(burst[5]);
    EXPECT_EQ(link->progress(), nullptr);

    DocumentWindow* window = frame->activeDocumentWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->document()->title, u"Datalog Panel");
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Datalog Panel"));
    DataListView* list = ShowList(window);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->model()->rowCount(), 25);
    std::set<QString> times;
    for (int row = 0; row < 25; ++row) {
        times.insert(list->model()->data(list->model()->index(row, 5), Qt::DisplayRole).toString());
    }
    EXPECT_EQ(times.size(), 1u);
    EXPECT_TRUE(times.begin()->startsWith(QLatin1Char(' ')));
    EXPECT_EQ(list->model()->data(list->model()->index(24, 0), Qt::DisplayRole).toString(),
              QStringLiteral("25"));

    // A second download refills the same window and brings it to the front.
    DocumentWindow* other = frame->NewDocument();
    ASSERT_EQ(frame->activeDocumentWindow(), other);
    const qsizetype windows = frame->mdiArea()->subWindowList().size();
    for (const sim::Bytes& bytes : sim::BuildLogBurst(Records(30))) {
        Feed(bytes);
    }
    EXPECT_EQ(link->progress(), nullptr);
    EXPECT_EQ(frame->mdiArea()->subWindowList().size(), windows);
    EXPECT_EQ(frame->activeDocumentWindow(), window);
    EXPECT_EQ(window->activeView(), list);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount() == 30; }, 2000));
    EXPECT_EQ(list->model()->data(list->model()->index(29, 0), Qt::DisplayRole).toString(),
              QStringLiteral("30"));
}

TEST_F(MeterWindowsTest, ClosingTheLoadingWindowGivesTheDownloadUp) {
    const std::vector<sim::Bytes> burst = sim::BuildLogBurst(Records(25));
    Feed(burst[0]);
    Feed(burst[1]);
    ASSERT_NE(link->progress(), nullptr);
    ASSERT_TRUE(link->state().downloading());
    QPointer<LoadingDialog> progress = link->progress();
    progress->close();
    EXPECT_EQ(link->progress(), nullptr);
    EXPECT_FALSE(link->state().downloading());
    EXPECT_TRUE(QTest::qWaitFor([&] { return progress.isNull(); }, 2000));
    EXPECT_TRUE(frame->mdiArea()->subWindowList().isEmpty());

    // Escape closes it too; a whole burst afterwards still opens the document.
    Feed(burst[0]);
    ASSERT_NE(link->progress(), nullptr);
    QTest::keyClick(link->progress(), Qt::Key_Escape);
    EXPECT_EQ(link->progress(), nullptr);
    EXPECT_FALSE(link->state().downloading());
    for (const sim::Bytes& bytes : burst) {
        Feed(bytes);
    }
    ASSERT_NE(frame->activeDocument(), nullptr);
    EXPECT_EQ(frame->activeDocument()->title, u"Datalog Panel");
    EXPECT_EQ(frame->activeDocument()->sampleCount(), 25u);
}

TEST_F(MeterWindowsTest, LoadingWindowCountsTheRecordsAndAStalledDownloadEndsWithWhatArrived) {
    const std::vector<sim::Bytes> burst = sim::BuildLogBurst(Records(25));
    Feed(burst[0]);
    LoadingDialog* progress = link->progress();
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->recordsText()->text(), QStringLiteral("Receiving the meter's log: 0 of 25"));
    Feed(burst[1]);
    Feed(burst[2]);
    EXPECT_EQ(progress->recordsText()->text(), QStringLiteral("Receiving the meter's log: 20 of 25"));
    EXPECT_TRUE(progress->cancelButton()->isVisible());
    EXPECT_EQ(progress->cancelButton()->text(), QStringLiteral("Cancel"));

    // No frame for five seconds: the watch fires (here at once), the window closes and says what is kept.
    ASSERT_TRUE(frame->IsTimerRunning(kDownloadTimer));
    frame->OnTimer(kDownloadTimer);
    EXPECT_EQ(link->progress(), nullptr);
    ASSERT_NE(frame->activeDocument(), nullptr);
    EXPECT_EQ(frame->activeDocument()->title, u"Datalog Panel");
    EXPECT_EQ(frame->activeDocument()->sampleCount(), 20u);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], u"The meter's log stopped arriving after 20 of 25 records. The 20 records "
                                   u"that arrived are kept in \"Datalog Panel\".");

    // Cancel gives a download up and keeps the log document as it was.
    Feed(burst[0]);
    Feed(burst[1]);
    ASSERT_NE(link->progress(), nullptr);
    QTest::mouseClick(link->progress()->cancelButton(), Qt::LeftButton);
    EXPECT_EQ(link->progress(), nullptr);
    EXPECT_FALSE(link->state().downloading());
    EXPECT_FALSE(frame->IsTimerRunning(kDownloadTimer));
    EXPECT_EQ(frame->activeDocument()->sampleCount(), 20u);
}

TEST_F(MeterWindowsTest, PrintPreviewOfTheListGivesTheTabsBack) {
    for (const sim::Bytes& bytes : sim::BuildLogBurst(Records(80))) {
        Feed(bytes);
    }
    DocumentWindow* window = frame->activeDocumentWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(ShowList(window), nullptr);
    ASSERT_TRUE(frame->QueryCommandState(ID_FILE_PRINT).enabled);
    bool tabsHiddenDuringPreview = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (preview != nullptr && preview->isVisible()) {
            poll.stop();
            tabsHiddenDuringPreview =
                window->tabStrip()->tabBar()->isHidden() && window->dialogBar()->isHidden();
            preview->reject();
        }
    });
    poll.start();
    EXPECT_TRUE(frame->ExecuteCommand(ID_FILE_PRINT_PREVIEW));
    EXPECT_TRUE(tabsHiddenDuringPreview);
    EXPECT_FALSE(window->tabStrip()->tabBar()->isHidden());
    EXPECT_FALSE(window->dialogBar()->isHidden());
}

} // namespace
} // namespace calvora
