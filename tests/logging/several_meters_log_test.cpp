// One log file over several meters: each meter's readings, gaps and summary kept apart, read back by the
// loader, the follower and the sqlite3 tool; and files of the first format (one receiver, no meters).
#include "logging/continuous_log.h"
#include "logging/log_file.h"
#include "logging/log_loader.h"
#include "logging/sqlite_database.h"
#include "tests/logging/log_test_support.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

using testing::Reading;
using testing::ScratchFolder;

constexpr int64_t kStart = 1796804102125; // 2026-12-09T08:15:02.125Z

// Three meters at different rates, each reading a value of its own; the third is unplugged from 5 s to 12 s.
struct Bench {
    struct Meter {
        LogMeterFacts facts;
        int64_t periodMs;
        int32_t count;
    };
    std::vector<Meter> meters{{{"Supply voltage", "/dev/ttyUSB0"}, 20, 10000},
                              {{"Load current", "/dev/ttyUSB1"}, 7, 20000},
                              {{"Probe", "COM3"}, 100, 30000}};
    std::vector<uint64_t> fed = std::vector<uint64_t>(3, 0);

    // Runs the clock from `from` to `to` in steps of 1 ms, handing each meter its readings when due.
    void Run(std::vector<std::unique_ptr<ContinuousLog>>& logs, int64_t from, int64_t to) {
        for (int64_t t = from; t < to; ++t) {
            for (size_t m = 0; m < meters.size(); ++m) {
                const bool unplugged = m == 2 && t >= kStart + 5000 && t < kStart + 12000;
                if (m == 2 && t == kStart + 5000)
                    logs[m]->OnReceiverLost(t);
                if (!unplugged && (t - kStart) % meters[m].periodMs == 0) {
                    logs[m]->OnReading(Reading(meters[m].count), t);
                    ++fed[m];
                }
                if (t % 250 == 0)
                    logs[m]->OnTick(t);
            }
        }
    }
};

TEST(SeveralMetersLog, EachMetersReadingsAndGapsStayItsOwnInMemoryAndInTheFile) {
    ScratchFolder folder("calvora-several-meters");
    const auto path = folder / "bench.calvlog";
    Bench bench;
    std::vector<LogMeterFacts> facts;
    for (const auto& meter : bench.meters)
        facts.push_back(meter.facts);
    auto started = ContinuousLog::StartSeveral(path, {}, {{"model", "QM310/QM312"}}, facts, kStart);
    ASSERT_TRUE(started) << toUtf8(started.reason());
    auto& logs = started.value();
    ASSERT_EQ(logs.size(), 3u);

    bench.Run(logs, kStart, kStart + 10000);
    // A follower sees each meter's readings once they are committed, also while the file is written.
    ASSERT_TRUE(testing::WaitFor(
        [&] {
            return logs[0]->committedReadings() == bench.fed[0] &&
                   logs[1]->committedReadings() == bench.fed[1];
        },
        std::chrono::seconds(5)));
    LogFollower follower(path);
    LogSet followed;
    ASSERT_TRUE(follower.Poll(followed));
    ASSERT_EQ(followed.meters.size(), 3u);
    EXPECT_EQ(followed.meters[0].log->readingCount(), bench.fed[0]);
    EXPECT_EQ(followed.meters[1].log->readingCount(), bench.fed[1]);

    bench.Run(logs, kStart + 10000, kStart + 20000);
    // The unplugged meter alone has a gap; the others went on.
    EXPECT_TRUE(logs[0]->document().gaps().empty());
    EXPECT_TRUE(logs[1]->document().gaps().empty());
    ASSERT_EQ(logs[2]->document().gaps().size(), 1u);
    EXPECT_EQ(logs[2]->document().gaps()[0].reason, kUnpluggedReason);
    EXPECT_EQ(logs[2]->document().gaps()[0].before, 50u); // the probe's readings 0 .. 49 came before
    for (auto& log : logs)
        EXPECT_TRUE(log->Finish(kStart + 20000, LogEnd::Stopped));
    ASSERT_TRUE(follower.Poll(followed));

    const auto loaded = LoadLogSet(path);
    ASSERT_TRUE(loaded) << toUtf8(loaded.reason());
    auto loader = LogLoader::Open(path);
    ASSERT_TRUE(loader) << toUtf8(loader.reason());
    const LogSet& overview = loader.value()->set();
    for (const LogSet* set : {&loaded.value(), static_cast<const LogSet*>(&followed), &overview}) {
        ASSERT_EQ(set->meters.size(), 3u);
        EXPECT_EQ(set->meta.count("stopped_utc"), 1u);
        for (size_t m = 0; m < 3; ++m) {
            const LogDocument& log = *set->meters[m].log;
            EXPECT_EQ(set->meters[m].facts.name, bench.meters[m].facts.name);
            EXPECT_EQ(set->meters[m].facts.receiver, bench.meters[m].facts.receiver);
            EXPECT_EQ(log.expectedCount(), bench.fed[m]) << m;
            EXPECT_EQ(log.gaps(), logs[m]->document().gaps()) << m;
        }
    }
    // The overview's stored buckets stand for each meter's own readings.
    for (size_t m = 0; m < 3; ++m) {
        const LogDocument& log = *loaded.value().meters[m].log;
        EXPECT_EQ(log.title, fromUtf8(bench.meters[m].facts.name));
        const float value = static_cast<float>(bench.meters[m].count) / 10000;
        for (size_t k = 0; k < log.readingCount(); ++k)
            ASSERT_EQ(log.value(k), value) << "meter " << m << " reading " << k << " crossed over";
        const TimeSeries& drawn = overview.meters[m].log->series();
        EXPECT_EQ(drawn.firstTime(), log.firstTime()) << m;
        EXPECT_EQ(drawn.lastTime(), log.lastTime()) << m;
    }

    if (!testing::HaveSqliteTool())
        GTEST_SKIP() << "the sqlite3 tool is not installed (scripts/install-deps.sh installs it)";
    EXPECT_EQ(testing::SqliteTool(path, "SELECT meter_name, count(*), min(value), max(value) FROM readings "
                                        "GROUP BY meter_name ORDER BY min(value)"),
              "\"Supply voltage\"," + std::to_string(bench.fed[0]) + ",1.0,1.0\n\"Load current\"," +
                  std::to_string(bench.fed[1]) + ",2.0,2.0\nProbe," + std::to_string(bench.fed[2]) +
                  ",3.0,3.0\n");
    EXPECT_EQ(testing::SqliteTool(path, "SELECT meter_name, reason FROM gaps"),
              "Probe,\"receiver unplugged\"\n");
    // In receive order over the meters: the first readings of the log's first millisecond.
    EXPECT_EQ(testing::SqliteTool(path, "SELECT meter_name FROM readings LIMIT 3"),
              "\"Supply voltage\"\n\"Load current\"\nProbe\n");
}

