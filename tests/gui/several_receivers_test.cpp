// Two receivers connected at once in the desktop program: the Instrument bar stacks their panels under the
// tree, each session records into its own document, a pulled receiver ends only its own session; the
// Instrument commands, renaming and Disconnect act on the active receiver, chosen by a click on its panel.
#include "app/command_ids.h"
#include "app/gui/document_window.h"
#include "app/gui/engine_link.h"
#include "app/gui/integer_field_dialogs.h"
#include "app/gui/main_window.h"
#include "chart/gui/time_chart_view.h"
#include "logging/gui/continuous_logging_dialog.h"
#include "logging/gui/log_window.h"
#include "logging/log_file.h"
#include "measure/gui/alarm_center.h"
#include "protocol/text.h"
#include "recording/recording_document.h"
#include "tests/support/answer_dialog.h"
#include "tests/support/fake_receiver.h"
#include "tests/support/shown_main_window.h"
#include "tests/support/window_with_engine.h"
#include "tools/sim/meter_frames.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QInputDialog>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

namespace calvora {
namespace {

using testing::MeterLine;

using testing::AnswerDialog;

// What the program wrote to the receiver's line within a moment.
std::vector<uint8_t> Written(const MeterLine& line) {
    std::vector<uint8_t> bytes;
    // Nothing written is an answer too.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            const std::vector<uint8_t> more = line.Received();
            bytes.insert(bytes.end(), more.begin(), more.end());
            return !bytes.empty();
        },
        300));
    return bytes;
}

class SeveralReceiversTest : public testing::WindowWithEngineTest {
protected:
    MeterLine first;
    MeterLine second;

    static void Send(MeterLine& line, int32_t count) {
        sim::ReadingSettings reading;
        ASSERT_TRUE(line.Send(sim::BuildLiveFrame(reading, count)));
    }
    // Both receivers listed and connected, the first one first.
    void ConnectBoth() {
        ASSERT_FALSE(first.path().empty());
        ASSERT_FALSE(second.path().empty());
        inventory.ports = {{kReceiverDescription, "COM1", first.path()},
                           {kReceiverDescription, "COM2", second.path()}};
        frame->show();
        link->Start();
        QTreeWidget* tree = frame->instrumentTree();
        ASSERT_EQ(tree->topLevelItemCount(), 2);
        Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(0), 0);
        Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(1), 0);
        ASSERT_EQ(link->extraSessionCount(), 1u);
    }
    QStringList Titles() const {
        QStringList titles;
        for (const QGroupBox* box : link->panelStack()->findChildren<QGroupBox*>()) {
            titles << box->title();
        }
        return titles;
    }
};

