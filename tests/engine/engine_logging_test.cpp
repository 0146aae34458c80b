// Continuous logging through the engine: beside a recording, stopped by Stop Recording, and exported as the
// very recording the same readings make.
#include "app/meter_engine.h"
#include "logging/log_export.h"
#include "logging/log_file.h"
#include "protocol/formatters.h"
#include "protocol/frame_builder.h"
#include "protocol/text.h"
#include "recording/byte_sink.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

namespace calvora {
namespace {

using testing::FakeInventory;
using testing::FakeView;

constexpr int64_t kStart = 1796804102125; // 2026-12-09T08:15:02.125Z

class EngineLoggingTest : public ::testing::Test {
protected:
    EngineLoggingTest()
        : folder_(std::filesystem::temp_directory_path() /
                  ("calvora-engine-log-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          settings_((folder_ / "ZAZEDOVADIZO.ini").string()), state_(view_, inventory_, settings_) {
        std::filesystem::create_directories(folder_);
        view_.state = &state_.documents();
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
        state_.SetPreciseClock([this] { return now_; });
        state_.SelectCaptureSource();
    }
    ~EngineLoggingTest() override {
        ::unsetenv("TZ");
        ::tzset();
        std::filesystem::remove_all(folder_);
    }

    // One live reading of `magnitude` counts, received 20 ms after the one before.
    void Feed(uint16_t magnitude, uint8_t range = 0x01, uint8_t function = 0x01) {
        const auto frame = MakeLiveFrame(magnitude, range, function, 0);
        state_.ReceiveChunk(frame.data(), static_cast<int>(frame.size()));
        now_ += 20;
    }

    std::filesystem::path folder_;
    FakeView view_;
    FakeInventory inventory_;
    SettingsFile settings_;
    MeterEngine state_;
    int64_t now_ = kStart;
};

TEST_F(EngineLoggingTest, ALogRunsBesideARecordingAndStopRecordingEndsBoth) {
    EXPECT_TRUE(state_.canStartLogging());
    ASSERT_TRUE(state_.StartLogging(folder_ / "beside.calvlog", {}));
    EXPECT_FALSE(state_.canStartLogging());
    ASSERT_EQ(view_.logs.size(), 1u);
    EXPECT_EQ(view_.logs[0]->title, u"beside.calvlog");
    EXPECT_TRUE(view_.TimerRunning(kLogTimer));
    EXPECT_TRUE(state_.canStartRecording()) << "a recording may run beside the log";
    state_.StartRecordingOf(kMaxPlannedSamples);
    for (int i = 0; i < 30; ++i)
        Feed(static_cast<uint16_t>(10000 + i));
    EXPECT_EQ(view_.logs[0]->readingCount(), 30u);
    EXPECT_EQ(state_.documents().recordingDocument->sampleCount(), 30u);

    ASSERT_TRUE(state_.canStopRecording());
    state_.StopRecording();
    EXPECT_FALSE(state_.logging());
    EXPECT_FALSE(state_.documents().recording);
    EXPECT_FALSE(view_.TimerRunning(kLogTimer));
    EXPECT_TRUE(view_.messages.empty());
    Feed(1);
    EXPECT_EQ(view_.logs[0]->readingCount(), 30u) << "nothing after the stop";
    ASSERT_NE(state_.currentLog(), nullptr);
    EXPECT_EQ(state_.currentLog()->end(), LogEnd::Stopped);

    const auto reread = LoadLogFile(folder_ / "beside.calvlog");
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread.value()->readingCount(), 30u);
    EXPECT_EQ(reread.value()->meta().at("receiver"), "capture");
    EXPECT_EQ(reread.value()->meta().at("model"), "QM310/QM312");
    EXPECT_EQ(reread.value()->meta().at("application"), "Calvora");
}

TEST_F(EngineLoggingTest, SilenceShowsNoSignalAndTheStopConditionEndsTheLogByItself) {
    LogStopCondition stop;
    stop.kind = LogStopCondition::Kind::Duration;
    stop.durationMs = 8000;
    ASSERT_TRUE(state_.StartLogging(folder_ / "silent.calvlog", stop));
    Feed(12345);
    for (int tick = 0; tick < 24 && state_.logging(); ++tick) {
        now_ += 250;
        state_.OnTimer(kLogTimer);
    }
    EXPECT_EQ(view_.noSignal, 1);
    Feed(12345);
    for (int tick = 0; tick < 40 && state_.logging(); ++tick) {
        now_ += 250;
        state_.OnTimer(kLogTimer);
    }
    EXPECT_FALSE(state_.logging());
    EXPECT_EQ(state_.currentLog()->end(), LogEnd::DurationDone);
    EXPECT_TRUE(view_.messages.empty()) << "a stop condition is no failure";
    ASSERT_EQ(view_.logs[0]->gaps().size(), 1u);
    EXPECT_EQ(view_.logs[0]->gaps()[0].endMs, kStart + 6020);
}

TEST_F(EngineLoggingTest, NoLogWithoutAReceiverOrOverAnExistingFile) {
    MeterEngine idle(view_, inventory_, settings_);
    EXPECT_FALSE(idle.canStartLogging());
    EXPECT_FALSE(idle.StartLogging(folder_ / "none.calvlog", {}));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "none.calvlog"));

