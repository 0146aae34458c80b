// Continuous logging in the desktop program: the command and its dialog, the log window fed by a receiver
// on a pseudo-terminal, the status bar's pane, Stop Recording, the log file opened again read-only, its
// range exported as a recording; and View > Time Axis for a recording.
#include "app/command_ids.h"
#include "app/gui/document_window.h"
#include "chart/gui/chart_document_view.h"
#include "chart/gui/time_chart_document_view.h"
#include "logging/continuous_log.h"
#include "logging/gui/continuous_logging_dialog.h"
#include "logging/gui/export_range_dialog.h"
#include "logging/gui/log_list_model.h"
#include "logging/gui/log_window.h"
#include "panel/gui/instrument_panel.h"
#include "panel/meter_layout.h"
#include "recording/recording_document.h"
#include "tests/logging/log_test_support.h"
#include "tests/support/answer_dialog.h"
#include "tests/support/shown_main_window.h"
#include "tools/sim/meter_frames.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

namespace calvora {
namespace {

using namespace std::chrono_literals;

using testing::AnswerDialog;

class ContinuousLoggingTest : public testing::ShownMainWindowTest {
protected:
    void SetUp() override {
        inventory.ports = {{kReceiverDescription, "COM1", line.path()}};
        ShownMainWindowTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        QTreeWidget* tree = frame->instrumentTree();
        ASSERT_EQ(tree->topLevelItemCount(), 1);
        Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(0), 0);
        ASSERT_EQ(link->state().connectedLabel(), u"Multimeter");
    }

    void Send(int32_t count) { ASSERT_TRUE(line.Send(sim::BuildLiveFrame(sim::ReadingSettings{}, count))); }

    QString LogPath(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    testing::MeterLine line;
};

TEST_F(ContinuousLoggingTest, TheCommandLogsIntoAWindowUntilItsStopConditionAndTheFileOpensAgain) {
    const QString path = LogPath("bench.calvlog");
    ASSERT_TRUE(Enabled(ID_CONTINUOUS_LOGGING));
    AnswerDialog<ContinuousLoggingDialog>([&](ContinuousLoggingDialog& dialog) {
        // The proposal: the Save command's default name with the log's extension.
        EXPECT_TRUE(dialog.fileEdit()->text().endsWith(QStringLiteral(".calvlog")));
        EXPECT_TRUE(dialog.noStop()->isChecked());
        dialog.fileEdit()->setText(path);
        dialog.stopAfterReadings()->setChecked(true);
        dialog.readings()->setValue(5);
        dialog.accept();
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_CONTINUOUS_LOGGING));
    ASSERT_TRUE(link->state().logging()) << (prompts.messages.empty() ? "" : "message shown");
    EXPECT_FALSE(Enabled(ID_CONTINUOUS_LOGGING));
    EXPECT_TRUE(Enabled(ID_STOP_RECORDING));

    LogWindow* window = frame->activeLogWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("bench.calvlog"));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Calvora - bench.calvlog"));
    EXPECT_EQ(frame->currentMenuId(), MainWindow::kMenuWithDocument);
    EXPECT_TRUE(Enabled(ID_FILE_PRINT));

