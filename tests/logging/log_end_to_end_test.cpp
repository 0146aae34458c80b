// calvora-cli log against calvora-sim: a real receiver's hang-up and return, silence, a function change,
// the stop conditions and a kill, each log read back by the program and by the sqlite3 tool.
#include "logging/continuous_log.h"
#include "logging/log_file.h"
#include "tests/logging/log_test_support.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace calvora {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::ScratchFolder;
using testing::SimulatorProcess;

// The simulator's ramp rises one count a reading from 5000 (frame k carries 5000 + k counts, 0.5 V +
// k/10000).
const std::vector<std::string> kRamp = {"--waveform",  "ramp",  "--offset", "30000",
                                        "--amplitude", "25000", "--period", "50000"};

std::vector<std::string> With(std::vector<std::string> arguments, const std::vector<std::string>& more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

ChildProcess Cli(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), testing::BuildPath("tools/cli/calvora-cli"));
    return ChildProcess(std::move(arguments));
}

int64_t Count(const LogDocument& log, size_t i) {
    return std::lround(static_cast<double>(log.value(i)) * 10000);
}

class LogEndToEnd : public ::testing::Test {
protected:
    LogEndToEnd() { ::setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1); }

    std::unique_ptr<LogDocument> Load(const std::filesystem::path& path) {
        auto loaded = LoadLogFile(path);
        EXPECT_TRUE(loaded) << toUtf8(loaded.reason());
        return loaded ? std::move(loaded).value() : std::make_unique<LogDocument>();
    }

    ScratchFolder folder_{"calvora-log-e2e"};
};

// The receiver is pulled after a second and comes back at the same path a second later; later the meter is
// silent for six seconds. The log goes on across both, with one gap each and no reading lost that arrived.
TEST_F(LogEndToEnd, AnUnplugAReplugAndSixSecondsOfSilenceAreOneGapEach) {
    const auto link = folder_ / "receiver";
    SimulatorProcess simulator(With({"--link", link.string(), "--rate", "20", "--unplug-after", "1",
                                     "--replug-after", "1", "--pause-after", "3", "--pause-for", "6"},
                                    kRamp));
    ASSERT_FALSE(simulator.devicePath().empty());
    const auto path = folder_ / "across.calvlog";
    ChildProcess cli = Cli({"log", "--port", link.string(), "--out", path.string(), "--duration", "10.5"});
    ASSERT_EQ(cli.Wait(30000ms), 0);

    const auto log = Load(path);
    ASSERT_EQ(log->gaps().size(), 2u);
    const LogGap& unplugged = log->gaps()[0];
    const LogGap& silent = log->gaps()[1];
    EXPECT_EQ(unplugged.reason, kUnpluggedReason);
    EXPECT_EQ(silent.reason, kNoSignalReason);
    ASSERT_TRUE(unplugged.endMs && silent.endMs);
    EXPECT_NEAR(static_cast<double>(*unplugged.endMs - unplugged.startMs), 1000, 600);
    EXPECT_NEAR(static_cast<double>(*silent.endMs - silent.startMs), 6000, 600);
    // Each gap lies between the readings either side of it.
    for (const LogGap& gap : log->gaps()) {
        ASSERT_GT(gap.before, 0u);
        ASSERT_LT(gap.before, log->readingCount());
        EXPECT_EQ(gap.startMs, log->timeMs(gap.before - 1));
        EXPECT_EQ(*gap.endMs, log->timeMs(gap.before));
    }
    // The ramp goes on where it stopped. Missing at the gap are only the frame on its way when the receiver
    // was pulled and those it sent back in before the program had the port open again (opening a port
    // discards what came before it; the log looks for its receiver every 50 ms); none anywhere else.
    int missing = 0;
    for (size_t i = 1; i < log->readingCount(); ++i) {
        const int64_t step = Count(*log, i) - Count(*log, i - 1);
        ASSERT_GE(step, 1) << "reading " << i;
        if (i == unplugged.before)
            missing += static_cast<int>(step - 1);
        else
            EXPECT_EQ(step, 1) << "reading " << i;
    }
    EXPECT_LE(missing, 6);
    EXPECT_EQ(log->meta().at("receiver"), link.string());
    EXPECT_EQ(log->meta().count("stopped_utc"), 1u);
}

