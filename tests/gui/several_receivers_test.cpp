// Two receivers connected at once in the desktop program: the Instrument bar stacks their panels under the
// tree, each session records into its own document, a pulled receiver ends only its own session, and
// Disconnect closes them all.
#include "app/command_ids.h"
#include "app/gui/engine_link.h"
#include "app/gui/main_window.h"
#include "recording/recording_document.h"
#include "tests/support/fake_receiver.h"
#include "tests/support/window_with_engine.h"
#include "tools/sim/meter_frames.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QTest>
#include <QTreeWidget>

namespace calvora {
namespace {

using testing::MeterLine;

class SeveralReceiversTest : public testing::WindowWithEngineTest {
protected:
    static void Send(MeterLine& line, int32_t count) {
        sim::ReadingSettings reading;
        ASSERT_TRUE(line.Send(sim::BuildLiveFrame(reading, count)));
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
    MeterLine first;
    MeterLine second;
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

} // namespace
} // namespace calvora
