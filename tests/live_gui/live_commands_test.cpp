// The meter's commands in the window: Pair, recording with its dialog and questions, Reconnect and Comport,
// a receiver that goes away, closing.
#include "live_panel_support.h"

#include "app/command_ids.h"
#include "app/gui/document_window.h"
#include "app/gui/integer_field_dialogs.h"
#include "panel/gui/instrument_panel.h"
#include "recording/recording_document.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

namespace calvora::testing {
namespace {

// Steps for the script: what a window showed, and how it was answered.
struct Seen {
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

ModalScript::Step Answer(QMessageBox::StandardButton button, std::vector<Seen>* seen) {
    return [button, seen](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        ASSERT_NE(box, nullptr) << window->metaObject()->className();
        seen->push_back({box->text(), box->icon()});
        box->button(button)->click();
    };
}

template <typename Dialog>
ModalScript::Step Type(const QString& text, std::vector<QString>* titles = nullptr) {
    return [text, titles](QWidget* window) {
        auto* dialog = qobject_cast<Dialog*>(window);
        ASSERT_NE(dialog, nullptr) << window->metaObject()->className();
        if (titles != nullptr) {
            titles->push_back(dialog->windowTitle());
        }
        dialog->field()->setText(text);
        QTest::keyClick(dialog->field(), Qt::Key_Return);
    };
}

ModalScript::Step Escape() {
    return [](QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); };
}

class LiveCommandsTest : public LiveWindowTest {};

TEST_F(LiveCommandsTest, PairWaitsForAPortThenForTheAcknowledgement) {
    // Listed but not opened: nothing to pair through.
    EXPECT_FALSE(frame->CommandAction(ID_PAIR)->isEnabled());
    EXPECT_FALSE(frame->ExecuteCommand(ID_PAIR));
    DoubleClick(0);
    ASSERT_TRUE(frame->CommandAction(ID_PAIR)->isEnabled());

    ASSERT_TRUE(frame->ExecuteCommand(ID_PAIR));
    EXPECT_TRUE(frame->IsTimerRunning(kPairTimer));
    sim::Bytes request;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const sim::Bytes more = meter.Received();
            request.insert(request.end(), more.begin(), more.end());
            return request.size() >= sim::kPairRequest.size();
        },
        2000));
    EXPECT_EQ(request, sim::Bytes(sim::kPairRequest.begin(), sim::kPairRequest.end()));
    // The meter answers: the 30-second wait ends without a message.
    ASSERT_TRUE(meter.Send(sim::Bytes(sim::kPairAck.begin(), sim::kPairAck.end())));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame->IsTimerRunning(kPairTimer); }, 3000));
    EXPECT_TRUE(link->state().paired());
}

TEST_F(LiveCommandsTest, PairWithoutAnAnswerSaysSoWithoutAnIcon) {
    DoubleClick(0);
    std::vector<Seen> seen;
    ModalScript script({Answer(QMessageBox::Ok, &seen)});
    ASSERT_TRUE(frame->ExecuteCommand(ID_PAIR));
    // The time-out's tick, as the frame's timer delivers it after 30 s.
    frame->OnTimer(kPairTimer);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, QStringLiteral("Pair failed! Make sure the meter is opened and sending data!"));
    EXPECT_EQ(seen[0].icon, QMessageBox::NoIcon);
}