    for (int32_t count : {1000, 1001, 1002})
        Send(count);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->log().readingCount() == 3; }, 5000));
    // The pane follows the log four times a second.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return frame->logPane()->text().startsWith(QStringLiteral("Logging: 3 readings, 0:00:")); },
        2000))
        << frame->logPane()->text().toStdString();
    EXPECT_TRUE(frame->logPane()->isVisible());

    // The fifth reading is the last: the log stops by itself, the pane goes, the command is back.
    for (int32_t count : {1003, 1004, 1005, 1006})
        Send(count);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !link->state().logging(); }, 5000));
    EXPECT_EQ(window->log().readingCount(), 5u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame->logPane()->isHidden(); }, 2000));
    EXPECT_TRUE(Enabled(ID_CONTINUOUS_LOGGING));
    EXPECT_TRUE(prompts.messages.empty());

    // The file opens again, read-only, in a window of its own, and goes on the recent-file list.
    EXPECT_EQ(frame->OpenDocumentFile(path), nullptr);
    LogWindow* opened = frame->activeLogWindow();
    ASSERT_NE(opened, nullptr);
    ASSERT_NE(opened, window);
    EXPECT_EQ(opened->pathName(), QFileInfo(path).absoluteFilePath());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened->loading(); }, 5000));
    EXPECT_EQ(opened->log().readingCount(), 5u);
    EXPECT_FALSE(opened->following()); // its writer has finished it
    ASSERT_FALSE(frame->recentFiles().entries().empty());
    EXPECT_EQ(frame->recentFiles().entries().front(), QFileInfo(path).absoluteFilePath().toStdU16String());
    // Opening it again shows the same window.
    frame->OpenDocumentFile(path);
    EXPECT_EQ(frame->logWindows().size(), 2);

    // Its readings as a recording, in a new document window.
    ASSERT_TRUE(Enabled(ID_EXPORT_LOG_RANGE));
    AnswerDialog<ExportRangeDialog>([](ExportRangeDialog& dialog) {
        EXPECT_EQ(dialog.range().count(), 5u);
        dialog.accept();
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_EXPORT_LOG_RANGE));
    RecordingDocument* recording = frame->activeDocument();
    ASSERT_NE(recording, nullptr);
    ASSERT_EQ(recording->sampleCount(), 5u);
    for (uint32_t i = 0; i < 5; ++i)
        EXPECT_FLOAT_EQ(recording->value(i, 0), opened->log().value(i)) << i;
    EXPECT_LT(recording->value(0, 0), recording->value(4, 0));
}

// The proposed folder may not exist yet (no Documents folder): it is made rather than the log refused.
TEST_F(ContinuousLoggingTest, TheLogsFolderIsMadeWhenMissing) {
    const QString path = LogPath("not/yet/there.calvlog");
    AnswerDialog<ContinuousLoggingDialog>([&](ContinuousLoggingDialog& dialog) {
        dialog.fileEdit()->setText(path);
        dialog.accept();
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_CONTINUOUS_LOGGING));
    EXPECT_TRUE(prompts.messages.empty()) << QString::fromStdU16String(prompts.messages.at(0)).toStdString();
    EXPECT_TRUE(link->state().logging());
    EXPECT_TRUE(QFile::exists(path));
}

TEST_F(ContinuousLoggingTest, StopRecordingEndsALogAndTheReceiverGoingAwayOpensAGap) {
    ASSERT_TRUE(link->state().StartLogging(LogPath("away.calvlog").toStdU16String(), {}));
    LogWindow* window = frame->activeLogWindow();
    ASSERT_NE(window, nullptr);
    Send(2000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->log().readingCount() == 1; }, 5000));
    // The receiver is pulled: a gap opens and the log goes on waiting for it.
    line.Hangup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->log().gapOpen(); }, 5000));
    EXPECT_TRUE(link->state().logging());
    EXPECT_TRUE(window->statusLine()->text().contains(QStringLiteral("no signal")));
    ASSERT_NE(link->meterPanel(), nullptr);
    EXPECT_EQ(link->meterPanel()->Text(kMeterValueId), QStringLiteral("no signal"));
    ASSERT_TRUE(Enabled(ID_STOP_RECORDING));
    ASSERT_TRUE(frame->ExecuteCommand(ID_STOP_RECORDING));
    EXPECT_FALSE(link->state().logging());
    EXPECT_TRUE(frame->logPane()->isHidden());
    ASSERT_EQ(window->log().gaps().size(), 1u);
    EXPECT_EQ(window->log().gaps()[0].reason, u"receiver unplugged");
}

class LogFilesTest : public testing::ShownMainWindowTest {};

