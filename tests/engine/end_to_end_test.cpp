// The engine against calvora-sim on a pseudo-terminal, with the real reader thread and hand-off.
#include "app/meter_engine.h"
#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace calvora {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::FakeInventory;
using testing::FakeView;
using testing::SimulatorProcess;

class EndToEndTest : public ::testing::Test {
protected:
    EndToEndTest()
        : folder_(std::filesystem::temp_directory_path() /
                  ("calvora-e2e-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          settings_((folder_ / "ZAZEDOVADIZO.ini").string()), state_(view_, inventory_, settings_) {
        std::filesystem::create_directories(folder_);
        // The command-line tool remembers the port like the program does: keep that out of $HOME.
        ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
        view_.state = &state_.documents();
    }
    ~EndToEndTest() override {
        state_.ClosePort();
        std::filesystem::remove_all(folder_);
    }

    // The user-interface loop: runs hand-offs until `done` or `bound`.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            state_.handOff().WaitAndRun(10ms);
            state_.PollReaderEnd();
        }
        return true;
    }
    RecordingDocument* LiveDocument() const { return state_.documents().recordingDocument; }

    std::filesystem::path folder_;
    FakeView view_;
    FakeInventory inventory_;
    SettingsFile settings_;
    MeterEngine state_;
};

TEST_F(EndToEndTest, TwentyThousandSamplesAtFullRateLoseNothingThatReachedTheHandOff) {
    // A ramp that rises by one count per reading.
    SimulatorProcess simulator({"--rate", "5000", "--waveform", "ramp", "--offset", "30000", "--amplitude",
                                "25000", "--period", "50000"});
    ASSERT_FALSE(simulator.devicePath().empty());
    const PortOutcome<> opened = state_.OpenDevice(simulator.devicePath());
    ASSERT_TRUE(opened) << toUtf8(opened.reason());
    ASSERT_TRUE(RunUntil([&] { return !view_.readings.empty(); }, 5000ms));

    size_t readingsAtStart = 0;
    int skipped = 0;
    state_.SetSampleObserver([&](const RecordingDocument&, uint32_t row) {
        if (view_.readings.size() - readingsAtStart != row)
            ++skipped;
    });
    readingsAtStart = view_.readings.size();
    state_.StartRecordingOf(kMaxPlannedSamples);
    ASSERT_TRUE(RunUntil([&] { return !state_.documents().recording; }, 60000ms));

    const RecordingDocument& document = *LiveDocument();
    ASSERT_EQ(document.sampleCount(), kMaxPlannedSamples);
    EXPECT_EQ(skipped, 0) << "readings handed on while recording were not stored";
    // What was handed on is stored in order, without repeats (at this rate the terminal's buffer may
    // overflow on the simulator's side, which loses frames before they are read).
    int outOfOrder = 0;
    for (uint32_t row = 1; row < document.sampleCount(); ++row) {
        if (std::lround(document.value(row, 0) * 10000) <= std::lround(document.value(row - 1, 0) * 10000))
            ++outOfOrder;
    }
    EXPECT_EQ(outOfOrder, 0);
}

// Twenty seconds at 100 readings a second, counted against what the simulator says it sent. The port's
// open discards what came before it; the first reading recorded tells how many frames that was (the
// ramp rises one count per frame from 5000). At the stop the simulator is held (SIGSTOP) and asked for
// its count, which it gives before its next write: every frame up to that count must be recorded.
// Between its answer and being held again it may write another frame: that one is in flight when it
// then ends, and is lost with the hang-up if the reader has not taken it yet, as with a receiver pulled
// out. It is the only allowance.
TEST_F(EndToEndTest, ARecordingAtOneHundredReadingsASecondKeepsEveryReadingSent) {
    SimulatorProcess simulator({"--rate", "100", "--waveform", "ramp", "--offset", "30000", "--amplitude",
                                "25000", "--period", "50000"},
                               true);
    ASSERT_FALSE(simulator.devicePath().empty());
    ChildProcess& process = simulator.process();
    state_.StartRecordingOf(kMaxPlannedSamples);
    const PortOutcome<> opened = state_.OpenDevice(simulator.devicePath());
    ASSERT_TRUE(opened) << toUtf8(opened.reason());

    auto recorded = [&] { return LiveDocument() ? LiveDocument()->sampleCount() : 0u; };
    constexpr uint32_t kTwentySeconds = 2000;
    ASSERT_TRUE(RunUntil([&] { return recorded() >= kTwentySeconds; }, 60000ms));
    const auto sentBeforeOpen =
        static_cast<uint32_t>(std::lround(LiveDocument()->value(0, 0) * 10000) - 5000);

    testing::SimulatorSent atStop;
    ASSERT_TRUE(process.Pause());
    ASSERT_TRUE(process.Signal(SIGUSR2) && process.Resume() &&
                testing::ReadSimulatorSent(process, atStop, 5000ms));
    ASSERT_TRUE(process.Pause());
    const auto sentBeforeStop = static_cast<uint32_t>(atStop.liveFrames) - sentBeforeOpen;
    EXPECT_TRUE(RunUntil([&] { return recorded() >= sentBeforeStop; }, 10000ms))
        << "sent " << sentBeforeStop << ", recorded " << recorded();

    ASSERT_TRUE(process.Signal(SIGTERM) && process.Resume());
    testing::SimulatorSent atEnd;
    ASSERT_TRUE(testing::ReadSimulatorSent(process, atEnd, 5000ms)) << "no counts on exit";
    ASSERT_TRUE(RunUntil([&] { return !state_.documents().recording; }, 10000ms))
        << "the hang-up ends the recording";
    EXPECT_LE(recorded(), static_cast<uint32_t>(atEnd.liveFrames) - sentBeforeOpen);
}