TEST_F(SeveralReceiversTest, ASecondReceiverConnectsBesideTheFirstWithItsOwnPanelAndDocument) {
    ASSERT_FALSE(first.path().empty());
    ASSERT_FALSE(second.path().empty());
    ASSERT_TRUE(settings->WriteReceiverName(second.path(), "Load current"));
    inventory.ports = {{kReceiverDescription, "COM1", first.path()},
                       {kReceiverDescription, "COM2", second.path()}};
    frame->show();
    link->Start();
    QTreeWidget* tree = frame->instrumentTree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("Load current"));

    Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(0), 0);
    ASSERT_EQ(link->state().connectedLabel(), u"Multimeter");
    // Another receiver could join: the tree stays on the page above the panel.
    ASSERT_NE(link->panelStack(), nullptr);
    EXPECT_EQ(frame->instrumentBar()->page(0).window.data(), link->panelStack());
    EXPECT_TRUE(link->panelStack()->isAncestorOf(tree));
    EXPECT_TRUE(tree->isVisible());

    Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(1), 0);
    ASSERT_EQ(link->extraSessionCount(), 1u);
    EXPECT_EQ(Titles(), (QStringList{QStringLiteral("Multimeter: no signal"),
                                     QStringLiteral("Load current: no signal")}));
    // A second double-click on a connected receiver opens nothing more.
    Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(1), 0);
    EXPECT_EQ(link->extraSessionCount(), 1u);

    MeterEngine& extra = link->extraSession(0);
    link->state().StartRecordingOf(5);
    extra.StartRecordingOf(5);
    RecordingDocument* mine = link->state().documents().recordingDocument;
    RecordingDocument* theirs = extra.documents().recordingDocument;
    ASSERT_NE(mine, nullptr);
    ASSERT_NE(theirs, nullptr);
    EXPECT_NE(mine, theirs);
    for (int k = 0; k < 3; ++k) {
        Send(first, 1000);
        Send(second, 2500);
    }
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return mine->sampleCount() == 3 && theirs->sampleCount() == 3; }, 5000));
    for (uint32_t row = 0; row < 3; ++row) {
        EXPECT_EQ(mine->value(row, 0), mine->value(0, 0));
        EXPECT_EQ(theirs->value(row, 0), theirs->value(0, 0));
    }
    EXPECT_NE(mine->value(0, 0), theirs->value(0, 0)) << "a reading crossed to the other session";
    EXPECT_EQ(Titles(), (QStringList{QStringLiteral("Multimeter: recording"),
                                     QStringLiteral("Load current: recording")}));

    // The second receiver pulled: its session ends and keeps what it recorded; the first goes on.
    second.Hangup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return link->extraSessionCount() == 0; }, 5000));
    EXPECT_EQ(theirs->sampleCount(), 3u);
    EXPECT_EQ(Titles(), QStringList{QStringLiteral("Multimeter: recording")});
    Send(first, 1000);
    Send(first, 1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return mine->sampleCount() == 5; }, 5000));
    EXPECT_EQ(Titles(), QStringList{QStringLiteral("Multimeter: connected")});

    EXPECT_TRUE(Enabled(ID_DISCONNECT));
    ASSERT_TRUE(frame->ExecuteCommand(ID_DISCONNECT));
    EXPECT_FALSE(link->state().port().isOpen());
    EXPECT_EQ(link->panelStack(), nullptr);
    EXPECT_EQ(frame->instrumentBar()->page(0).window.data(), static_cast<QWidget*>(tree));
    EXPECT_FALSE(Enabled(ID_DISCONNECT));
}