TEST(SeveralMetersLog, ANumberOfReadingsCountsEveryMeterAndEndsThemAll) {
    ScratchFolder folder("calvora-several-stop");
    const auto path = folder / "stop.calvlog";
    LogStopCondition stop;
    stop.kind = LogStopCondition::Kind::Readings;
    stop.readings = 30;
    auto started = ContinuousLog::StartSeveral(path, stop, {}, {{"A", "a"}, {"B", "b"}}, kStart);
    ASSERT_TRUE(started) << toUtf8(started.reason());
    auto& logs = started.value();
    // B reads twice as often as A.
    for (int64_t t = kStart; !logs[0]->ended() && t < kStart + 10000; t += 10) {
        logs[1]->OnReading(Reading(2000), t);
        if ((t - kStart) % 20 == 0)
            logs[0]->OnReading(Reading(1000), t);
    }
    EXPECT_EQ(logs[0]->end(), LogEnd::ReadingsDone);
    EXPECT_EQ(logs[1]->end(), LogEnd::ReadingsDone);
    logs[0]->OnReading(Reading(1000), kStart + 20000);
    EXPECT_EQ(logs[0]->totalReadings(), 30u);
    EXPECT_EQ(logs[0]->readingCount(), 10u);
    EXPECT_EQ(logs[1]->readingCount(), 20u);
    // The file closes with the last meter's log.
    EXPECT_TRUE(logs[0]->Finish(kStart + 20000, LogEnd::Stopped));
    EXPECT_FALSE(LoadLogSet(path).value().meta.count("stopped_utc"));
    EXPECT_TRUE(logs[1]->Finish(kStart + 20000, LogEnd::Stopped));
    const auto loaded = LoadLogSet(path);
    ASSERT_TRUE(loaded) << toUtf8(loaded.reason());
    EXPECT_EQ(loaded.value().meta.count("stopped_utc"), 1u);
    EXPECT_EQ(loaded.value().meta.at("receiver"), "a, b");
    EXPECT_EQ(loaded.value().meters[0].log->readingCount(), 10u);
    EXPECT_EQ(loaded.value().meters[1].log->readingCount(), 20u);
}