// A function change is simply the next readings; the readings stop condition takes exactly its count and
// the duration stops the log on time.
TEST_F(LogEndToEnd, FunctionChangesAndStopConditions) {
    const auto script = folder_ / "functions.txt";
    {
        std::ofstream lines(script);
        // Ten readings in VDC (range 1), then ten in VAC (range 2), over and over.
        for (int i = 0; i < 10; ++i)
            lines << "00 d5 f0 00 00 30 39 01 01 00 00 00\n";
        for (int i = 0; i < 10; ++i)
            lines << "00 d5 f0 00 00 12 34 02 00 00 00 00\n";
    }
    SimulatorProcess simulator({"--rate", "100", "--script", script.string()});
    ASSERT_FALSE(simulator.devicePath().empty());
    const auto counted = folder_ / "counted.calvlog";
    ChildProcess byCount =
        Cli({"log", "--port", simulator.devicePath(), "--out", counted.string(), "--samples", "45"});
    ASSERT_EQ(byCount.Wait(20000ms), 0);
    const auto log = Load(counted);
    ASSERT_EQ(log->readingCount(), 45u);
    int changes = 0;
    for (size_t i = 1; i < log->readingCount(); ++i)
        changes += log->state(i).functionName != log->state(i - 1).functionName;
    EXPECT_GE(changes, 3);
    EXPECT_TRUE(log->gaps().empty());
    if (testing::HaveSqliteTool()) {
        EXPECT_EQ(testing::SqliteTool(counted, "SELECT DISTINCT function, unit FROM readings ORDER BY 1"),
                  "VAC,V\nVDC,V\n");
    }

    // The file commands take the log like a recording: export (a span chosen by time), convert and stats.
    const auto exported = folder_ / "span.csv";
    ChildProcess span = Cli({"export", "--format", "csv", "--from", FormatIsoUtc(log->timeMs(10)), "--to",
                             FormatIsoUtc(log->timeMs(19)), counted.string(), exported.string()});
    ASSERT_EQ(span.Wait(10000ms), 0);
    std::ifstream csv(exported);
    size_t records = 0;
    for (std::string line; std::getline(csv, line);)
        ++records;
    EXPECT_GE(records, 11u) << "the header and the ten readings from the 11th to the 20th at least";
    EXPECT_LE(records, 21u);
    ChildProcess stats = Cli({"stats", "--json", counted.string()});
    ASSERT_EQ(stats.Wait(10000ms), 0);
    const std::string figures = stats.ReadLine(1000ms);
    EXPECT_NE(figures.find(R"("to":45)"), std::string::npos) << figures;
    EXPECT_NE(figures.find(R"("functionName":"VAC")"), std::string::npos) << figures;
    ChildProcess byNumber = Cli({"export", "--from", "3", counted.string(), (folder_ / "x.csv").string()});
    EXPECT_EQ(byNumber.Wait(10000ms), 2) << "a log's span is given by time";

    const auto timed = folder_ / "timed";
    const auto started = std::chrono::steady_clock::now();
    ChildProcess byTime =
        Cli({"log", "--port", simulator.devicePath(), "--out", timed.string(), "--duration", "1.5"});
    ASSERT_EQ(byTime.Wait(20000ms), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(byTime.ReadLine(1000ms), timed.string() + ".calvlog") << "the extension is added";
    const auto timedLog = Load(timed.string() + ".calvlog");
    ASSERT_GT(timedLog->readingCount(), 50u);
    EXPECT_LE(timedLog->lastTime() - ParseIsoTime(timedLog->meta().at("started_utc")).value(), 1500);

    // An existing file is never written over.
    ChildProcess again =
        Cli({"log", "--port", simulator.devicePath(), "--out", counted.string(), "--samples", "5"});
    EXPECT_EQ(again.Wait(10000ms), 2);
    EXPECT_EQ(Load(counted)->readingCount(), 45u);
}

// The logging program killed without warning: the file opens as it is, for the sqlite3 tool and for the
// program, and holds every reading up to within a second of the kill.
TEST_F(LogEndToEnd, AKilledLogOpensAsItIsLosingLessThanASecond) {
    SimulatorProcess simulator(With({"--rate", "50"}, kRamp), true);
    ASSERT_FALSE(simulator.devicePath().empty());
    const auto path = folder_ / "killed.calvlog";
    ChildProcess cli = Cli({"log", "--port", simulator.devicePath(), "--out", path.string()});
    ASSERT_TRUE(testing::WaitFor(
        [&] {
            auto loaded = LoadLogFile(path);
            return loaded && loaded.value()->readingCount() >= 100;
        },
        20000ms));

    // The simulator is held and says what it has sent; then the logger is killed.
    ChildProcess& meter = simulator.process();
    testing::SimulatorSent sent;
    ASSERT_TRUE(meter.Pause());
    ASSERT_TRUE(meter.Signal(SIGUSR2) && meter.Resume() && testing::ReadSimulatorSent(meter, sent, 5000ms));
    ASSERT_TRUE(meter.Pause());
    ASSERT_TRUE(cli.Signal(SIGKILL));
    cli.Wait(5000ms);

    const auto log = Load(path);
    ASSERT_GT(log->readingCount(), 0u);
    EXPECT_EQ(log->meta().count("stopped_utc"), 0u);
    const int64_t lastSent = 5000 + static_cast<int64_t>(sent.liveFrames) - 1;
    const int64_t lastLogged = Count(*log, log->readingCount() - 1);
    EXPECT_GE(lastLogged, lastSent - 50) << "more than a second of readings lost";
    for (size_t i = 1; i < log->readingCount(); ++i)
        ASSERT_EQ(Count(*log, i) - Count(*log, i - 1), 1) << "reading " << i;

    ChildProcess info = Cli({"info", "--json", path.string()});
    EXPECT_EQ(info.Wait(10000ms), 0);
    const std::string json = info.ReadLine(1000ms);
    EXPECT_NE(json.find("\"kind\":\"log\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"readingCount\":" + std::to_string(log->readingCount())), std::string::npos)
        << json;
    if (testing::HaveSqliteTool()) {
        EXPECT_EQ(testing::SqliteTool(path, "PRAGMA integrity_check"), "ok\n");
        EXPECT_EQ(testing::SqliteTool(path, "SELECT count(*) FROM readings"),
                  std::to_string(log->readingCount()) + "\n");
    }
}

} // namespace
} // namespace calvora