    ASSERT_TRUE(state_.StartLogging(folder_ / "first.calvlog", {}));
    state_.StopLogging();
    const auto again = state_.StartLogging(folder_ / "first.calvlog", {});
    ASSERT_FALSE(again);
    EXPECT_NE(again.reason().find(u"already exists"), std::u16string::npos);
}

MemorySink Written(const RecordingDocument& document) {
    MemorySink sink;
    EXPECT_TRUE(WriteRecord(document, sink));
    return sink;
}

// A span of the log exported as a recording is byte for byte the recording that "Real Time Chart Recording"
// made of the same readings: values, full scales, limits, texts, time texts (the clock crossing several
// seconds) and the chart's trailer.
TEST_F(EngineLoggingTest, ARangeExportIsTheRecordingOfTheSameReadings) {
    ASSERT_TRUE(state_.StartLogging(folder_ / "export.calvlog", {}));
    for (int i = 0; i < 100; ++i)
        Feed(static_cast<uint16_t>(20000 + 7 * i));
    const int64_t from = now_;
    state_.StartRecordingOf(300);
    for (int i = 0; i < 300; ++i) {
        // A function change in the middle (from VDC to VAC).
        if (i < 150)
            Feed(static_cast<uint16_t>(30000 - 11 * i));
        else
            Feed(static_cast<uint16_t>(1000 + i), 0x02, 0x00);
    }
    const int64_t to = now_ - 20;
    ASSERT_FALSE(state_.documents().recording) << "the recording took its 300 samples";
    for (int i = 0; i < 50; ++i)
        Feed(5);
    state_.StopLogging();

    const auto log = LoadLogFile(folder_ / "export.calvlog");
    ASSERT_TRUE(log);
    const LogRange range = RangeOfTimes(*log.value(), from, to);
    EXPECT_EQ(range.first, 100u);
    EXPECT_EQ(range.count(), 300u);
    RecordingDocument exported;
    ASSERT_TRUE(ExportRange(*log.value(), range, exported));
    const MemorySink ordinary = Written(*state_.documents().recordingDocument);
    const MemorySink fromLog = Written(exported);
    EXPECT_EQ(fromLog.bytes, ordinary.bytes);
    EXPECT_EQ(exported.timeText(0), state_.documents().recordingDocument->timeText(0));

    // An overload is no number in a log: it exports as an infinite value, which reads "OL" or "-OL" as the
    // recording's own overloads do.
    LogDocument overloads;
    const uint16_t vac = *overloads.InternState({u"VAC", u"AC", u"V", 1000, 40, 0, kLogUnderload});
    overloads.Append(kStart, std::numeric_limits<float>::quiet_NaN(), vac);
    RecordingDocument withOverload;
    ASSERT_TRUE(ExportRange(overloads, {0, 1}, withOverload));
    EXPECT_EQ(withOverload.value(0, 0), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(
        FormatStoredValue(withOverload.value(0, 0), withOverload.fullScale(0, 0), withOverload.lowLimit(0)),
        u"-OL");

    // More than a recording holds is refused with the limit named.
    RecordingDocument tooLong;
    const auto refused = ExportRange(*log.value(), {0, kMaxExportReadings + 1}, tooLong);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.reason().find(u"180,000"), std::u16string::npos);
}

} // namespace
} // namespace calvora
