#include "app/command_ids.h"
#include "app/gui/calvora_application.h"
#include "app/gui/engine_link.h"
#include "app/gui/instrument_panel_page.h"
#include "app/gui/integer_field_dialogs.h"
#include "app/gui/loading_dialog.h"
#include "app/gui/main_window.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
#include "protocol/number_fields.h"
#include "protocol/text.h"
#include "tests/support/fake_receiver.h"
#include "tests/support/window_with_engine.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace calvora {
namespace {

TEST(IntField, AcceptsBlanksSignAndDigitsOnly) {
    struct Case {
        const char16_t* text;
        bool ok;
        int32_t value;
        const char16_t* message;
    };
    const Case cases[] = {
        {u"1", true, 1, u""},
        {u"20000", true, 20000, u""},
        {u"  250 ", true, 250, u""},
        {u"+7", true, 7, u""},
        {u"0", false, 0, u"Enter an integer between 1 and 20000."},
        {u"20001", false, 0, u"Enter an integer between 1 and 20000."},
        {u"-3", false, 0, u"Enter an integer between 1 and 20000."},
        {u"", false, 0, u"Enter an integer."},
        {u"12abc", false, 0, u"Enter an integer."},
        {u"1 2", false, 0, u"Enter an integer."},
        {u"-", false, 0, u"Enter an integer."},
        {u"99999999999", false, 0, u"Enter an integer."},
    };
    for (const Case& c : cases) {
        const Outcome<int32_t> parsed = ParseIntField(c.text, 1, 20000);
        EXPECT_EQ(static_cast<bool>(parsed), c.ok) << toUtf8(c.text);
        EXPECT_EQ(parsed.reason(), c.message) << toUtf8(c.text);
        if (c.ok) {
            EXPECT_EQ(parsed.value(), c.value) << toUtf8(c.text);
        }
    }
    EXPECT_EQ(ParseIntField(u"256", 1, 255).reason(), u"Enter an integer between 1 and 255.");
}

class CountingPrompts : public UserPrompts {
public:
    bool AskYesNo(const std::u16string&) override { return false; }
    void ShowMessage(const std::u16string& text, MessageIcon) override { messages.push_back(text); }
    std::vector<std::u16string> messages;
};

TEST(IntDialogs, OkStaysOpenUntilTheFieldIsValid) {
    CountingPrompts prompts;
    SamplingSetupDialog dialog(prompts);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Sampling Setup"));
    EXPECT_EQ(dialog.field()->text(), QStringLiteral("10000"));
    dialog.show();
    dialog.field()->setText(QStringLiteral("0"));
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], u"Enter an integer between 1 and 20000.");
    dialog.field()->setText(QStringLiteral("1"));
    dialog.accept();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.value(), 1);

    ComportDialog comport(prompts);
    EXPECT_EQ(comport.field()->text(), QStringLiteral("3"));
    comport.show();
    comport.field()->clear();
    QTest::keyClicks(comport.field(), QStringLiteral("2x5-6"));
    // The number-only field takes the digits alone.
    EXPECT_EQ(comport.field()->text(), QStringLiteral("256"));
    comport.accept();
    EXPECT_EQ(prompts.messages.back(), u"Enter an integer between 1 and 255.");
    comport.field()->setText(QStringLiteral("255"));
    comport.accept();
    EXPECT_EQ(comport.value(), 255);
}

using testing::ListedInventory;
using testing::MeterLine;

class EngineLinkTest : public testing::WindowWithEngineTest {};