TEST_F(SeveralReceiversTest, TheActiveReceiverTakesTheCommandsItsNameAndDisconnect) {
    ASSERT_NO_FATAL_FAILURE(ConnectBoth());
    QTreeWidget* tree = frame->instrumentTree();
    MeterEngine& mine = link->state();
    MeterEngine& theirs = link->extraSession(0);
    EXPECT_EQ(Titles(), (QStringList{QStringLiteral("Multimeter: no signal"),
                                     QStringLiteral("Multimeter 2: no signal")}));

    // A click on the second panel makes it the active receiver; its title stands out.
    QGroupBox* myBox = link->panelBoxOf(mine);
    QGroupBox* theirBox = link->panelBoxOf(theirs);
    ASSERT_NE(myBox, nullptr);
    ASSERT_NE(theirBox, nullptr);
    EXPECT_TRUE(myBox->font().bold());
    EXPECT_FALSE(theirBox->font().bold());
    QTest::mouseClick(theirBox, Qt::LeftButton, {}, QPoint(theirBox->width() / 2, 4));
    EXPECT_EQ(&link->desk().active(), &theirs);
    EXPECT_FALSE(myBox->font().bold());
    EXPECT_TRUE(theirBox->font().bold());

    // Pairing goes out on the second receiver's line only.
    Written(first);
    Written(second);
    ASSERT_TRUE(Enabled(ID_PAIR));
    ASSERT_TRUE(frame->ExecuteCommand(ID_PAIR));
    EXPECT_FALSE(Written(second).empty());
    EXPECT_TRUE(Written(first).empty()) << "the first receiver was paired too";

    // The second meter's stored log fills a document of the second session, named after its receiver.
    std::vector<sim::Record> records;
    for (int i = 0; i < 5; ++i) {
        records.push_back(sim::BuildRecord(sim::ReadingSettings{}, 1000 + 10 * i));
    }
    for (const sim::Bytes& bytes : sim::BuildLogBurst(records)) {
        ASSERT_TRUE(second.Send(bytes));
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return theirs.documents().downloadDocument != nullptr && !theirs.downloading(); }, 5000));
    RecordingDocument* download = theirs.documents().downloadDocument;
    EXPECT_EQ(download->sampleCount(), 5u);
    EXPECT_EQ(download->title, u"Datalog Panel (Multimeter 2)");
    EXPECT_EQ(mine.documents().downloadDocument, nullptr);

    // Recording starts on the second receiver only, as many samples as the dialog says.
    AnswerDialog<SamplingSetupDialog>([](SamplingSetupDialog& dialog) {
        dialog.SetValue(3);
        dialog.accept();
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_START_RECORDING));
    ASSERT_TRUE(theirs.documents().recording);
    EXPECT_FALSE(mine.documents().recording);
    EXPECT_EQ(theirs.documents().plannedSamples, 3u);
    RecordingDocument* live = theirs.documents().recordingDocument;
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->title, u"RealTime Panel (Multimeter 2)");
    EXPECT_FALSE(Enabled(ID_START_RECORDING));
    EXPECT_TRUE(Enabled(ID_STOP_RECORDING));
    // The commands follow the active receiver's state.
    QTest::mouseClick(myBox, Qt::LeftButton, {}, QPoint(myBox->width() / 2, 4));
    EXPECT_TRUE(Enabled(ID_START_RECORDING));
    EXPECT_FALSE(Enabled(ID_STOP_RECORDING));
    QTest::mouseClick(theirBox, Qt::LeftButton, {}, QPoint(theirBox->width() / 2, 4));

    // Renaming the active receiver: the settings file, the panel's title, the tree and the documents.
    AnswerDialog<QInputDialog>([](QInputDialog& dialog) {
        EXPECT_EQ(dialog.textValue(), QStringLiteral("Multimeter"));
        dialog.setTextValue(QStringLiteral("Load current"));
        dialog.accept();
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_RENAME_RECEIVER));
    EXPECT_EQ(settings->ReadReceiverName(second.path()).value(), "Load current");
    QFile ini(dir.filePath(QStringLiteral("ZAZEDOVADIZO.ini")));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QString kept = QString::fromUtf8(ini.readAll());
    EXPECT_TRUE(kept.contains(QStringLiteral("[Receiver names]"))) << kept.toStdString();
    EXPECT_TRUE(kept.contains(QStringLiteral("Load current"))) << kept.toStdString();
    EXPECT_EQ(Titles(), (QStringList{QStringLiteral("Multimeter: no signal"),
                                     QStringLiteral("Load current: recording")}));
    EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("Load current"));
    EXPECT_EQ(live->title, u"RealTime Panel (Load current)");
    EXPECT_EQ(download->title, u"Datalog Panel (Load current)");
    ASSERT_NE(frame->WindowOf(live), nullptr);
    EXPECT_EQ(frame->WindowOf(live)->windowTitle(), QStringLiteral("RealTime Panel (Load current)"));
    EXPECT_EQ(mine.documents().recordingDocument, nullptr);

    // Disconnect ends the active receiver's session; the first one goes on and becomes active.
    ASSERT_TRUE(frame->ExecuteCommand(ID_DISCONNECT));
    EXPECT_EQ(link->extraSessionCount(), 0u);
    EXPECT_FALSE(theirs.port().isOpen());
    EXPECT_FALSE(theirs.documents().recording);
    EXPECT_TRUE(mine.port().isOpen());
    EXPECT_EQ(&link->desk().active(), &mine);
    Send(first, 1000);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Titles() == QStringList{QStringLiteral("Multimeter: connected")}; }, 5000))
        << Titles().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(Enabled(ID_DISCONNECT));
}

