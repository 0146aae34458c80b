// A recording's samples on a wall-clock axis: the time texts they carry read back as times, runs of samples
// in one second spread across it, and recordings that carry no usable times refused.
#include "chart/recording_times.h"
#include "recording/recording_document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace calvora {
namespace {

// The time texts name local time; the tests pin the zone to UTC.
class RecordingTimesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ"))
            savedZone_ = zone;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (savedZone_)
            setenv("TZ", savedZone_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    static RecordingDocument Recording(const std::vector<std::u16string>& times, float value = 1.5f) {
        RecordingDocument document;
        document.SetChannelCount(1);
        uint32_t rows = 0;
        EXPECT_TRUE(document.BeginLiveStorage(static_cast<uint32_t>(times.size()) + 1, rows));
        for (const std::u16string& time : times)
            EXPECT_TRUE(document.AppendSample(value, 6.0f, -6, u"VDC", u"DC", u"V", time));
        return document;
    }

private:
    std::optional<std::string> savedZone_;
};

TEST_F(RecordingTimesTest, TimeTextsReadAsLocalTimesAndAnythingElseIsRefused) {
    constexpr int64_t kMorning = 1'796'804'102'000; // 2026-12-09 08:15:02 UTC
    EXPECT_EQ(ParseSampleTimeText(u" 12/09/26 08:15:02"), kMorning);
    EXPECT_EQ(ParseSampleTimeText(u" 01/01/00 00:00:00"), 946'684'800'000);
    for (const char16_t* bad :
         {u"", u"12/09/26 08:15:02", u" 12/09/26 08:15:02 ", u" 13/09/26 08:15:02", u" 00/09/26 08:15:02",
          u" 12/00/26 08:15:02", u" 12/09/26 24:15:02", u" 12/09/26 08:60:02", u" 12/09/26 08:15:61",
          u" 12-09-26 08:15:02", u" 12/09/26 08:15:0x", u" 12/09/26 08:15:0\u0662"})
        EXPECT_FALSE(ParseSampleTimeText(bad).has_value())
            << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
}

TEST_F(RecordingTimesTest, SamplesSharingASecondAreSpreadAcrossIt) {
    const RecordingDocument document =
        Recording({u" 12/09/26 08:15:02", u" 12/09/26 08:15:02", u" 12/09/26 08:15:02", u" 12/09/26 08:15:03",
                   u" 12/09/26 08:15:05", u" 12/09/26 08:15:05"});
    const auto times = SampleTimes(document);
    ASSERT_TRUE(times);
    const int64_t s = 1'796'804'102'000;
    EXPECT_EQ(*times, (std::vector<int64_t>{s, s + 333, s + 666, s + 1000, s + 3000, s + 3500}));

    const auto series = RecordingTimeSeries(document);
    ASSERT_NE(series, nullptr);
    EXPECT_EQ(series->readingCount(), 6u);
    EXPECT_EQ(series->firstTime(), s);
    EXPECT_EQ(series->lastTime(), s + 3500);
}

TEST_F(RecordingTimesTest, RecordingsWithoutUsableTimesHaveNoTimeAxis) {
    // All in one second (a downloaded stored log carries the download's time), a time that goes back, a
    // text that is no time, and no samples at all.
    const std::vector<std::vector<std::u16string>> cases = {
        {u" 12/09/26 08:15:02", u" 12/09/26 08:15:02", u" 12/09/26 08:15:02"},
        {u" 12/09/26 08:15:02", u" 12/09/26 08:15:04", u" 12/09/26 08:15:03"},
        {u" 12/09/26 08:15:02", u"garbled", u" 12/09/26 08:15:04"},
        {},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const RecordingDocument document = Recording(cases[i]);
        EXPECT_FALSE(SampleTimes(document).has_value()) << "case " << i;
        EXPECT_EQ(RecordingTimeSeries(document), nullptr) << "case " << i;
    }
}

TEST_F(RecordingTimesTest, AnOverloadIsNoNumberOnTheTimeAxis) {
    const RecordingDocument document =
        Recording({u" 12/09/26 08:15:02", u" 12/09/26 08:15:03"}, std::numeric_limits<float>::infinity());
    const auto series = RecordingTimeSeries(document);
    ASSERT_NE(series, nullptr);
    const ValueRange range = series->RangeBetween(series->firstTime(), series->lastTime());
    EXPECT_TRUE(range.empty());
}

} // namespace
} // namespace calvora
