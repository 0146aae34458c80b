// The desktop's receivers without a display: three receivers on pseudo-terminals, their names told apart,
// their states, the active one, renaming and the sessions that end.
#include "app/desk_sessions.h"
#include "protocol/frame_builder.h"
#include "protocol/text.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"
#include "tests/support/fake_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace calvora {
namespace {

using testing::FakeInventory;
using testing::FakeView;
using testing::MeterLine;

// A further session's window side: keeps its documents and what it was told.
class HeadlessSession final : public SessionView {
public:
    void Attach(MeterEngine& engine) override { attached = &engine; }
    void Wake() override {}
    void Retired() override { retired = true; }
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}
    RecordingDocument* CreateDocumentWindow() override {
        documents.push_back(std::make_unique<RecordingDocument>());
        return documents.back().get();
    }
    bool SaveDocument(RecordingDocument&) override { return false; }
    bool AskPlannedSamples(uint32_t&) override { return false; }
    // Every question is answered "yes, save", and every save fails.
    bool AskYesNo(const std::u16string& question) override {
        questions.push_back(question);
        return true;
    }
    void ShowMessage(const std::u16string&, MessageIcon) override {}

    MeterEngine* attached = nullptr;
    bool retired = false;
    std::vector<std::unique_ptr<RecordingDocument>> documents;
    std::vector<std::u16string> questions;
};

