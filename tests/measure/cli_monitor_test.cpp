// calvora-cli monitor with limits, against calvora-sim: a ramp from 0.6 V to 1.4 V crosses 1.2 V and
// 0.8 V every cycle, and every alarm is printed and runs the command once.
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace calvora {
namespace {

using namespace std::chrono_literals;
using testing::BuildPath;
using testing::ChildProcess;
using testing::SimulatorProcess;

TEST(CliMonitor, PrintsEveryAlarmRaisedAndEndedAndRunsTheCommandForEachRaised) {
    // 0.02 V a reading: 40 readings a cycle at 50 a second.
    SimulatorProcess simulator(
        {"--rate", "50", "--waveform", "ramp", "--offset", "10000", "--amplitude", "4000", "--period", "40"});
    ASSERT_FALSE(simulator.devicePath().empty());
    const std::filesystem::path commands =
        std::filesystem::temp_directory_path() / ("calvora-monitor-alarms-" + std::to_string(::getpid()));
    std::filesystem::remove(commands);
    ChildProcess monitor({BuildPath("tools/cli/calvora-cli"), "monitor", "--port", simulator.devicePath(),
                          "--high", "1.2", "--low", "0.8", "--on-alarm",
                          "echo \"$CALVORA_ALARM $CALVORA_LIMIT $CALVORA_VALUE $CALVORA_UNIT\" >> '" +
                              commands.string() + "'"});
    ASSERT_TRUE(monitor.running());

    std::vector<nlohmann::json> alarms;
    int raised = 0;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (raised < 4 && std::chrono::steady_clock::now() < deadline) {
        const std::string line = monitor.ReadLine(5s);
        ASSERT_FALSE(line.empty()) << "monitor printed nothing";
        const nlohmann::json json = nlohmann::json::parse(line);
        if (json["kind"] == "live")
            continue;
        alarms.push_back(json);
        if (json["kind"] == "alarm")
            ++raised;
    }
    EXPECT_EQ(monitor.Stop(SIGINT), 0);
    ASSERT_EQ(raised, 4);

    // The ramp rises through 1.2 V, falls back to 0.6 V at once (ending that alarm and raising the low one)
    // and rises through 0.8 V again: raised and ended alternate, side by side.
    for (size_t i = 0; i < alarms.size(); ++i) {
        const nlohmann::json& alarm = alarms[i];
        SCOPED_TRACE(alarm.dump());
        EXPECT_EQ(alarm["unit"], "V");
        EXPECT_EQ(alarm["functionName"], "VDC");
        ASSERT_TRUE(alarm["time"].is_string());
        EXPECT_EQ(alarm["time"].get<std::string>().size(),
                  std::string("2026-12-07T22:05:20.123+01:00").size());
        const double value = alarm["value"];
        if (alarm["kind"] == "alarm" && alarm["side"] == "high") {
            EXPECT_EQ(alarm["limit"], 1.2);
            EXPECT_GT(value, 1.2);
        } else if (alarm["kind"] == "alarm") {
            EXPECT_EQ(alarm["limit"], 0.8);
            EXPECT_LT(value, 0.8);
        } else if (alarm["side"] == "high") {
            EXPECT_LE(value, 1.2 - 0.004) << "ended by 1 % of the span";
        } else {
            EXPECT_GE(value, 0.8 + 0.004);
        }
        if (i > 0 && alarm["kind"] == "alarm") {
            EXPECT_EQ(alarms[i - 1]["kind"], "alarmEnded");
        }
    }

    // The tool waits for short commands before it ends: one line per alarm raised.
    std::ifstream in(commands);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::filesystem::remove(commands);
    ASSERT_GE(lines.size(), 4u);
    for (const std::string& line : lines)
        EXPECT_TRUE(line.rfind("high 1.2 1.2", 0) == 0 || line.rfind("low 0.8 0.", 0) == 0) << line;
}

TEST(CliMonitor, LimitsThatCannotBeAreBadUsage) {
    for (const std::vector<std::string>& options : {std::vector<std::string>{"--high", "1", "--low", "2"},
                                                    {"--hold", "2"},
                                                    {"--high", "1", "--hold", "-1"},
                                                    {"--low", "1", "--hysteresis", "-0.5"}}) {
        std::vector<std::string> arguments{BuildPath("tools/cli/calvora-cli"), "monitor", "--port",
                                           "/dev/null"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        ChildProcess cli(arguments, true);
        EXPECT_NE(cli.ReadLine(5s), "");
        EXPECT_EQ(cli.Wait(5s), 2) << options[0];
    }
}

} // namespace
} // namespace calvora
