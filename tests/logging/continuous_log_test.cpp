#include "logging/continuous_log.h"
#include "logging/log_file.h"
#include "tests/logging/log_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace calvora {
namespace {

using testing::Reading;
using testing::ScratchFolder;

constexpr int64_t kStart = 1796804102125; // 2026-12-09T08:15:02.125Z

class ContinuousLogTest : public ::testing::Test {
protected:
    std::unique_ptr<ContinuousLog> Start(LogStopCondition stop = {}) {
        auto started =
            ContinuousLog::Start(folder_ / "log.calvlog", stop, {{"model", "QM310/QM312"}}, kStart);
        EXPECT_TRUE(started) << toUtf8(started.reason());
        return started ? std::move(started).value() : nullptr;
    }
    // Readings every 20 ms from `from` for `ms`, each tick after its reading.
    static int64_t Feed(ContinuousLog& log, int64_t from, int64_t ms, int32_t count = 12345) {
        int64_t t = from;
        for (; t < from + ms; t += 20) {
            log.OnReading(Reading(count), t);
            log.OnTick(t);
        }
        return t;
    }
    static void Silence(ContinuousLog& log, int64_t from, int64_t ms) {
        for (int64_t t = from; t < from + ms; t += 250)
            log.OnTick(t);
    }

    ScratchFolder folder_{"calvora-continuous-log"};
};

TEST_F(ContinuousLogTest, SixSecondsOfSilenceMakeOneGapFromTheLastReadingToTheNext) {
    auto log = Start();
    int64_t t = Feed(*log, kStart, 1000);
    const int64_t lastBefore = t - 20;
    Silence(*log, t, 6000);
    ASSERT_TRUE(log->document().gapOpen()) << "five seconds without a reading open a gap";
    t = Feed(*log, t + 6000, 1000);
    const auto& gaps = log->document().gaps();
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].reason, kNoSignalReason);
    EXPECT_EQ(gaps[0].startMs, lastBefore);
    EXPECT_EQ(gaps[0].endMs, lastBefore + 20 + 6000);
    EXPECT_EQ(gaps[0].before, 50u);
    EXPECT_TRUE(log->Finish(t, LogEnd::Stopped));

    // The file says the same.
    const auto reread = LoadLogFile(log->path());
    ASSERT_TRUE(reread) << toUtf8(reread.reason());
    EXPECT_EQ(reread.value()->gaps(), gaps);
    EXPECT_EQ(reread.value()->readingCount(), 100u);
}

TEST_F(ContinuousLogTest, AnUnpluggedReceiverIsOneGapHoweverLongItStaysAway) {
    auto log = Start();
    int64_t t = Feed(*log, kStart, 500);
    log->OnReceiverLost(t);
    Silence(*log, t, 12000); // longer than the silence rule: still the one gap
    t = Feed(*log, t + 12000, 500);
    ASSERT_EQ(log->document().gaps().size(), 1u);
    EXPECT_EQ(log->document().gaps()[0].reason, kUnpluggedReason);
    EXPECT_TRUE(log->document().gaps()[0].endMs.has_value());

    // Silence first, the unplugging noticed later: the gap is put down to the receiver.
    Silence(*log, t, 5500);
    ASSERT_TRUE(log->document().gapOpen());
    log->OnReceiverLost(t + 5500);
    Feed(*log, t + 8000, 100);
    ASSERT_EQ(log->document().gaps().size(), 2u);
    EXPECT_EQ(log->document().gaps()[1].reason, kUnpluggedReason);
}

TEST_F(ContinuousLogTest, StopConditionsEndTheLog) {
    {
        LogStopCondition stop;
        stop.kind = LogStopCondition::Kind::Readings;
        stop.readings = 30;
        auto log = Start(stop);
        Feed(*log, kStart, 1000);
        EXPECT_EQ(log->end(), LogEnd::ReadingsDone);
        EXPECT_EQ(log->readingCount(), 30u) << "readings after the last one asked for are not stored";
    }
    std::filesystem::remove(folder_ / "log.calvlog");
    {
        LogStopCondition stop;
        stop.kind = LogStopCondition::Kind::Duration;
        stop.durationMs = 2000;
        auto log = Start(stop);
        Feed(*log, kStart, 1990);
        EXPECT_FALSE(log->ended());
        log->OnTick(kStart + 2000);
        EXPECT_EQ(log->end(), LogEnd::DurationDone);
        log->OnReading(Reading(1), kStart + 2010);
        EXPECT_EQ(log->readingCount(), 100u);
        EXPECT_TRUE(log->Finish(kStart + 2010, LogEnd::Stopped));
        EXPECT_EQ(log->end(), LogEnd::DurationDone) << "the first reason stays";
        const auto reread = LoadLogFile(log->path());
        ASSERT_TRUE(reread);
        EXPECT_EQ(reread.value()->meta().at("stopped_utc"), FormatIsoUtc(kStart + 2010));
        EXPECT_EQ(reread.value()->meta().at("started_utc"), FormatIsoUtc(kStart));
    }
}

TEST_F(ContinuousLogTest, StoppingDuringAGapClosesItAtTheStop) {
    auto log = Start();
    const int64_t t = Feed(*log, kStart, 200);
    log->OnReceiverLost(t);
    ASSERT_TRUE(log->Finish(t + 3000, LogEnd::Stopped));
    const auto reread = LoadLogFile(log->path());
    ASSERT_TRUE(reread);
    ASSERT_EQ(reread.value()->gaps().size(), 1u);
    EXPECT_EQ(reread.value()->gaps()[0].endMs, t + 3000);
}

TEST_F(ContinuousLogTest, AnExistingFileIsNeverOverwritten) {
    std::filesystem::path path = folder_ / "log.calvlog";
    {
        std::FILE* file = std::fopen(path.c_str(), "w");
        std::fputs("keep me", file);
        std::fclose(file);
    }
    const auto started = ContinuousLog::Start(path, {}, {}, kStart);
    ASSERT_FALSE(started);
    EXPECT_NE(started.reason().find(u"already exists"), std::u16string::npos);
    EXPECT_EQ(std::filesystem::file_size(path), 7u);
}

} // namespace
} // namespace calvora