// A damaged log of several meters is refused with a reason, never read into the wrong meter; a summary that
// does not fit the readings is passed over and the overview made from the readings.
TEST(SeveralMetersLog, ADamagedFileIsRefusedAndABadSummaryPassedOver) {
    ScratchFolder folder("calvora-several-damaged");
    const auto good = folder / "good.calvlog";
    {
        auto started = ContinuousLog::StartSeveral(good, {}, {}, {{"A", "a"}, {"B", "b"}}, kStart);
        ASSERT_TRUE(started) << toUtf8(started.reason());
        auto& logs = started.value();
        for (int64_t k = 0; k < 600; ++k) {
            logs[0]->OnReading(Reading(1000), kStart + 10 * k);
            if (k == 300)
                logs[1]->OnReceiverLost(kStart + 10 * k);
            if (k < 100 || k > 400)
                logs[1]->OnReading(Reading(2000), kStart + 10 * k + 5);
        }
    }
    const struct {
        const char* sql;
        const char* reason; // empty: the file reads, with the right counts
    } cases[] = {
        {"UPDATE sample SET meter = 3 WHERE id = 2", "a reading names a meter the file does not hold"},
        {"UPDATE gap SET meter = 0", "a gap names a meter the file does not hold"},
        {"DELETE FROM meter", "it names no meter"},
        {"UPDATE meter SET id = 5 WHERE id = 2", "its meters are out of order"},
        {"PRAGMA user_version = 3", "newer version of Calvora"},
        {"UPDATE summary SET last_id = 999999 WHERE meter = 1 AND bucket = 1", ""},
        {"UPDATE summary SET bucket = 7 WHERE meter = 1 AND bucket = 0", ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        const auto path = folder / ("case" + std::to_string(n++) + ".calvlog");
        std::filesystem::copy_file(good, path);
        {
            auto db = SqliteDatabase::Open(path, SqliteDatabase::Mode::ReadWriteCreate);
            ASSERT_TRUE(db);
            ASSERT_TRUE(db.value().Execute(c.sql)) << c.sql;
        }
        const auto loaded = LoadLogSet(path);
        auto loader = LogLoader::Open(path);
        if (*c.reason != '\0') {
            ASSERT_FALSE(loaded) << c.sql;
            EXPECT_NE(toUtf8(loaded.reason()).find(c.reason), std::string::npos) << toUtf8(loaded.reason());
            // The overview reads only what it needs; loading the readings finds the rest.
            if (loader) {
                loader.value()->Start({});
                EXPECT_FALSE(loader.value()->Finish()) << c.sql;
            }
            continue;
        }
        ASSERT_TRUE(loaded) << c.sql << ": " << toUtf8(loaded.reason());
        ASSERT_TRUE(loader) << c.sql << ": " << toUtf8(loader.reason());
        EXPECT_EQ(loaded.value().meters[0].log->readingCount(), 600u) << c.sql;
        EXPECT_EQ(loaded.value().meters[1].log->readingCount(), 299u) << c.sql;
        EXPECT_EQ(loaded.value().meters[1].log->gaps().size(), 1u) << c.sql;
        for (size_t m = 0; m < 2; ++m) {
            const LogDocument& overview = *loader.value()->set().meters[m].log;
            const LogDocument& log = *loaded.value().meters[m].log;
            EXPECT_EQ(overview.expectedCount(), log.readingCount()) << c.sql << " meter " << m;
            EXPECT_EQ(overview.series().lastTime(), log.lastTime()) << c.sql << " meter " << m;
        }
    }
}

// A log written before logs named their meters, made with that format's own SQL: it opens as before, as one
// meter named Multimeter titled with the file's name.
TEST(SeveralMetersLog, AFileOfTheFirstFormatOpensAsItDid) {
    ScratchFolder folder("calvora-first-format");
    const auto path = folder / "old.calvlog";
    {
        auto db = SqliteDatabase::Open(path, SqliteDatabase::Mode::ReadWriteCreate);
        ASSERT_TRUE(db) << toUtf8(db.reason());
        std::string sql =
            "PRAGMA application_id = 1128352854; PRAGMA user_version = 1; PRAGMA journal_mode = WAL; BEGIN;"
            "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT);"
            "CREATE TABLE state(id INTEGER PRIMARY KEY, function TEXT NOT NULL, mode TEXT NOT NULL, unit "
            "TEXT "
            "NOT NULL, divisor INTEGER NOT NULL, full_scale REAL NOT NULL, low_limit REAL NOT NULL, flags "
            "INTEGER NOT NULL);"
            "CREATE TABLE sample(id INTEGER PRIMARY KEY, t INTEGER NOT NULL, count INTEGER, state INTEGER "
            "NOT "
            "NULL);"
            "CREATE TABLE gap(id INTEGER PRIMARY KEY, start_ms INTEGER NOT NULL, end_ms INTEGER, reason TEXT "
            "NOT "
            "NULL, before_sample INTEGER NOT NULL);"
            "CREATE TABLE summary(bucket INTEGER PRIMARY KEY, first_ms INTEGER NOT NULL, last_ms INTEGER NOT "
            "NULL, min REAL, max REAL, first REAL, last REAL);"
            "CREATE VIEW readings(time_utc, value, unit, function, mode, full_scale, meter) AS SELECT "
            "strftime('%Y-%m-%dT%H:%M:%S', s.t / 1000, 'unixepoch') || printf('.%03dZ', s.t % 1000), s.count "
            "* "
            "1.0 / st.divisor, st.unit, st.function, st.mode, st.full_scale, (SELECT value FROM meta WHERE "
            "key "
            "= 'model') FROM sample AS s JOIN state AS st ON st.id = s.state ORDER BY s.id;"
            "INSERT INTO meta VALUES('model', 'QM310/QM312'), ('receiver', '/dev/ttyUSB0'),"
            " ('started_utc', '2026-12-09T08:15:02.125Z'), ('stopped_utc', '2026-12-09T08:15:20.000Z');"
            "INSERT INTO state VALUES(0, 'VDC', 'DC', 'V', 10000, 4.0, -4.0, 4);"
            "INSERT INTO gap VALUES(1, 1796804104105, 1796804106125, 'no signal', 100);";
        // 300 readings, 0.0000 to 0.0299 V, every 20 ms with the gap after the hundredth; one stored bucket.
        for (int k = 0; k < 300; ++k)
            sql += "INSERT INTO sample VALUES(" + std::to_string(k + 1) + ", " +
                   std::to_string(kStart + k * 20 + (k >= 100 ? 2000 : 0)) + ", " + std::to_string(k) +
                   ", 0);";
        sql +=
            "INSERT INTO summary VALUES(0, 1796804102125, 1796804109225, 0.0, 0.0255, 0.0, 0.0255); COMMIT;";
        ASSERT_TRUE(db.value().Execute(sql.c_str()));
    }
    auto loader = LogLoader::Open(path);
    ASSERT_TRUE(loader) << toUtf8(loader.reason());
    const auto loaded = LoadLogSet(path);
    ASSERT_TRUE(loaded) << toUtf8(loaded.reason());
    const auto single = LoadLogFile(path);
    ASSERT_TRUE(single) << toUtf8(single.reason());
    for (const LogSet* set : {&loaded.value(), &loader.value()->set()}) {
        ASSERT_EQ(set->meters.size(), 1u);
        EXPECT_EQ(set->meters[0].facts.name, "Multimeter");
        EXPECT_EQ(set->meters[0].facts.receiver, "/dev/ttyUSB0");
        EXPECT_EQ(set->meters[0].log->title, u"old.calvlog");
        EXPECT_EQ(set->meters[0].log->expectedCount(), 300u);
        ASSERT_EQ(set->meters[0].log->gaps().size(), 1u);
        EXPECT_EQ(set->meters[0].log->gaps()[0].before, 100u);
    }
    const LogDocument& log = *single.value();
    ASSERT_EQ(log.readingCount(), 300u);
    EXPECT_FLOAT_EQ(log.value(299), 0.0299f);
    EXPECT_EQ(log.timeMs(100) - log.timeMs(99), 2020);
    EXPECT_EQ(log.meta().at("stopped_utc"), "2026-12-09T08:15:20.000Z");
    // The stored bucket and the 44 readings after it.
    auto reader = LogFileReader::Open(path);
    ASSERT_TRUE(reader);
    const auto overview = reader.value()->ReadOverview();
    ASSERT_TRUE(overview) << toUtf8(overview.reason());
    ASSERT_EQ(overview.value().meters.size(), 1u);
    ASSERT_EQ(overview.value().meters[0].buckets.size(), 2u);
    EXPECT_EQ(overview.value().meters[0].buckets[0].count, 256u);
    EXPECT_EQ(overview.value().meters[0].buckets[1].count, 44u);
    EXPECT_EQ(overview.value().readingCount, 300u);
    // Nothing was written to it: its own view reads as before.
    if (testing::HaveSqliteTool()) {
        EXPECT_EQ(testing::SqliteTool(path, "SELECT * FROM readings LIMIT 1"),
                  "2026-12-09T08:15:02.125Z,0.0,V,VDC,DC,4.0,QM310/QM312\n");
    }
}

} // namespace
} // namespace calvora
