// Several sessions in one loop, each against a calvora-sim of its own at a rate of its own, with the real
// reader threads and hand-offs.
#include "app/meter_sessions.h"
#include "protocol/text.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"
#include "tests/support/fake_receiver.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace calvora {
namespace {

using namespace std::chrono_literals;
using testing::FakeInventory;
using testing::FakeView;
using testing::SimulatorProcess;

// A simulator whose every reading has the value `counts`, so a reading tells which meter sent it.
std::vector<std::string> Meter(int rate, int counts, std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{
        "--rate", std::to_string(rate), "--function", "0",        "--range",
        "2",      "--waveform",         "constant",   "--offset", std::to_string(counts)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

class MeterSessionsTest : public ::testing::Test {
protected:
    MeterSessionsTest()
        : folder_(std::filesystem::temp_directory_path() /
                  ("calvora-sessions-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          settings_((folder_ / "ZAZEDOVADIZO.ini").string()), sessions_(inventory_, settings_) {
        std::filesystem::create_directories(folder_);
    }
    ~MeterSessionsTest() override {
        sessions_.CloseAll();
        std::filesystem::remove_all(folder_);
    }

    // A session with a view of its own on the simulator's device.
    MeterEngine& Connect(SimulatorProcess& simulator) {
        views_.push_back(std::make_unique<FakeView>());
        MeterEngine& session = sessions_.Add(*views_.back());
        views_.back()->state = &session.documents();
        const PortOutcome<> opened = session.OpenDevice(simulator.devicePath());
        EXPECT_TRUE(opened) << toUtf8(opened.reason());
        return session;
    }

    // The loop of the owner: every session's frames and ended readers, until `done` or `bound`.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            sessions_.WaitAndRun(10ms);
            for (size_t k = 0; k < sessions_.size(); ++k)
                sessions_[k].PollReaderEnd();
        }
        return true;
    }

    static std::set<float> Values(const std::vector<LiveReading>& readings) {
        std::set<float> values;
        for (const LiveReading& reading : readings)
            values.insert(reading.reading.value);
        return values;
    }

    std::filesystem::path folder_;
    FakeInventory inventory_;
    SettingsFile settings_;
    std::vector<std::unique_ptr<FakeView>> views_; // outlive the sessions
    MeterSessions sessions_;
};

TEST_F(MeterSessionsTest, ThreeReceiversRecordTheirOwnReadingsAndAPulledOneLeavesTheOthersRunning) {
    SimulatorProcess slow(Meter(40, 1111));
    SimulatorProcess fast(Meter(200, 2222));
    SimulatorProcess pulled(Meter(30, 3333, {"--unplug-after", "1"}));
    for (SimulatorProcess* simulator : {&slow, &fast, &pulled})
        ASSERT_FALSE(simulator->devicePath().empty());
    MeterEngine& first = Connect(slow);
    MeterEngine& second = Connect(fast);
    MeterEngine& third = Connect(pulled);
    constexpr uint32_t kSamples = 80; // two seconds of the slow meter: the pulled one is gone before then
    for (MeterEngine* session : {&first, &second, &third})
        session->StartRecordingOf(kSamples);

    ASSERT_TRUE(
        RunUntil([&] { return !first.documents().recording && !second.documents().recording; }, 15000ms));
    ASSERT_FALSE(third.documents().recording);
    EXPECT_EQ(third.documents().recordingEnd, RecordingEnd::ReceiverRemoved);
    EXPECT_EQ(first.documents().recordingEnd, RecordingEnd::PlannedCount);
    EXPECT_EQ(second.documents().recordingEnd, RecordingEnd::PlannedCount);

    // Each session saw one value only, its own meter's, and each recording holds exactly what its view saw.
    std::set<float> all;
    for (size_t k = 0; k < 3; ++k) {
        const std::set<float> values = Values(views_[k]->readings);
        ASSERT_EQ(values.size(), 1u) << "session " << k << " got another meter's reading";
        all.insert(*values.begin());
        const RecordingDocument* document = sessions_[k].documents().recordingDocument;
        ASSERT_NE(document, nullptr);
        EXPECT_NE(document, sessions_[(k + 1) % 3].documents().recordingDocument) << "one document each";
        for (uint32_t row = 0; row < document->sampleCount(); ++row)
            ASSERT_EQ(document->value(row, 0), *values.begin());
    }
    EXPECT_EQ(all.size(), 3u);
    EXPECT_EQ(first.documents().recordingDocument->sampleCount(), kSamples);
    EXPECT_EQ(second.documents().recordingDocument->sampleCount(), kSamples);
    const uint32_t pulledSamples = third.documents().recordingDocument->sampleCount();
    EXPECT_GT(pulledSamples, 15u);
    EXPECT_LT(pulledSamples, kSamples);

    // The sessions left go on after the pulled one is forgotten.
    const size_t before = views_[0]->readings.size();
    sessions_.Remove(2);
    EXPECT_EQ(sessions_.size(), 2u);
    EXPECT_TRUE(RunUntil([&] { return views_[0]->readings.size() > before + 5; }, 5000ms));
}

TEST_F(MeterSessionsTest, SessionsAreNamedFromTheSettingsAndTakenNamesAreNumbered) {
    SimulatorProcess a(Meter(20, 10));
    SimulatorProcess b(Meter(30, 20));
    SimulatorProcess c(Meter(50, 30));
    MeterEngine& named = Connect(a);
    Connect(b);
    Connect(c);
    ASSERT_TRUE(named.SetMeterName(u"Supply voltage"));
    EXPECT_EQ(sessions_.name(0), "Supply voltage");
    EXPECT_EQ(sessions_.name(1), "Multimeter");
    EXPECT_EQ(sessions_.name(2), "Multimeter 2");
    // The name stays with the receiver's device, not with the session's place.
    ASSERT_TRUE(settings_.WriteReceiverName(c.devicePath(), "Supply voltage"));
    EXPECT_EQ(sessions_.name(2), "Supply voltage 2");
    ASSERT_TRUE(named.SetMeterName(u"Multimeter"));
    EXPECT_EQ(settings_.ReadReceiverName(a.devicePath()).value(), "") << "the default name is not stored";
}

TEST(Disconnect, EndsTheRecordingClosesThePortAndLetsTheSameReceiverConnectAgain) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("calvora-disconnect-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    testing::MeterLine receiver;
    ASSERT_FALSE(receiver.path().empty());
    FakeView view;
    FakeInventory inventory;
    SettingsFile settings((folder / "ZAZEDOVADIZO.ini").string());
    {
        MeterEngine engine(view, inventory, settings);
        view.state = &engine.documents();
        inventory.ports = std::vector<SerialPortInfo>{{kReceiverDescription, "COM1", receiver.path()}};
        engine.ScanReceivers();
        ASSERT_EQ(view.tree.size(), 1u);
        const int item = view.tree[0].id;
        EXPECT_FALSE(engine.canDisconnect());
        engine.OnReceiverDoubleClicked(item);
        ASSERT_TRUE(engine.port().isOpen());
        engine.StartRecordingOf(100);
        const int treesBefore = view.treeShown;

        engine.Disconnect();
        EXPECT_FALSE(engine.port().isOpen());
        EXPECT_FALSE(engine.canDisconnect());
        EXPECT_FALSE(engine.canStartRecording());
        EXPECT_FALSE(engine.documents().recording);
        EXPECT_EQ(engine.documents().recordingEnd, RecordingEnd::Stopped);
        EXPECT_FALSE(view.connectedImage[item]);
        EXPECT_EQ(view.treeShown, treesBefore + 1) << "the tree takes the page again";

        // The receiver last connected is not "already connected": a double-click opens it again.
        engine.OnReceiverDoubleClicked(item);
        EXPECT_TRUE(engine.port().isOpen());
        EXPECT_TRUE(view.connectedImage[item]);
        engine.ClosePort();
    }
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace calvora
