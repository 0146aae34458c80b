// A log read as samples: the exports and the statistics take a whole day's log as it is, with the values a
// recording of it would hold and times to the millisecond.
#include "export/csv_export.h"
#include "export/export_file.h"
#include "logging/log_document.h"
#include "logging/log_samples.h"
#include "measure/statistics.h"
#include "protocol/formatters.h"
#include "recording/byte_sink.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace calvora {
namespace {

constexpr int64_t kStart = 1'796'800'000'000; // 2026-12-09T07:06:40Z
constexpr uint64_t kReadings = 200'000;       // more than a recording or its text table holds

class LogSamplesTest : public ::testing::Test {
protected:
    LogSamplesTest() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        const uint16_t vdc = *log_.InternState({u"VDC", u"DC", u"V", 10000, 4, -4, 0});
        const uint16_t low = *log_.InternState({u"VDC", u"DC", u"V", 10000, 4, -4, kLogUnderload});
        for (uint64_t i = 0; i < kReadings; ++i) {
            const bool overload = i % 1000 == 999;
            EXPECT_TRUE(log_.Append(kStart + static_cast<int64_t>(i) * 20,
                                    overload ? std::numeric_limits<float>::quiet_NaN()
                                             : static_cast<float>(i % 100) / 100.0f,
                                    overload ? low : vdc));
        }
    }

    LogDocument log_;
};

TEST_F(LogSamplesTest, ReadingsReadAsARecordingOfThemWouldHoldThem) {
    const LogSamples samples(log_, {10, kReadings}, u"day.calvlog");
    ASSERT_EQ(samples.sampleCount(), kReadings - 10);
    EXPECT_EQ(samples.name(), u"day.calvlog");

    const SampleView first = samples.Sample(0);
    EXPECT_EQ(first.value, log_.value(10));
    EXPECT_EQ(first.unit, u"V");
    EXPECT_EQ(std::u16string(first.timeText), u"2026-12-09T07:06:40.200");

    const SampleView overload = samples.Sample(989); // reading 999
    EXPECT_EQ(overload.value, -std::numeric_limits<float>::infinity());
    EXPECT_EQ(FormatStoredValue(overload.value, overload.fullScale, overload.lowLimit), u"-OL");

    // The statistics count every reading of the range, the overloads apart.
    const RangeStatistics figures = ComputeStatistics(samples, 1, samples.sampleCount());
    ASSERT_EQ(figures.groups.size(), 1u);
    EXPECT_EQ(figures.groups[0].overloads, kReadings / 1000);
    EXPECT_EQ(figures.groups[0].count + figures.groups[0].overloads, kReadings - 10);
}

TEST_F(LogSamplesTest, ExportsTakeTheWholeLogButTheSaveTableRefusesWhatItCannotHold) {
    const LogSamples samples(log_, {0, kReadings}, u"day.calvlog");
    MemorySink sink;
    ASSERT_TRUE(WriteCsv(samples, AllSamples(samples), {}, sink));
    const std::string csv(sink.bytes.begin(), sink.bytes.end());
    const size_t lastLine = csv.rfind("\r\n", csv.size() - 3) + 2;
    EXPECT_EQ(csv.substr(lastLine), "200000,2026-12-09T08:13:19.980,VDC,DC,-OL,V\r\n");

    ExportOptions options;
    options.format = ExportFormat::RecorderText;
    EXPECT_NE(ExportProblem(options, kReadings).find(u"180,000"), std::u16string::npos)
        << "the table has three groups of 60,000 rows; more would be lost without a word";
    EXPECT_TRUE(ExportProblem(options, 180'000).empty());
    options.format = ExportFormat::Csv;
    EXPECT_TRUE(ExportProblem(options, kReadings).empty());
}

} // namespace
} // namespace calvora