TEST_F(SeveralReceiversTest, AnAlarmThatStopsTheRecordingStopsTheRecordingItCameFrom) {
    ASSERT_NO_FATAL_FAILURE(ConnectBoth());
    MeterEngine& mine = link->state();
    MeterEngine& theirs = link->extraSession(0);
    mine.StartRecordingOf(10);
    theirs.StartRecordingOf(10);

    // The alarm center tells of the event (its source is the document's title), then stops the recording.
    AlarmNotice notice;
    notice.event.kind = AlarmEvent::Kind::Raised;
    notice.source = theirs.documents().recordingDocument->title;
    app->alarms()->Event(notice);
    app->alarms()->StopRecording();
    EXPECT_FALSE(theirs.documents().recording);
    EXPECT_TRUE(mine.documents().recording) << "the other receiver's alarm stopped the first one's recording";

    notice.source = mine.documents().recordingDocument->title;
    theirs.StartRecordingOf(10);
    app->alarms()->Event(notice);
    app->alarms()->StopRecording();
    EXPECT_FALSE(mine.documents().recording);
    EXPECT_TRUE(theirs.documents().recording);
}

// One continuous log over both receivers: the dialog offers them, one window shows both meters, each
// reading lands under its own meter in one file, and Stop Recording ends the log for both.
TEST_F(SeveralReceiversTest, OneLogTakesBothReceiversAndStopEndsItForBoth) {
    testing::ScriptedPrompts prompts;
    app.reset();
    Assemble(&prompts);
    ASSERT_TRUE(settings->WriteReceiverName(second.path(), "Load current"));
    ASSERT_NO_FATAL_FAILURE(ConnectBoth());
    MeterEngine& mine = link->state();
    MeterEngine& theirs = link->extraSession(0);

    const QString path = dir.filePath(QStringLiteral("bench.calvlog"));
    AnswerDialog<ContinuousLoggingDialog>([&](ContinuousLoggingDialog& dialog) {
        ASSERT_EQ(dialog.receiverBoxes().size(), 2u);
        EXPECT_EQ(dialog.receiverBoxes()[0]->text(), QStringLiteral("Multimeter"));
        EXPECT_EQ(dialog.receiverBoxes()[1]->text(), QStringLiteral("Load current"));
        dialog.fileEdit()->setText(path);
        dialog.accept();
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_CONTINUOUS_LOGGING));
    ASSERT_TRUE(mine.logging()) << (prompts.messages.empty() ? "" : toUtf8(prompts.messages.back()));
    ASSERT_TRUE(theirs.logging());
    LogWindow* window = frame->activeLogWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(frame->logWindows().size(), 1);
    ASSERT_EQ(window->chart()->traces().size(), 2u);
    EXPECT_EQ(window->chart()->traces()[1].name, QStringLiteral("Load current"));

    for (int k = 0; k < 3; ++k) {
        Send(first, 1000);
        Send(second, 2500);
    }
    Send(second, 2500);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return mine.currentLog()->readingCount() == 3 && theirs.currentLog()->readingCount() == 4; },
        5000));
    ASSERT_TRUE(frame->ExecuteCommand(ID_STOP_RECORDING));
    EXPECT_FALSE(mine.logging());
    EXPECT_FALSE(theirs.logging()) << "Stop Recording left the other receiver's part of the log running";

    const Outcome<LogSet> read = LoadLogSet(path.toStdString());
    ASSERT_TRUE(read) << toUtf8(read.reason());
    ASSERT_EQ(read.value().meters.size(), 2u);
    EXPECT_EQ(read.value().meters[0].facts.name, "Multimeter");
    EXPECT_EQ(read.value().meters[1].facts.name, "Load current");
    EXPECT_EQ(read.value().meters[0].log->readingCount(), 3u);
    EXPECT_EQ(read.value().meters[1].log->readingCount(), 4u);
    EXPECT_NE(read.value().meters[0].log->value(0), read.value().meters[1].log->value(0));
}

} // namespace
} // namespace calvora