TEST_F(EndToEndTest, DownloadPairAndSettingsThroughTheSimulator) {
    SimulatorProcess simulator({"--rate", "20"});
    ASSERT_FALSE(simulator.devicePath().empty());
    ASSERT_TRUE(state_.OpenDevice(simulator.devicePath(), 5));
    EXPECT_EQ(SettingsFile(settings_.path()).ReadPortNumber("Multimeter").value(), 5);

    state_.Pair();
    ASSERT_TRUE(RunUntil([&] { return state_.paired(); }, 5000ms));
    ASSERT_TRUE(RunUntil([&] { return !view_.TimerRunning(kPairTimer); }, 2000ms));

    simulator.process().Write("log 25\n");
    ASSERT_TRUE(RunUntil([&] { return state_.documents().downloadDocument != nullptr; }, 15000ms));
    const RecordingDocument& log = *state_.documents().downloadDocument;
    EXPECT_EQ(log.title, u"Datalog Panel");
    EXPECT_EQ(log.sampleCount(), 25u);
    EXPECT_FALSE(view_.progressShown);

    simulator.process().Write("log 25\n");
    ASSERT_TRUE(RunUntil([&] { return state_.downloading(); }, 10000ms));
    ASSERT_TRUE(RunUntil([&] { return !state_.downloading(); }, 15000ms));
    EXPECT_EQ(view_.windowsCreated, 1) << "a second download refills the same document";
}

TEST_F(EndToEndTest, UnpluggedReceiverStopsTheRecordingAndKeepsEverySample) {
    SimulatorProcess simulator({"--rate", "50", "--unplug-after", "1"});
    ASSERT_TRUE(state_.OpenDevice(simulator.devicePath()));
    state_.StartRecordingOf(kMaxPlannedSamples);
    ASSERT_TRUE(RunUntil([&] { return !state_.documents().recording; }, 10000ms));
    EXPECT_TRUE(view_.TimerRunning(kRescanTimer)) << "a removal starts the rescan";
    ASSERT_NE(LiveDocument(), nullptr);
    const uint32_t samples = LiveDocument()->sampleCount();
    EXPECT_GT(samples, 10u);
    EXPECT_EQ(samples, view_.readings.size());
    state_.ClosePort(); // on the vanished device: completes
}

TEST_F(EndToEndTest, CommandLineRecordWritesBothFilesThatReadBack) {
    SimulatorProcess simulator({"--rate", "200"});
    ASSERT_FALSE(simulator.devicePath().empty());
    const std::string base = (folder_ / "run.1").string();
    ChildProcess cli({testing::BuildPath("tools/cli/calvora-cli"), "record", "--port", simulator.devicePath(),
                      "--samples", "50", "--out", base});
    ASSERT_EQ(cli.Wait(30000ms), 0);
    RecordingDocument document;
    ASSERT_TRUE(ReadRecordFile(base + ".recorder", document));
    EXPECT_EQ(document.sampleCount(), 50u);
    EXPECT_TRUE(std::filesystem::exists(base + ".csv"));
}

TEST_F(EndToEndTest, CommandLinePairAndDownloadAgainstTheSimulator) {
    SimulatorProcess simulator({"--rate", "10"});
    ASSERT_FALSE(simulator.devicePath().empty());
    const std::string base = (folder_ / "log").string();
    ChildProcess download({testing::BuildPath("tools/cli/calvora-cli"), "download", "--port",
                           simulator.devicePath(), "--out", base, "--timeout", "20"},
                          true);
    // The burst must start after the port is open: a burst joined half-way is a different download.
    EXPECT_NE(download.ReadLine(10000ms).find("Waiting"), std::string::npos);
    simulator.process().Write("log 95\n");
    ASSERT_EQ(download.Wait(30000ms), 0);
    RecordingDocument document;
    ASSERT_TRUE(ReadRecordFile(base + ".recorder", document));
    EXPECT_EQ(document.sampleCount(), 95u);

    ChildProcess pair(
        {testing::BuildPath("tools/cli/calvora-cli"), "pair", "--port", simulator.devicePath()});
    EXPECT_EQ(pair.Wait(15000ms), 0);
}

} // namespace
} // namespace calvora
