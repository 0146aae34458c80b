// Several receivers in one calvora-cli run, each a calvora-sim at a rate of its own.
#include "logging/log_document.h"
#include "logging/log_file.h"
#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "tests/logging/log_test_support.h"
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

// What the sqlite3 tool prints for `sql` on `file`, in CSV.
std::string Sqlite(const std::filesystem::path& file, const std::string& sql) {
    return testing::SqliteTool(file, sql);
}

TEST_F(SeveralReceiversTest, LogWritesEveryReceiverIntoOneFileAndAnUnpluggedOneLeavesAGapInItsOwnTrace) {
    if (!testing::HaveSqliteTool())
        GTEST_SKIP() << "the sqlite3 tool is not installed (scripts/install-deps.sh installs it)";
    SimulatorProcess first(Meter(50, 1500));
    SimulatorProcess second(Meter(120, 2500));
    std::vector<std::string> unpluggedArgs = Meter(80, 3500);
    unpluggedArgs.insert(unpluggedArgs.end(), {"--unplug-after", "1"});
    SimulatorProcess unplugged(unpluggedArgs);
    ASSERT_FALSE(first.devicePath().empty());
    ASSERT_FALSE(second.devicePath().empty());
    ASSERT_FALSE(unplugged.devicePath().empty());
    ChildProcess naming({Cli(), "name", "--port", second.devicePath(), "Load current"});
    ASSERT_EQ(naming.Wait(5000ms), 0);

    const std::filesystem::path out = folder_ / "bench.calvlog";
    ChildProcess log({Cli(), "log", "--port", first.devicePath(), "--port", second.devicePath(), "--port",
                      unplugged.devicePath(), "--duration", "3", "--out", out.string()});
    EXPECT_EQ(log.ReadLine(15000ms), out.string()) << "one file for every receiver";
    EXPECT_EQ(log.ReadLine(5000ms), "") << "and no other";
    ASSERT_EQ(log.Wait(5000ms), 0);

    // Every meter's readings hold its own value only.
    EXPECT_EQ(Sqlite(out, "SELECT meter_name, count(DISTINCT value), min(value) FROM readings GROUP BY "
                          "meter_name ORDER BY min(value)"),
              "Multimeter,1,1.5\n\"Load current\",1,2.5\n\"Multimeter 2\",1,3.5\n");
    EXPECT_EQ(Sqlite(out, "SELECT name, receiver FROM meter ORDER BY id"),
              "Multimeter," + first.devicePath() + "\n\"Load current\"," + second.devicePath() +
                  "\n\"Multimeter 2\"," + unplugged.devicePath() + "\n");
    // The unplugged receiver's gap is its own, and the others went on reading through it.
    EXPECT_EQ(Sqlite(out, "SELECT meter_name, reason, end_utc IS NOT NULL FROM gaps"),
              "\"Multimeter 2\",\"receiver unplugged\",1\n");
    for (const char* meter : {"Multimeter", "Load current"}) {
        const std::string after =
            Sqlite(out, std::string("SELECT count(*) > 50 FROM readings WHERE meter_name = '") + meter +
                            "' AND time_utc > (SELECT start_utc FROM gaps)");
        EXPECT_EQ(after, "1\n") << meter << " stopped with the unplugged receiver";
    }
    EXPECT_EQ(Sqlite(out, "SELECT count(*) FROM readings WHERE meter_name = 'Multimeter 2' AND time_utc > "
                          "(SELECT start_utc FROM gaps) AND time_utc < (SELECT end_utc FROM gaps)"),
              "0\n");

    // The commands that read one meter's readings need to be told which, and say what there is.
    ChildProcess info({Cli(), "info", out.string()});
    std::string listing;
    for (std::string line; !(line = info.ReadLine(5000ms)).empty();)
        listing += line + "\n";
    EXPECT_EQ(info.Wait(5000ms), 0);
    EXPECT_NE(listing.find("Meters:    3"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Load current  " + second.devicePath()), std::string::npos) << listing;
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    };
    const std::vector<Case> cases{
        {{"stats", out.string()},
         2,
         "holds several meters; choose one with --meter NAME: Multimeter, Load current, Multimeter 2"},
        {{"stats", "--meter", "Load", out.string()},
         2,
         "holds no meter named 'Load'; its meters: Multimeter, Load current, Multimeter 2"},
        {{"export", "--format", "csv", out.string(), "-"}, 2, "choose one with --meter NAME"},
        {{"stats", "--meter", "Load current", out.string()}, 0, "Meter:    Load current"},
        {{"convert", "--meter", "Multimeter 2", out.string(), (folder_ / "probe.recorder").string()}, 0, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{Cli()};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        ChildProcess cli(arguments, true);
        std::string said;
        for (std::string line; !(line = cli.ReadLine(5000ms)).empty();)
            said += line + "\n";
        EXPECT_EQ(cli.Wait(5000ms), c.status) << c.arguments[0] << ": " << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
    }
    RecordingDocument probe;
    ASSERT_TRUE(ReadRecordFile((folder_ / "probe.recorder").string(), probe));
    EXPECT_GT(probe.sampleCount(), 0u);
    EXPECT_FLOAT_EQ(probe.value(0, 0), 3.5f);
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
