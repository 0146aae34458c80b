#include "logging/continuous_log.h"
#include "logging/log_file.h"
#include "logging/sqlite_database.h"
#include "tests/logging/log_test_support.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fstream>
#include <sys/wait.h>

namespace calvora {
namespace {

using testing::Reading;
using testing::ScratchFolder;

constexpr int64_t kStart = 1796804102125; // 2026-12-09T08:15:02.125Z

// A log with what the file must keep: a function change, an overload on either side, the meter's flags, a
// gap, more than one summary bucket.
std::filesystem::path WriteSampleLog(const std::filesystem::path& path, int readings = 1000) {
    auto started =
        ContinuousLog::Start(path, {}, {{"model", "QM310/QM312"}, {"receiver", "/dev/ttyUSB0"}}, kStart);
    EXPECT_TRUE(started) << toUtf8(started.reason());
    ContinuousLog& log = *started.value();
    int64_t t = kStart;
    for (int i = 0; i < readings; ++i, t += 20) {
        if (i == 600)
            log.OnReceiverLost(t), t += 7000;
        if (i < 400)
            log.OnReading(Reading(10000 + i), t);
        else if (i == 400)
            log.OnReading(Reading(40001), t); // above 4 V: "OL"
        else if (i == 401)
            log.OnReading(Reading(-40001), t); // "-OL"
        else if (i < 700)
            log.OnReading(Reading(2300 + i % 50, 0, 2, 0xB0), t); // VAC, hold, peak, manual range
        else
            log.OnReading(Reading(-5000 + i), t);
        log.OnTick(t);
    }
    EXPECT_TRUE(log.Finish(t, LogEnd::Stopped));
    return path;
}

TEST(LogFile, ReadsBackWhatWasLogged) {
    ScratchFolder folder("calvora-log-file");
    const auto path = WriteSampleLog(folder / "sample.calvlog");
    const auto loaded = LoadLogFile(path);
    ASSERT_TRUE(loaded) << toUtf8(loaded.reason());
    const LogDocument& log = *loaded.value();
    ASSERT_EQ(log.readingCount(), 1000u);
    EXPECT_EQ(log.title, u"sample.calvlog");
    EXPECT_EQ(log.meta().at("model"), "QM310/QM312");
    EXPECT_EQ(log.meta().at("receiver"), "/dev/ttyUSB0");
    EXPECT_EQ(log.timeMs(0), kStart);
    EXPECT_FLOAT_EQ(log.value(0), 1.0f);
    EXPECT_EQ(log.state(0).functionName, u"VDC");
    EXPECT_EQ(log.state(0).unit, u"V");
    EXPECT_TRUE(std::isnan(log.value(400)));
    EXPECT_EQ(log.state(400).flags & kLogOverload, kLogOverload);
    EXPECT_EQ(log.state(401).flags & kLogUnderload, kLogUnderload);
    EXPECT_EQ(log.state(500).functionName, u"VAC");
    EXPECT_EQ(log.state(500).flags, kLogHold | kLogPeak);
    EXPECT_EQ(log.state(0).flags, kLogAutoRange);
    ASSERT_EQ(log.gaps().size(), 1u);
    EXPECT_EQ(log.gaps()[0].reason, kUnpluggedReason);
    EXPECT_EQ(log.gaps()[0].before, 600u);
    EXPECT_EQ(log.timeMs(600) - log.timeMs(599), 7020);
}

// The names users' own tools rely on, read by the sqlite3 program itself.
TEST(LogFile, TheSqliteToolReadsTheReadingsAndGapsViews) {
    if (!testing::HaveSqliteTool())
        GTEST_SKIP() << "the sqlite3 tool is not installed (scripts/install-deps.sh installs it)";
    ScratchFolder folder("calvora-log-views");
    const auto path = WriteSampleLog(folder / "views.calvlog");
    EXPECT_EQ(testing::SqliteTool(path, "SELECT * FROM readings LIMIT 2"),
              "2026-12-09T08:15:02.125Z,1.0,V,VDC,DC,4.0,QM310/QM312,Multimeter\n"
              "2026-12-09T08:15:02.145Z,1.0001,V,VDC,DC,4.0,QM310/QM312,Multimeter\n");
    EXPECT_EQ(testing::SqliteTool(
                  path, "SELECT time_utc, value IS NULL, function FROM readings LIMIT 2 OFFSET 400"),
              "2026-12-09T08:15:10.125Z,1,VDC\n2026-12-09T08:15:10.145Z,1,VDC\n");
    EXPECT_EQ(testing::SqliteTool(path, "SELECT count(*), count(value) FROM readings"), "1000,998\n");
    EXPECT_EQ(testing::SqliteTool(path, "SELECT * FROM gaps"),
              "2026-12-09T08:15:14.105Z,2026-12-09T08:15:21.125Z,\"receiver unplugged\",Multimeter\n");
    EXPECT_EQ(testing::SqliteTool(path, "SELECT key FROM meta ORDER BY key"),
              "model\nreceiver\nstarted_utc\nstopped_utc\n");
    EXPECT_EQ(testing::SqliteTool(path, "PRAGMA journal_mode"), "wal\n");
    // Columns in the order and with the types the manual gives; the meter's name last.
    EXPECT_EQ(testing::SqliteTool(path, "SELECT name FROM pragma_table_info('readings')"),
              "time_utc\nvalue\nunit\nfunction\nmode\nfull_scale\nmeter\nmeter_name\n");
}

// The stored summary of every 256 readings agrees with the readings it stands for, so the first chart of
// a large log (drawn from it) shows what the loaded readings show.
TEST(LogFile, TheOverviewSummarisesTheReadings) {
    ScratchFolder folder("calvora-log-overview");
    const auto path = WriteSampleLog(folder / "overview.calvlog", 1000);
    auto reader = LogFileReader::Open(path);
    ASSERT_TRUE(reader);
    const auto overview = reader.value()->ReadOverview();
    ASSERT_TRUE(overview) << toUtf8(overview.reason());
    const auto loaded = LoadLogFile(path);
    ASSERT_TRUE(loaded);
    const LogDocument& log = *loaded.value();
    EXPECT_EQ(overview.value().readingCount, 1000u);
    EXPECT_TRUE(overview.value().finished());
    ASSERT_EQ(overview.value().meters.at(0).buckets.size(),
              4u); // three stored, the last 232 summarised on reading
    for (size_t b = 0; b < 4; ++b) {
        const LogBucket& bucket = overview.value().meters[0].buckets[b];
        const size_t first = b * kLogBucketReadings;
        const size_t end = std::min<size_t>(first + kLogBucketReadings, log.readingCount());
        ValueRange range;
        for (size_t i = first; i < end; ++i)
            range.Add(log.value(i));
        EXPECT_EQ(bucket.count, end - first);
        EXPECT_EQ(bucket.firstMs, log.timeMs(first));
        EXPECT_EQ(bucket.lastMs, log.timeMs(end - 1));
        EXPECT_EQ(bucket.range.min, range.min) << b;
        EXPECT_EQ(bucket.range.max, range.max) << b;
    }

    // Drawn from the overview, each column's extremes hold those of the readings.
    LogDocument pending;
    pending.SetOverview(overview.value().meters[0].buckets, overview.value().readingCount);
    const double step = static_cast<double>(log.lastTime() - log.firstTime()) / 300;
    ColumnTrace coarse;
    ColumnTrace fine;
    pending.series().Envelopes(static_cast<double>(log.firstTime()), step, 301, coarse);
    log.series().Envelopes(static_cast<double>(log.firstTime()), step, 301, fine);
    for (size_t k = 0; k < fine.columns.size(); ++k) {
        if (fine.columns[k].range.empty())
            continue;
        ASSERT_GT(coarse.columns[k].count, 0u) << k;
        EXPECT_LE(coarse.columns[k].range.min, fine.columns[k].range.min) << k;
        EXPECT_GE(coarse.columns[k].range.max, fine.columns[k].range.max) << k;
    }
}

TEST(LogFile, AFollowerSeesWhatAnotherWriterCommits) {
    ScratchFolder folder("calvora-log-follow");
    auto started = ContinuousLog::Start(folder / "live.calvlog", {}, {}, kStart);
    ASSERT_TRUE(started);
    ContinuousLog& writer = *started.value();
    LogDocument copy;
    LogFollower follower(writer.path());
    for (int round = 1; round <= 3; ++round) {
        for (int i = 0; i < 100; ++i)
            writer.OnReading(Reading(round * 1000 + i), kStart + round * 10000 + i * 10);
        ASSERT_TRUE(testing::WaitFor([&] { return writer.committedReadings() == 100u * round; },
                                     std::chrono::seconds(5)));
        const auto polled = follower.Poll(copy);
        ASSERT_TRUE(polled) << toUtf8(polled.reason());
        EXPECT_EQ(polled.value().readings, 100u);
        ASSERT_EQ(copy.readingCount(), 100u * round);
        EXPECT_FLOAT_EQ(copy.value(copy.readingCount() - 1), (round * 1000 + 99) / 10000.0f);
    }
    EXPECT_FALSE(follower.Poll(copy).value().any()) << "nothing new";
    EXPECT_EQ(copy.meta().count("stopped_utc"), 0u);
    ASSERT_TRUE(writer.Finish(kStart + 40000, LogEnd::Stopped));
    EXPECT_TRUE(follower.Poll(copy).value().gapsOrFacts);
    EXPECT_EQ(copy.meta().count("stopped_utc"), 1u) << "the follower learns that the writer stopped";
}

// A writer killed with SIGKILL: the file opens as it is, with every reading committed before the kill.
TEST(LogFile, AKilledWriterLeavesAFileThatOpensAsItIs) {
    ScratchFolder folder("calvora-log-kill");
    const auto path = folder / "killed.calvlog";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto started = ContinuousLog::Start(path, {}, {{"model", "QM310/QM312"}}, kStart);
        if (!started)
            _exit(2);
        ContinuousLog& log = *started.value();
        for (int i = 0; i < 3000; ++i)
            log.OnReading(Reading(i), kStart + i);
        while (log.committedReadings() < 3000)
            usleep(1000);
        for (int i = 3000; i < 3100; ++i)
            log.OnReading(Reading(i), kStart + i); // possibly not committed
        raise(SIGKILL);
        _exit(3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    const auto loaded = LoadLogFile(path);
    ASSERT_TRUE(loaded) << toUtf8(loaded.reason());
    EXPECT_GE(loaded.value()->readingCount(), 3000u);
    EXPECT_LE(loaded.value()->readingCount(), 3100u);
    EXPECT_EQ(loaded.value()->meta().count("stopped_utc"), 0u);
    if (testing::HaveSqliteTool()) {
        EXPECT_EQ(testing::SqliteTool(path, "PRAGMA integrity_check"), "ok\n");
    }
}

TEST(LogFile, OtherFilesAreRefusedWithAReason) {
    ScratchFolder folder("calvora-log-refused");
    const auto text = folder / "text.calvlog";
    std::ofstream(text) << "time,value\n";
    const auto other = folder / "other.db";
    {
        auto db = SqliteDatabase::Open(other, SqliteDatabase::Mode::ReadWriteCreate);
        ASSERT_TRUE(db);
        ASSERT_TRUE(db.value().Execute("CREATE TABLE t(x); INSERT INTO t VALUES(1);"));
    }
    // A log whose pages after the header were overwritten.
    const auto damaged = WriteSampleLog(folder / "damaged.calvlog");
    {
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4096);
        const std::string junk(8192, '\x5a');
        file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    struct Case {
        std::filesystem::path path;
        const char16_t* reason;
    };
    const Case cases[] = {
        {folder / "missing.calvlog", u"No such file"},
        {text, u"not a Calvora log"},
        {other, u"not a Calvora log"},
        {damaged, u"damaged"},
    };
    for (const Case& c : cases) {
        const auto loaded = LoadLogFile(c.path);
        ASSERT_FALSE(loaded) << c.path;
        EXPECT_NE(loaded.reason().find(c.reason), std::u16string::npos) << toUtf8(loaded.reason());
    }
}

TEST(LogFile, IsoTimes) {
    EXPECT_EQ(FormatIsoUtc(kStart), "2026-12-09T08:15:02.125Z");
    EXPECT_EQ(FormatIsoUtc(0), "1970-01-01T00:00:00.000Z");
    struct Case {
        const char* text;
        std::optional<int64_t> utc;
    };
    const Case cases[] = {
        {"2026-12-09T08:15:02.125Z", kStart},
        {"2026-12-09T08:15:02Z", kStart - 125},
        {"2026-12-09 08:15:02.1256Z", kStart + 0},
        {"2026-12-09T09:15:02.125+01:00", kStart},
        {"2026-12-09T03:15:02.125-0500", kStart},
        {"2026-12-09T08:15Z", kStart - 2125},
        {"2026-12-09", std::nullopt}, // local midnight: checked below
        {"2026-02-30T00:00Z", std::nullopt},
        {"2026-12-09T24:00Z", std::nullopt},
        {"yesterday", std::nullopt},
        {"2026-12-09T08:15:02.Z", std::nullopt},
        {"2026-12-09T08:15:02Zjunk", std::nullopt},
    };
    for (const Case& c : cases) {
        if (std::string_view(c.text) == "2026-12-09")
            continue;
        EXPECT_EQ(ParseIsoTime(c.text), c.utc) << c.text;
    }
    // Without a zone the time is the local clock's.
    setenv("TZ", "UTC-3", 1);
    tzset();
    EXPECT_EQ(ParseIsoTime("2026-12-09T11:15:02.125"), kStart);
    EXPECT_EQ(ParseIsoTime("2026-12-09"), kStart - 8 * 3600000 - 15 * 60000 - 2125 - 3 * 3600000);
    unsetenv("TZ");
    tzset();
}

} // namespace
} // namespace calvora