class DeskSessionsTest : public ::testing::Test {
protected:
    DeskSessionsTest()
        : folder_(std::filesystem::temp_directory_path() /
                  ("calvora-desk-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          settings_((std::filesystem::create_directories(folder_), folder_ / "ZAZEDOVADIZO.ini").string()),
          first_(firstView_, inventory_, settings_), desk_(first_, inventory_, settings_) {
        firstView_.state = &first_.documents();
    }
    ~DeskSessionsTest() override {
        desk_.CloseAll();
        first_.ClosePort();
        std::filesystem::remove_all(folder_);
    }

    static PortEntry Entry(const MeterLine& line) { return PortEntry{u"Multimeter", 0, 0, line.path()}; }
    MeterEngine* Connect(const MeterLine& line, int itemId, HeadlessSession** view = nullptr) {
        auto session = std::make_unique<HeadlessSession>();
        if (view != nullptr)
            *view = session.get();
        return desk_.Connect(std::move(session), Entry(line), itemId, false);
    }

    std::filesystem::path folder_;
    FakeInventory inventory_;
    SettingsFile settings_;
    FakeView firstView_;
    MeterEngine first_;
    DeskSessions desk_;
    MeterLine a_, b_, c_;
};

TEST_F(DeskSessionsTest, NamesStatesAndTheActiveReceiverFollowTheConnectedSessions) {
    // Nothing connected: the commands act on the first session, which has no further company.
    EXPECT_EQ(&desk_.active(), &first_);
    EXPECT_TRUE(desk_.connected().empty());

    ASSERT_TRUE(first_.OpenDevice(a_.path()));
    ASSERT_TRUE(settings_.WriteReceiverName(b_.path(), "Bench"));
    HeadlessSession* cView = nullptr;
    MeterEngine* b = Connect(b_, 11);
    MeterEngine* c = Connect(c_, 12, &cView);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(cView->attached, c);
    EXPECT_EQ(Connect(c_, 13), nullptr) << "a receiver already connected connects once";
    EXPECT_EQ(desk_.connected(), (std::vector<MeterEngine*>{&first_, b, c}));
    EXPECT_EQ(desk_.sessionOfItem(12), c);
    EXPECT_EQ(desk_.sessionOn(Entry(b_)), b);

    // Names: a taken one is told apart, in the order of connection.
    EXPECT_EQ(desk_.name(first_), "Multimeter");
    EXPECT_EQ(desk_.name(*b), "Bench");
    EXPECT_EQ(desk_.name(*c), "Multimeter 2");

    // States, in the words of the panels' titles.
    EXPECT_EQ(desk_.title(*c), "Multimeter 2: no signal");
    EXPECT_TRUE(desk_.SetSignal(*c, true));
    EXPECT_FALSE(desk_.SetSignal(*c, true)) << "no change, nothing to show again";
    EXPECT_EQ(desk_.state(*c), ReceiverState::Connected);
    c->StartRecordingOf(10);
    EXPECT_EQ(desk_.title(*c), "Multimeter 2: recording");
    EXPECT_EQ(desk_.state(*b), ReceiverState::NoSignal);
    ASSERT_TRUE(b->StartLogging(folder_ / "b.calvlog", {}));
    EXPECT_EQ(desk_.state(*b), ReceiverState::Logging);
    b->StopLogging();

    // The further receiver's document carries its name; the first one's keeps the plain title.
    ASSERT_NE(c->documents().recordingDocument, nullptr);
    EXPECT_EQ(c->documents().recordingDocument->title, u"RealTime Panel (Multimeter 2)");
    first_.StartRecordingOf(10);
    EXPECT_EQ(first_.documents().recordingDocument->title, u"RealTime Panel");

    // The active receiver: chosen among the connected ones only.
    EXPECT_EQ(&desk_.active(), &first_);
    EXPECT_TRUE(desk_.SetActive(*c));
    EXPECT_FALSE(desk_.SetActive(*c));
    EXPECT_EQ(&desk_.active(), c);
    MeterEngine stranger(firstView_, inventory_, settings_);
    EXPECT_FALSE(desk_.SetActive(stranger));
    EXPECT_EQ(&desk_.active(), c);
}

TEST_F(DeskSessionsTest, RenamingReachesTheSettingsTheNamesAndTheOpenDocuments) {
    ASSERT_TRUE(first_.OpenDevice(a_.path()));
    MeterEngine* b = Connect(b_, 11);
    ASSERT_NE(b, nullptr);
    b->StartRecordingOf(10);
    RecordingDocument* live = b->documents().recordingDocument;
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->title, u"RealTime Panel (Multimeter 2)");

    struct Case {
        std::string typed;
        std::string kept; // in the settings file
        std::string name;
        std::u16string title;
    };
    const Case cases[] = {
        {"Load current", "Load current", "Load current", u"RealTime Panel (Load current)"},
        // Another connected receiver's name is told apart.
        {"Multimeter", "", "Multimeter 2", u"RealTime Panel (Multimeter 2)"},
        {"Supply voltage", "Supply voltage", "Supply voltage", u"RealTime Panel (Supply voltage)"},
        // Empty: the default name again.
        {"", "", "Multimeter 2", u"RealTime Panel (Multimeter 2)"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.typed);
        ASSERT_TRUE(desk_.Rename(Entry(b_), test.typed));
        EXPECT_EQ(settings_.ReadReceiverName(b_.path()).value(), test.kept);
        EXPECT_EQ(desk_.name(*b), test.name);
        EXPECT_EQ(live->title, test.title);
    }

    // Renaming the first receiver renames it, and the further one no longer needs telling apart.
    ASSERT_TRUE(desk_.Rename(*desk_.entryOf(first_), "Supply"));
    EXPECT_EQ(desk_.name(first_), "Supply");
    EXPECT_EQ(desk_.name(*b), "Multimeter");
    EXPECT_EQ(live->title, u"RealTime Panel (Multimeter)");
    // A title a save gave the document stays.
    live->title = u"bench.recorder";
    ASSERT_TRUE(desk_.Rename(Entry(b_), "Load"));
    EXPECT_EQ(live->title, u"bench.recorder");
}

TEST_F(DeskSessionsTest, DisconnectAndPulledReceiversEndOnlyTheirOwnSession) {
    ASSERT_TRUE(first_.OpenDevice(a_.path()));
    HeadlessSession* bView = nullptr;
    HeadlessSession* cView = nullptr;
    MeterEngine* b = Connect(b_, 11, &bView);
    MeterEngine* c = Connect(c_, 12, &cView);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    c->StartRecordingOf(10);
    RecordingDocument* cDocument = c->documents().recordingDocument;
    ASSERT_NE(cDocument, nullptr);
    // One reading through the receiver's line and the session's own reader.
    const auto frame = MakeLiveFrame(12345, 0x01, 0x01, 0);
    ASSERT_TRUE(c_.Send({frame.begin(), frame.end()}));
    for (int k = 0; k < 500 && cDocument->sampleCount() == 0; ++k) {
        if (c->handOff().RunPending() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(cDocument->sampleCount(), 1u);

    // Disconnect of the active further receiver: its recording stops, its port closes, the others run on.
    ASSERT_TRUE(desk_.SetActive(*c));
    EXPECT_EQ(desk_.DisconnectActive(), c);
    EXPECT_TRUE(cView->retired);
    EXPECT_FALSE(c->port().isOpen());
    EXPECT_FALSE(c->documents().recording);
    EXPECT_TRUE(b->port().isOpen());
    EXPECT_TRUE(first_.port().isOpen());
    EXPECT_EQ(desk_.connected(), (std::vector<MeterEngine*>{&first_, b}));
    EXPECT_EQ(&desk_.active(), &first_) << "the active receiver falls back to the first connected one";
    // The ended session keeps its name and is still asked about its unsaved recording: a save that did not
    // happen keeps the document open.
    EXPECT_EQ(desk_.name(*c), "Multimeter 3");
    EXPECT_EQ(desk_.name(*b), "Multimeter 2");
    EXPECT_EQ(desk_.ownerOf(*cDocument), c);
    EXPECT_FALSE(desk_.OnDocumentClosing(*cDocument));
    EXPECT_EQ(cView->questions.size(), 1u);
    desk_.OnDocumentDestroyed(*cDocument);
    EXPECT_EQ(desk_.ownerOf(*cDocument), nullptr);

    // Disconnect of the first receiver leaves the further one running and active.
    EXPECT_EQ(desk_.DisconnectActive(), &first_);
    EXPECT_FALSE(first_.port().isOpen());
    EXPECT_TRUE(b->port().isOpen());
    EXPECT_EQ(&desk_.active(), b);
    EXPECT_EQ(desk_.name(*b), "Multimeter");

    // A pulled receiver ends its session at the next look.
    EXPECT_TRUE(desk_.RetireEnded().empty());
    b_.Hangup();
    std::vector<MeterEngine*> ended;
    for (int k = 0; k < 200 && ended.empty(); ++k) {
        ended = desk_.RetireEnded();
        if (ended.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ended, std::vector<MeterEngine*>{b});
    EXPECT_TRUE(bView->retired);
    EXPECT_TRUE(desk_.connected().empty());
    EXPECT_EQ(&desk_.active(), &first_);
    EXPECT_EQ(desk_.DisconnectActive(), nullptr) << "nothing left to disconnect";
}

} // namespace
} // namespace calvora