TEST_F(LiveCommandsTest, RecordingRunsToItsCountAndAsksBeforeStartingOver) {
    EXPECT_FALSE(Enabled(ID_START_RECORDING));
    DoubleClick(0);
    ASSERT_TRUE(frame->CommandAction(ID_START_RECORDING)->isEnabled());
    EXPECT_FALSE(frame->CommandAction(ID_STOP_RECORDING)->isEnabled());

    std::vector<QString> titles;
    {
        // The count is checked before it is taken.
        std::vector<Seen> seen;
        ModalScript script({Type<SamplingSetupDialog>(QStringLiteral("0"), &titles),
                            Answer(QMessageBox::Ok, &seen),
                            Type<SamplingSetupDialog>(QStringLiteral("20001")),
                            Answer(QMessageBox::Ok, &seen), Type<SamplingSetupDialog>(QStringLiteral("2"))});
        ASSERT_TRUE(frame->ExecuteCommand(ID_START_RECORDING));
        EXPECT_TRUE(script.done());
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0].text, QStringLiteral("Enter an integer between 1 and 20000."));
        EXPECT_EQ(seen[1].text, QStringLiteral("Enter an integer between 1 and 20000."));
    }
    ASSERT_EQ(titles.size(), 1u);
    EXPECT_EQ(titles[0], QStringLiteral("Sampling Setup"));
    RecordingDocument* document = link->state().documents().recordingDocument;
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->title, u"RealTime Panel");
    EXPECT_EQ(frame->activeDocument(), document);
    EXPECT_TRUE(frame->CommandAction(ID_STOP_RECORDING)->isEnabled());
    EXPECT_FALSE(frame->CommandAction(ID_START_RECORDING)->isEnabled());

    Feed(sim::ReadingSettings{}, 1000);
    Feed(sim::ReadingSettings{}, 2000);
    EXPECT_EQ(document->sampleCount(), 2u);
    EXPECT_FALSE(link->state().documents().recording);
    frame->UpdateCommandUI();
    EXPECT_TRUE(frame->CommandAction(ID_START_RECORDING)->isEnabled());

    // Starting over on unsaved samples asks first; Escape then leaves everything as it was.
    {
        std::vector<Seen> seen;
        ModalScript script({Answer(QMessageBox::No, &seen), Escape()});
        ASSERT_TRUE(frame->ExecuteCommand(ID_START_RECORDING));
        EXPECT_TRUE(script.done());
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, QStringLiteral("Do you want to save the existing data before continuing?"));
        EXPECT_EQ(seen[0].icon, QMessageBox::Question);
    }
    EXPECT_FALSE(link->state().documents().recording);
    EXPECT_EQ(document->sampleCount(), 2u);

    // Confirmed, the same window takes the new recording.
    {
        std::vector<Seen> seen;
        ModalScript script({Answer(QMessageBox::No, &seen), Type<SamplingSetupDialog>(QStringLiteral("5"))});
        ASSERT_TRUE(frame->ExecuteCommand(ID_START_RECORDING));
        EXPECT_TRUE(script.done());
    }
    EXPECT_TRUE(link->state().documents().recording);
    EXPECT_EQ(link->state().documents().recordingDocument, document);
    EXPECT_EQ(frame->documentWindows().size(), 1);
    Feed(sim::ReadingSettings{}, 3000);
    EXPECT_EQ(document->sampleCount(), 1u);

    // Stop keeps the samples.
    ASSERT_TRUE(frame->ExecuteCommand(ID_STOP_RECORDING));
    EXPECT_FALSE(link->state().documents().recording);
    EXPECT_EQ(document->sampleCount(), 1u);
    EXPECT_FALSE(frame->CommandAction(ID_STOP_RECORDING)->isEnabled());

    // Closing the program asks about the unsaved samples once.
    {
        std::vector<Seen> seen;
        ModalScript script({Answer(QMessageBox::No, &seen)});
        EXPECT_TRUE(frame->close());
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, QStringLiteral("Do you want to save the data before closing?"));
    }
    EXPECT_TRUE(frame->documentWindows().isEmpty());
}

TEST_F(LiveCommandsTest, SamplingSetupHasNoCancelButton) {
    SamplingSetupDialog dialog(*link);
    dialog.show();
    QStringList buttons;
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        buttons << button->text();
    }
    EXPECT_EQ(buttons, QStringList{QStringLiteral("OK")});
    EXPECT_EQ(dialog.field()->objectName(), QStringLiteral("edit1012"));
    EXPECT_EQ(dialog.field()->text(), QStringLiteral("10000"));
    // Typing replaces the proposal rather than adding to it.
    QTest::keyClicks(dialog.field(), QStringLiteral("25"));
    EXPECT_EQ(dialog.field()->text(), QStringLiteral("25"));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(LiveCommandsTest, RemovedReceiverStopsTheRecordingAndBringsTheTreeBack) {
    DoubleClick(0);
    link->state().StartRecordingOf(1500);
    ASSERT_TRUE(link->state().documents().recording);
    for (int i = 0; i < 1234; ++i) {
        Feed(sim::ReadingSettings{}, 1000);
    }
    EXPECT_FALSE(frame->recordingPane()->isHidden());
    EXPECT_EQ(frame->recordingPane()->text(), QStringLiteral("Recording 1,234 of 1,500"));
    // The receiver is pulled: its reader ends and the window takes that as a removal notification.
    inventory.ports.clear();
    meter.Hangup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !link->state().documents().recording; }, 5000));
    EXPECT_FALSE(frame->CommandAction(ID_STOP_RECORDING)->isEnabled());
    EXPECT_EQ(link->state().documents().recordingDocument->sampleCount(), 1234u);
    // Said in the status bar, without a box; the recording's pane goes.
    EXPECT_EQ(frame->statusBar()->currentMessage(),
              QStringLiteral("Receiver removed - recording stopped, 1,234 samples kept."));
    EXPECT_TRUE(frame->recordingPane()->isHidden());
    // One second later the rescan finds nothing: the empty tree is back and the commands wait again.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return frame->instrumentBar()->page(0).window.data() == static_cast<QWidget*>(tree()); },
        5000));
    EXPECT_EQ(tree()->topLevelItemCount(), 0);
    EXPECT_FALSE(frame->CommandAction(ID_PAIR)->isEnabled());
    EXPECT_FALSE(frame->CommandAction(ID_START_RECORDING)->isEnabled());
}

