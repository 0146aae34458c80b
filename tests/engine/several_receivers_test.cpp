// Several receivers in one calvora-cli run, each a calvora-sim at a rate of its own.
#include "logging/log_document.h"
#include "logging/log_file.h"
#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <map>
#include <set>

namespace calvora {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::SimulatorProcess;

class SeveralReceiversTest : public ::testing::Test {
protected:
    SeveralReceiversTest()
        : folder_(std::filesystem::temp_directory_path() /
                  ("calvora-meters-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::create_directories(folder_);
        // Names and ports are remembered in the settings file: keep it out of $HOME.
        ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    }
    ~SeveralReceiversTest() override { std::filesystem::remove_all(folder_); }

    static std::string Cli() { return testing::BuildPath("tools/cli/calvora-cli"); }

    // A simulator whose every reading has the value `counts`, so a reading tells which meter sent it.
    static std::vector<std::string> Meter(int rate, int counts) {
        return {"--rate", std::to_string(rate), "--function", "0",        "--range",
                "2",      "--waveform",         "constant",   "--offset", std::to_string(counts)};
    }

    std::filesystem::path folder_;
};

TEST_F(SeveralReceiversTest, MonitorNamesEveryReadingAndOutlivesAnUnpluggedReceiver) {
    SimulatorProcess slow(Meter(40, 1111));
    SimulatorProcess fast(Meter(150, 2222));
    std::vector<std::string> unpluggedArgs = Meter(90, 3333);
    unpluggedArgs.insert(unpluggedArgs.end(), {"--unplug-after", "1"});
    SimulatorProcess unplugged(unpluggedArgs);
    ASSERT_FALSE(slow.devicePath().empty());
    ASSERT_FALSE(fast.devicePath().empty());
    ASSERT_FALSE(unplugged.devicePath().empty());

    ChildProcess naming({Cli(), "name", "--port", fast.devicePath(), "Supply voltage"});
    ASSERT_EQ(naming.ReadLine(5000ms), "Supply voltage");
    ASSERT_EQ(naming.Wait(5000ms), 0);

    ChildProcess monitor({Cli(), "monitor", "--port", slow.devicePath(), "--port", fast.devicePath(),
                          "--port", unplugged.devicePath()});
    // Each meter's values, and how many readings came from each after the third one was pulled.
    std::map<std::string, std::set<double>> values;
    std::map<std::string, int> afterUnplug;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 2500ms) {
        const std::string line = monitor.ReadLine(2000ms);
        ASSERT_FALSE(line.empty()) << "the monitor stopped printing";
        const auto json = nlohmann::json::parse(line);
        ASSERT_TRUE(json.contains("meter")) << line;
        const std::string meter = json["meter"];
        values[meter].insert(json["value"].get<double>());
        if (std::chrono::steady_clock::now() - start > 1800ms)
            ++afterUnplug[meter];
    }
    EXPECT_EQ(monitor.Signal(SIGINT), true);
    EXPECT_EQ(monitor.Wait(5000ms), 1) << "a receiver that went away fails the run";