TEST_F(LogFilesTest, LogsAreKnownByNameOrByTheirFirstBytesAndABadOneLeavesNoWindow) {
    const QString sqliteNamedOtherwise = dir.filePath(QStringLiteral("copied.recorder"));
    const QString recorder = dir.filePath(QStringLiteral("real.recorder"));
    const QString broken = dir.filePath(QStringLiteral("broken.calvlog"));
    auto write = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write(sqliteNamedOtherwise, QByteArray("SQLite format 3\0and the rest of a page", 38));
    write(recorder, QByteArray("\x0bQM310/QM312 and more"));
    write(broken, QByteArray("not a database at all, only text that goes on for a while."));
    const struct {
        QString path;
        bool log;
    } cases[] = {
        {dir.filePath(QStringLiteral("missing.calvlog")), true},
        {dir.filePath(QStringLiteral("MISSING.CALVLOG")), true},
        {sqliteNamedOtherwise, true},
        {recorder, false},
        {dir.filePath(QStringLiteral("missing.recorder")), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsLogFile(c.path), c.log) << c.path.toStdString();

    EXPECT_EQ(frame->OpenDocumentFile(broken), nullptr);
    EXPECT_TRUE(frame->mdiArea()->subWindowList().isEmpty());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].rfind(u"Cannot open broken.calvlog.\n", 0), 0u);
    EXPECT_TRUE(frame->recentFiles().entries().empty());
}

// A log another program is still writing opens read-only and follows what that program commits, until it
// finishes the log.
TEST_F(LogFilesTest, ALogBeingWrittenElsewhereIsFollowedUntilItEnds) {
    const QString path = dir.filePath(QStringLiteral("elsewhere.calvlog"));
    constexpr int64_t kStart = 1'796'000'000'000;
    auto writer = ContinuousLog::Start(path.toStdU16String(), {}, {{"model", "QM310/QM312"}}, kStart);
    ASSERT_TRUE(writer);
    ContinuousLog& log = *writer.value();
    for (int i = 0; i < 3; ++i)
        log.OnReading(testing::Reading(100 + i), kStart + 20 * i);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.committedReadings() == 3; }, 5000));

    EXPECT_EQ(frame->OpenDocumentFile(path), nullptr);
    LogWindow* window = frame->activeLogWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->loading(); }, 5000));
    EXPECT_EQ(window->log().readingCount(), 3u);
    EXPECT_TRUE(window->following());
    EXPECT_TRUE(window->statusLine()->text().contains(QStringLiteral("following")));

    for (int i = 3; i < 5; ++i)
        log.OnReading(testing::Reading(100 + i), kStart + 20 * i);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->log().readingCount() == 5; }, 5000));
    ASSERT_TRUE(log.Finish(kStart + 1000, LogEnd::Stopped));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->following(); }, 5000));
    EXPECT_EQ(window->log().readingCount(), 5u);
    EXPECT_FLOAT_EQ(window->log().value(4), log.document().value(4));
}