TEST_F(EngineLinkTest, ScanFillsTheTreeAndTheMeterCommandsWaitForAConnection) {
    inventory.ports = {{kReceiverDescription, "COM5", ""},
                       {"Some other bridge", "COM6", ""},
                       {kReceiverDescription, "COM7", ""}};
    link->Start();
    QTreeWidget* tree = frame->instrumentTree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("Multimeter"));
    EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("Multimeter"));
    EXPECT_EQ(frame->instrumentBar()->page(0).window.data(), static_cast<QWidget*>(tree));
    for (int id : {ID_PAIR, ID_START_RECORDING, ID_STOP_RECORDING}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    for (int id : {ID_RESCAN, ID_RECONNECT, ID_COMPORT}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    inventory.ports.clear();
    EXPECT_TRUE(frame->ExecuteCommand(ID_RESCAN));
    EXPECT_EQ(tree->topLevelItemCount(), 0);
}

TEST_F(EngineLinkTest, DoubleClickConnectsAndEnablesRecording) {
    MeterLine receiver;
    ASSERT_FALSE(receiver.path().empty());
    inventory.ports = {{kReceiverDescription, "COM1", receiver.path()}};
    link->Start();
    QTreeWidget* tree = frame->instrumentTree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(0), 0);
    EXPECT_EQ(link->state().connectedLabel(), u"Multimeter");
    EXPECT_TRUE(frame->CommandAction(ID_START_RECORDING)->isEnabled());
    EXPECT_TRUE(frame->CommandAction(ID_PAIR)->isEnabled());
    EXPECT_FALSE(frame->CommandAction(ID_STOP_RECORDING)->isEnabled());
}

TEST_F(EngineLinkTest, StateTimersFireOnceThroughTheFrame) {
    link->Start();
    // A rescan one second after a device change: the frame's timer, dispatched back and stopped.
    link->StartTimer(kRescanTimer, 5);
    EXPECT_TRUE(frame->IsTimerRunning(kRescanTimer));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame->IsTimerRunning(kRescanTimer); }, 2000));
}

TEST_F(EngineLinkTest, NewDocumentWindowsComeFromTheFrame) {
    link->Start();
    RecordingDocument* document = link->CreateDocumentWindow();
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(frame->activeDocument(), document);
    link->state().documents().recordingDocument = document;
    frame->activeDocumentWindow()->close();
    EXPECT_EQ(link->state().documents().recordingDocument, nullptr);
}

} // namespace
} // namespace calvora

namespace calvora {
namespace {

class FakePanel : public InstrumentPanelPage {
public:
    QWidget* Widget() override { return &widget; }
    void Reset() override { ++resets; }
    void ShowReading(const LiveReading&) override { ++readings; }
    QWidget widget;
    int resets = 0;
    int readings = 0;
};

TEST_F(EngineLinkTest, TheInstrumentPageSwitchesBetweenTreeAndPanel) {
    FakePanel panel;
    link->SetInstrumentPanel(&panel);
    inventory.ports = {{kReceiverDescription, "COM5", ""}};
    link->Start();
    DockPageBar* bar = frame->instrumentBar();
    link->ShowInstrumentPanel();
    ASSERT_EQ(bar->pageCount(), 1);
    EXPECT_EQ(bar->page(0).window.data(), &panel.widget);
    EXPECT_EQ(bar->captionText(), QStringLiteral("Instrument"));
    EXPECT_EQ(panel.resets, 1);
    // A scan that finds no receiver while connected puts the (empty) tree back.
    inventory.ports.clear();
    link->state().ScanReceivers();
    ASSERT_EQ(bar->pageCount(), 1);
    EXPECT_EQ(bar->page(0).window.data(), static_cast<QWidget*>(frame->instrumentTree()));
}

TEST_F(EngineLinkTest, ProgressWindowFollowsTheDownloadAndClosingGivesItUp) {
    link->Start();
    frame->show();
    EXPECT_FALSE(link->progressOpen());
    link->OpenProgress(200);
    ASSERT_NE(link->progress(), nullptr);
    EXPECT_EQ(link->progress()->windowTitle(), QStringLiteral("Loading..."));
    EXPECT_EQ(link->progress()->bar()->maximum(), 200);
    link->SetProgressPosition(30);
    EXPECT_EQ(link->progress()->bar()->value(), 30);
    link->CloseProgress();
    EXPECT_FALSE(link->progressOpen());

    link->OpenProgress(100);
    link->progress()->close();
    EXPECT_FALSE(link->progressOpen());
}

} // namespace
} // namespace calvora