    // The unnamed receivers keep the default name, told apart by a number.
    ASSERT_EQ(values.size(), 3u);
    for (const char* meter : {"Multimeter", "Supply voltage", "Multimeter 2"}) {
        ASSERT_EQ(values.count(meter), 1u) << meter;
        EXPECT_EQ(values[meter].size(), 1u) << meter << ": a reading crossed over from another meter";
    }
    EXPECT_NE(*values["Multimeter"].begin(), *values["Supply voltage"].begin());
    EXPECT_NE(*values["Supply voltage"].begin(), *values["Multimeter 2"].begin());
    EXPECT_EQ(afterUnplug["Multimeter 2"], 0);
    EXPECT_GT(afterUnplug["Multimeter"], 5);
    EXPECT_GT(afterUnplug["Supply voltage"], afterUnplug["Multimeter"]) << "the faster meter sends more";
}

TEST_F(SeveralReceiversTest, RecordWritesOneRecordingPerReceiverWithItsOwnReadings) {
    SimulatorProcess first(Meter(60, 1234));
    SimulatorProcess second(Meter(200, 4321));
    ASSERT_FALSE(first.devicePath().empty());
    ASSERT_FALSE(second.devicePath().empty());
    ChildProcess naming({Cli(), "name", "--port", second.devicePath(), "Load/current"});
    ASSERT_EQ(naming.Wait(5000ms), 0);

    const std::string base = (folder_ / "bench").string();
    ChildProcess record({Cli(), "record", "--port", first.devicePath(), "--port", second.devicePath(),
                         "--samples", "40", "--out", base});
    ASSERT_EQ(record.Wait(20000ms), 0);

    std::set<float> seen;
    for (const std::string name : {"Multimeter", "Load_current"}) {
        RecordingDocument document;
        ASSERT_TRUE(ReadRecordFile(base + "-" + name + ".recorder", document)) << name;
        ASSERT_EQ(document.sampleCount(), 40u) << name;
        EXPECT_TRUE(std::filesystem::exists(base + "-" + name + ".csv")) << name;
        const float value = document.value(0, 0);
        for (uint32_t row = 1; row < document.sampleCount(); ++row)
            ASSERT_EQ(document.value(row, 0), value) << name << " row " << row;
        seen.insert(value);
    }
    EXPECT_EQ(seen.size(), 2u) << "each recording holds its own meter's readings";
}

TEST_F(SeveralReceiversTest, LogWritesOneLogPerReceiverWithItsOwnReadings) {
    SimulatorProcess first(Meter(50, 1500));
    SimulatorProcess second(Meter(120, 2500));
    ASSERT_FALSE(first.devicePath().empty());
    ASSERT_FALSE(second.devicePath().empty());
    const std::string out = (folder_ / "bench.calvlog").string();
    ChildProcess log({Cli(), "log", "--port", first.devicePath(), "--port", second.devicePath(), "--samples",
                      "30", "--out", out});
    EXPECT_EQ(log.ReadLine(15000ms), (folder_ / "bench-Multimeter.calvlog").string());
    EXPECT_EQ(log.ReadLine(5000ms), (folder_ / "bench-Multimeter 2.calvlog").string());
    ASSERT_EQ(log.Wait(5000ms), 0);

    std::set<float> seen;
    for (const char* name : {"bench-Multimeter.calvlog", "bench-Multimeter 2.calvlog"}) {
        auto loaded = LoadLogFile(folder_ / name);
        ASSERT_TRUE(loaded) << name << ": " << toUtf8(loaded.reason());
        const LogDocument& document = *loaded.value();
        ASSERT_EQ(document.readingCount(), 30u) << name;
        for (size_t k = 1; k < document.readingCount(); ++k)
            ASSERT_EQ(document.value(k), document.value(0)) << name << " reading " << k;
        seen.insert(document.value(0));
    }
    EXPECT_EQ(seen.size(), 2u) << "each log holds its own meter's readings";
}

TEST_F(SeveralReceiversTest, ANameIsKeptPerReceiverAndTheDefaultComesBack) {
    SimulatorProcess meter(Meter(10, 100));
    ASSERT_FALSE(meter.devicePath().empty());
    auto name = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments{Cli(), "name", "--port", meter.devicePath()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ChildProcess cli(arguments);
        std::string line = cli.ReadLine(5000ms);
        EXPECT_EQ(cli.Wait(5000ms), 0);
        return line;
    };
    EXPECT_EQ(name({}), "Multimeter");
    EXPECT_EQ(name({"Bench supply"}), "Bench supply");
    EXPECT_EQ(name({}), "Bench supply");
    EXPECT_EQ(name({""}), "Multimeter");
}

} // namespace
} // namespace calvora