// A log of two meters written elsewhere: the list names each reading's meter in time order, the status line
// counts per meter, following goes on after the loaded readings for both, and the chooser picks the meter
// that Export takes.
TEST_F(LogFilesTest, ALogOfTwoMetersListsAndFollowsEachMeter) {
    const QString path = dir.filePath(QStringLiteral("bench.calvlog"));
    constexpr int64_t kStart = 1'796'000'000'000;
    auto writers =
        ContinuousLog::StartSeveral(path.toStdU16String(), {}, {{"model", "QM310/QM312"}},
                                    {{"Supply", "/dev/ttyUSB0"}, {"Load", "/dev/ttyUSB1"}}, kStart);
    ASSERT_TRUE(writers);
    ContinuousLog& supply = *writers.value()[0];
    ContinuousLog& load = *writers.value()[1];
    // Load reads twice as often as Supply.
    auto feed = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            load.OnReading(testing::Reading(2000 + i), kStart + 10 * i);
            if (i % 2 == 0)
                supply.OnReading(testing::Reading(1000 + i), kStart + 10 * i + 5);
        }
    };
    feed(0, 6);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return supply.committedReadings() == 3 && load.committedReadings() == 6; }, 5000));

    EXPECT_EQ(frame->OpenDocumentFile(path), nullptr);
    LogWindow* window = frame->activeLogWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("bench.calvlog"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->loading(); }, 5000));
    ASSERT_TRUE(window->following());
    LogListModel& list = *window->listModel();
    ASSERT_EQ(list.columnCount(), kLogColumns + 1);
    EXPECT_EQ(list.headerData(kLogMeterColumn, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Meter"));
    ASSERT_EQ(list.rowCount(), 9);
    const std::vector<const char*> expected{"Load", "Supply", "Load",   "Load", "Supply",
                                            "Load", "Load",   "Supply", "Load"};
    for (int row = 0; row < list.rowCount(); ++row)
        EXPECT_EQ(list.data(list.index(row, kLogMeterColumn), Qt::DisplayRole).toString().toStdString(),
                  expected[static_cast<size_t>(row)])
            << row;
    EXPECT_TRUE(window->statusLine()->text().startsWith(
        QStringLiteral("Supply: 3 readings, 0 gaps; Load: 6 readings, 0 gaps")))
        << window->statusLine()->text().toStdString();

    feed(6, 10);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return window->set().meters[0].log->readingCount() == 5 &&
                   window->set().meters[1].log->readingCount() == 10;
        },
        5000));
    list.CatchUp();
    EXPECT_EQ(list.rowCount(), 15) << "no reading is listed twice";
    ASSERT_TRUE(supply.Finish(kStart + 1000, LogEnd::Stopped));
    ASSERT_TRUE(load.Finish(kStart + 1000, LogEnd::Stopped));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->following(); }, 5000));

    ASSERT_TRUE(window->meterChooser()->isVisibleTo(window));
    EXPECT_EQ(&window->log(), window->set().meters[0].log.get());
    window->meterChooser()->setCurrentIndex(1);
    EXPECT_EQ(&window->log(), window->set().meters[1].log.get());
    EXPECT_FLOAT_EQ(window->log().value(9), load.document().value(9));
}

TEST_F(LogFilesTest, TimeAxisSwitchesARecordingsGraphBetweenSampleNumbersAndTimes) {
    DocumentWindow* window = frame->NewDocument();
    RecordingDocument& document = *window->document();
    document.SetChannelCount(1);
    uint32_t rows = 0;
    ASSERT_TRUE(document.BeginLiveStorage(4, rows));
    // Offered once the samples span more than one second.
    for (const char16_t* time : {u" 12/08/26 10:00:00", u" 12/08/26 10:00:00"})
        ASSERT_TRUE(document.AppendSample(1.0f, 6.0f, -6, u"VDC", u"DC", u"V", time));
    EXPECT_FALSE(Enabled(ID_VIEW_TIME_AXIS));
    ASSERT_TRUE(document.AppendSample(1.0f, 6.0f, -6, u"VDC", u"DC", u"V", u" 12/08/26 10:00:03"));

    ASSERT_TRUE(Enabled(ID_VIEW_TIME_AXIS));
    EXPECT_FALSE(frame->QueryCommandState(ID_VIEW_TIME_AXIS).checked);
    ASSERT_NE(qobject_cast<ChartDocumentView*>(window->activeView()), nullptr);
    ASSERT_TRUE(frame->ExecuteCommand(ID_VIEW_TIME_AXIS));
    EXPECT_TRUE(frame->QueryCommandState(ID_VIEW_TIME_AXIS).checked);
    auto* timeView = qobject_cast<TimeChartDocumentView*>(window->activeView());
    ASSERT_NE(timeView, nullptr);
    ASSERT_NE(timeView->chart().series(), nullptr);
    EXPECT_EQ(timeView->chart().series()->readingCount(), 3u);
    EXPECT_EQ(timeView->chart().series()->lastTime() - timeView->chart().series()->firstTime(), 3000);

    // The list tab is left alone; the graph comes back as it was chosen last.
    ASSERT_TRUE(window->SwitchToTab(1));
    ASSERT_TRUE(window->SwitchToTab(0));
    EXPECT_NE(qobject_cast<TimeChartDocumentView*>(window->activeView()), nullptr);
    ASSERT_TRUE(frame->ExecuteCommand(ID_VIEW_TIME_AXIS));
    EXPECT_NE(qobject_cast<ChartDocumentView*>(window->activeView()), nullptr);
}

} // namespace
} // namespace calvora
