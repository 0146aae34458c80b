// The triggered start: level crossings and times of day on scripted readings, and a recording started on a
// rising ramp against calvora-sim, opened by the readings kept from before the trigger.
#include "app/meter_engine.h"
#include "measure/trigger.h"
#include "protocol/text.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <limits>

namespace calvora {
namespace {

using namespace std::chrono_literals;

TEST(TriggerArm, LevelCrossings) {
    struct Case {
        const char* name;
        TriggerEdge edge;
        std::vector<double> values;
        int firesAt; // index of the reading that is the trigger; -1 for none
    };
    constexpr double kOL = 700; // past the range's full scale of 600
    const Case cases[] = {
        {"the first reading is never a crossing", TriggerEdge::Rising, {5, 6}, -1},
        {"rising onto the level", TriggerEdge::Rising, {0.9, 0.98, 1.0}, 2},
        {"rising past it", TriggerEdge::Rising, {0.9, 1.5}, 1},
        {"falling is no rise", TriggerEdge::Rising, {1.5, 0.5, 0.9}, -1},
        {"a rise must start strictly below", TriggerEdge::Rising, {1.0, 1.2}, -1},
        {"falling onto the level", TriggerEdge::Falling, {1.2, 1.0}, 1},
        {"either way", TriggerEdge::Either, {1.2, 1.1, 0.8}, 2},
        {"overloads are passed over", TriggerEdge::Rising, {0.5, kOL, 0.7, 1.1}, 3},
        {"a reading shown as the level is on it", TriggerEdge::Rising, {0.98f, 1.0f}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriggerSettings settings;
        settings.kind = TriggerKind::Level;
        settings.level = 1.0;
        settings.edge = c.edge;
        TriggerArm arm(settings, 0);
        int fired = -1;
        for (size_t i = 0; i < c.values.size() && fired < 0; ++i) {
            if (arm.Feed(c.values[i], 600, -600, 0))
                fired = static_cast<int>(i);
        }
        EXPECT_EQ(fired, c.firesAt);
    }
}

TEST(TriggerArm, TimeOfDayFiresAtItsNextOccurrence) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    // 2026-12-07 23:00:00 UTC.
    const std::time_t armed = 1'796'684'400;
    TriggerSettings settings;
    settings.kind = TriggerKind::TimeOfDay;
    settings.secondOfDay = 1 * 3600 + 30 * 60; // 01:30 -- tomorrow, not already passed today
    TriggerArm arm(settings, armed);
    EXPECT_EQ(arm.target(), armed + 2 * 3600 + 30 * 60);
    EXPECT_FALSE(arm.Feed(1, 600, -600, armed + 3600));
    EXPECT_TRUE(arm.Feed(1, 600, -600, armed + 2 * 3600 + 30 * 60));
    settings.secondOfDay = 23 * 3600; // now
    EXPECT_TRUE(TriggerArm(settings, armed).Feed(1, 600, -600, armed));

    EXPECT_EQ(ParseTimeOfDay("14:30"), 52200);
    EXPECT_EQ(ParseTimeOfDay("00:00:59"), 59);
    for (const char* bad : {"24:00", "12:60", "1:2:3:4", "12", "-1:00", " 1:00", "12:00x", ""})
        EXPECT_FALSE(ParseTimeOfDay(bad).has_value()) << bad;
    EXPECT_EQ(TimeOfDayText(52215), "14:30:15");
    ::unsetenv("TZ");
    ::tzset();
}

// The engine with the real reader thread on the simulator's pseudo-terminal.
class TriggeredRecordingTest : public ::testing::Test {
protected:
    TriggeredRecordingTest()
        : folder_(std::filesystem::temp_directory_path() / ("calvora-trigger-" + std::to_string(::getpid()))),
          settings_((folder_ / "ZAZEDOVADIZO.ini").string()), state_(view_, inventory_, settings_) {
        std::filesystem::create_directories(folder_);
        view_.state = &state_.documents();
    }
    ~TriggeredRecordingTest() override {
        state_.ClosePort();
        std::filesystem::remove_all(folder_);
    }
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            state_.handOff().WaitAndRun(10ms);
        }
        return true;
    }

    std::filesystem::path folder_;
    testing::FakeView view_;
    testing::FakeInventory inventory_;
    SettingsFile settings_;
    MeterEngine state_;
};