TEST_F(LiveCommandsTest, ComportRefusesOutOfRangeNumbersAndReportsAPortThatWontOpen) {
    std::vector<Seen> seen;
    std::vector<QString> titles;
    ModalScript script({Type<ComportDialog>(QStringLiteral("0"), &titles), Answer(QMessageBox::Ok, &seen),
                        Type<ComportDialog>(QStringLiteral("256")), Answer(QMessageBox::Ok, &seen),
                        Type<ComportDialog>(QStringLiteral("250")), Answer(QMessageBox::Ok, &seen)});
    ASSERT_TRUE(frame->ExecuteCommand(ID_COMPORT));
    EXPECT_TRUE(script.done());
    ASSERT_EQ(titles.size(), 1u);
    EXPECT_EQ(titles[0], QStringLiteral("Comport"));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].text, QStringLiteral("Enter an integer between 1 and 255."));
    EXPECT_EQ(seen[1].text, QStringLiteral("Enter an integer between 1 and 255."));
    // No such device: the warning alone, with the information icon.
    EXPECT_EQ(seen[2].text, QStringLiteral("Warning:Can't open COM250!"));
    EXPECT_EQ(seen[2].icon, QMessageBox::Information);
    // The panel is shown anyway, waiting; nothing was connected.
    ASSERT_NE(link->meterPanel(), nullptr);
    EXPECT_EQ(frame->instrumentBar()->page(0).window.data(), static_cast<QWidget*>(link->meterPanel()));
    EXPECT_FALSE(link->meterPanel()->Control(kMeterNoticeId)->isHidden());
    EXPECT_FALSE(Enabled(ID_PAIR));
}

TEST_F(LiveCommandsTest, ReconnectOpensTheRememberedReceiver) {
    // A device without a COM number, as the simulator's is, is remembered by its path.
    inventory.ports = {{kReceiverDescription, "COM0", meter.path()}};
    ASSERT_TRUE(frame->ExecuteCommand(ID_RESCAN));
    DoubleClick(0);
    InstrumentPanel* panel = link->meterPanel();
    ASSERT_NE(panel, nullptr);
    Feed(sim::ReadingSettings{}, 1000);
    ASSERT_TRUE(panel->Control(kMeterNoticeId)->isHidden());
    // The settings file remembers the receiver: Reconnect opens it again without a message, and the
    // panel (the same one) waits for data.
    ASSERT_TRUE(frame->ExecuteCommand(ID_RECONNECT));
    EXPECT_EQ(link->meterPanel(), panel);
    EXPECT_FALSE(panel->Control(kMeterNoticeId)->isHidden());
    EXPECT_TRUE(link->state().port().isOpen());
    ASSERT_TRUE(meter.Send(sim::BuildLiveFrame(sim::ReadingSettings{}, 2000)));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return panel->Text(kMeterValueId) == QStringLiteral("0.2000"); }, 5000));
}

} // namespace
} // namespace calvora::testing

namespace calvora::testing {
namespace {

TEST_F(LiveCommandsTest, RescanWhileConnectedKeepsThePanelAndReopensTheReceiver) {
    DoubleClick(0);
    InstrumentPanel* panel = link->meterPanel();
    ASSERT_NE(panel, nullptr);
    // Another device came or went: the receiver is still there, so the tree is rebuilt behind the panel
    // and the receiver opened again 200 ms later.
    link->state().ScanReceivers();
    EXPECT_EQ(frame->instrumentBar()->page(0).window.data(), static_cast<QWidget*>(panel));
    EXPECT_EQ(tree()->topLevelItemCount(), 1);
    EXPECT_TRUE(frame->IsTimerRunning(kConnectTimer));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->IsTimerRunning(kConnectTimer); }, 3000));
    EXPECT_TRUE(link->state().port().isOpen());
    ASSERT_TRUE(meter.Send(sim::BuildLiveFrame(sim::ReadingSettings{}, 3000)));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return panel->Text(kMeterValueId) == QStringLiteral("0.3000"); }, 5000));
    EXPECT_EQ(frame->instrumentBar()->page(0).window.data(), static_cast<QWidget*>(panel));
}

} // namespace
} // namespace calvora::testing

namespace calvora::testing {
namespace {

TEST_F(LiveCommandsTest, PermissionFailureSaysHowToGetAccess) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "the superuser opens any device";
    }
    const QString locked = dir.filePath(QStringLiteral("locked-receiver"));
    QFile file(locked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(file.setPermissions(QFileDevice::Permissions()));
    inventory.ports = {{kReceiverDescription, "COM4", locked.toStdString()}};
    ASSERT_TRUE(frame->ExecuteCommand(ID_RESCAN));
    std::vector<Seen> seen;
    ModalScript script({Answer(QMessageBox::Ok, &seen)});
    DoubleClick(0);
    ASSERT_EQ(seen.size(), 1u);
    const QStringList lines = seen[0].text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("Warning:Can't open COM4!"));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("dialout"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("udev"))) << lines[1].toStdString();
    // The panel is shown anyway, with nothing connected.
    EXPECT_EQ(frame->instrumentBar()->page(0).window.data(), static_cast<QWidget*>(link->meterPanel()));
    EXPECT_FALSE(Enabled(ID_PAIR));
}

} // namespace
} // namespace calvora::testing