TEST_F(TriggeredRecordingTest, ARisingLevelStartsTheRecordingWithTheReadingsBeforeIt) {
    // 0.6 V to 1.4 V and back to 0.6 V, 0.02 V a reading.
    testing::SimulatorProcess simulator({"--rate", "100", "--waveform", "ramp", "--offset", "10000",
                                         "--amplitude", "4000", "--period", "40"});
    ASSERT_FALSE(simulator.devicePath().empty());
    const PortOutcome<> opened = state_.OpenDevice(simulator.devicePath());
    ASSERT_TRUE(opened) << toUtf8(opened.reason());
    // Armed just after a crossing, so more than five readings come before the next one.
    ASSERT_TRUE(RunUntil(
        [&] { return !view_.readings.empty() && view_.readings.back().reading.value > 1.1f; }, 5000ms));

    TriggerSettings trigger;
    trigger.kind = TriggerKind::Level;
    trigger.level = 1.0;
    trigger.edge = TriggerEdge::Rising;
    trigger.preTrigger = 5;
    state_.SetNextTrigger(trigger);
    state_.StartRecordingOf(12);
    EXPECT_TRUE(state_.triggerArmed());
    EXPECT_EQ(state_.nextTrigger().kind, TriggerKind::Immediate) << "a trigger applies to one recording";
    ASSERT_NE(state_.documents().recordingDocument, nullptr);
    const size_t readingsAtArming = view_.readings.size();
    EXPECT_TRUE(RunUntil([&] { return view_.readings.size() >= readingsAtArming + 3; }, 5000ms));
    EXPECT_EQ(state_.documents().recordingDocument->sampleCount(), 0u)
        << "nothing is recorded before the trigger";

    ASSERT_TRUE(RunUntil([&] { return !state_.documents().recording; }, 10000ms));
    const RecordingDocument& document = *state_.documents().recordingDocument;
    ASSERT_EQ(document.sampleCount(), 12u);
    const auto counts = [&](uint32_t row) { return std::lround(document.value(row, 0) * 10000); };
    // Five readings below the level, then the first on or past it, then the ramp as it went on.
    for (uint32_t row = 0; row < 5; ++row)
        EXPECT_LT(counts(row), 10000) << row;
    EXPECT_GE(counts(5), 10000);
    for (uint32_t row = 1; row < 12; ++row)
        EXPECT_EQ(counts(row) - counts(row - 1), 200) << "readings lost or reordered at " << row;
    EXPECT_FALSE(state_.triggerArmed());

    // The next recording starts at once.
    state_.StartRecordingOf(2);
    EXPECT_FALSE(state_.triggerArmed());
    ASSERT_TRUE(RunUntil([&] { return !state_.documents().recording; }, 5000ms));
}

// calvora-cli record with a trigger on a capture of the same ramp: the same readings every run.
TEST(CliRecordTrigger, OpensTheFilesWithThePreTriggerReadings) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("calvora-cli-trigger-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    ::setenv("XDG_STATE_HOME", folder.c_str(), 1); // the crash journal of the recording
    const std::string capture = (folder / "ramp.bin").string();
    const auto run = [](std::vector<std::string> arguments) {
        testing::ChildProcess process(std::move(arguments), true);
        std::string output;
        for (std::string line = process.ReadLine(10s); !line.empty(); line = process.ReadLine(10s))
            output += line + "\n";
        return std::make_pair(process.Wait(10s), output);
    };
    ASSERT_EQ(run({testing::BuildPath("tools/sim/calvora-sim"), "--capture", capture, "--count", "120",
                   "--waveform", "ramp", "--offset", "10000", "--amplitude", "4000", "--period", "40"})
                  .first,
              0);
    const std::string cli = testing::BuildPath("tools/cli/calvora-cli");
    struct Case {
        std::vector<std::string> options;
        std::vector<double> values;
    };
    const Case cases[] = {
        {{"--trigger-level", "1.0", "--pre-trigger", "3"}, {0.94, 0.96, 0.98, 1.0, 1.02}},
        {{"--trigger-level", "1.0", "--trigger-edge", "falling"}, {0.6, 0.62, 0.64, 0.66, 0.68}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{cli,         "record", "--input", capture,
                                           "--samples", "5",      "--out",   (folder / "triggered").string()};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const auto [status, output] = run(arguments);
        ASSERT_EQ(status, 0) << output;
        const auto [infoStatus, info] =
            run({cli, "info", "--json", (folder / "triggered.recorder").string()});
        ASSERT_EQ(infoStatus, 0) << info;
        std::vector<double> values;
        const nlohmann::json document = nlohmann::json::parse(info);
        for (const auto& sample : document["samples"])
            values.push_back(sample["value"][0].get<double>());
        ASSERT_EQ(values.size(), c.values.size()) << c.options[0];
        for (size_t i = 0; i < values.size(); ++i)
            EXPECT_NEAR(values[i], c.values[i], 1e-6) << c.options.back() << " sample " << i + 1;
    }
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--pre-trigger", "2"},
                                                {"--trigger-level", "1", "--pre-trigger", "5"},
                                                {"--trigger-at", "24:00"},
                                                {"--trigger-level", "1", "--trigger-edge", "up"}}) {
        std::vector<std::string> arguments{cli, "record", "--input", capture, "--samples", "5"};
        arguments.insert(arguments.end(), bad.begin(), bad.end());
        EXPECT_EQ(run(arguments).first, 2) << bad[0] << " " << bad[1];
    }
    std::filesystem::remove_all(folder);
    ::unsetenv("XDG_STATE_HOME");
}

} // namespace
} // namespace calvora
