// The statistics against a brute-force computation in extended precision, on random recordings with
// overloads and changes of function and unit; and the rules a report relies on (group order, first
// extremes, overload-only groups, ranges across the summary's blocks).
#include "measure/statistics.h"
#include "measure/statistics_tracker.h"
#include "protocol/text.h"
#include "recording/recording_document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace calvora {
namespace {

struct Reading {
    float value;
    float fullScale;
    int32_t lowLimit;
    std::u16string functionName;
    std::u16string unit;
};

std::unique_ptr<RecordingDocument> MakeDocument(const std::vector<Reading>& readings) {
    auto document = std::make_unique<RecordingDocument>();
    document->SetChannelCount(1);
    document->FillRows(static_cast<uint32_t>(readings.size()));
    for (uint32_t row = 0; row < readings.size(); ++row) {
        const Reading& r = readings[row];
        document->SetValue(row, 0, r.value, r.fullScale);
        document->SetLowLimit(row, r.lowLimit);
        document->SetTexts(row, r.functionName, u"DC", r.unit, u" 01/02/26 10:00:00");
    }
    return document;
}

// Recordings as a meter makes them: runs of one function, values around a level with noise, and now and
// then an overload either way or a value that is no number.
std::vector<Reading> RandomReadings(std::mt19937& random, size_t count, double level, double spread) {
    const Reading kinds[] = {{0, 600, -600, u"VDC", u"V"},
                             {0, 60000, 0, u"OHM", u"kOhm"},
                             {0, 6, -6, u"ADC", u"A"},
                             {0, 600, -600, u"VAC", u"V"}};
    std::uniform_real_distribution<double> noise(-spread, spread);
    std::uniform_int_distribution<int> die(0, 999);
    std::vector<Reading> readings;
    int kind = 0;
    for (size_t i = 0; i < count; ++i) {
        if (die(random) < 5)
            kind = die(random) % 4;
        Reading r = kinds[kind];
        r.fullScale = static_cast<float>(level * 10 + 1000);
        r.lowLimit = -static_cast<int32_t>(level * 10 + 1000);
        r.value = static_cast<float>(level + noise(random));
        const int roll = die(random);
        if (roll < 10)
            r.value = r.fullScale * 2;
        else if (roll < 15)
            r.value = static_cast<float>(r.lowLimit) * 2;
        else if (roll < 17)
            r.value = std::numeric_limits<float>::quiet_NaN();
        else if (roll < 18)
            r.value = -std::numeric_limits<float>::infinity();
        readings.push_back(r);
    }
    return readings;
}

// The figures the slow way: a group list searched linearly, sums in long double.
RangeStatistics BruteForce(const std::vector<Reading>& readings, uint64_t from, uint64_t to) {
    RangeStatistics result;
    result.from = from;
    result.to = to;
    std::vector<std::vector<std::pair<double, uint64_t>>> values;
    for (uint64_t n = from; n <= to; ++n) {
        const Reading& r = readings[n - 1];
        size_t g = 0;
        while (g < result.groups.size() &&
               (result.groups[g].functionName != r.functionName || result.groups[g].unit != r.unit))
            ++g;
        if (g == result.groups.size()) {
            result.groups.push_back({r.functionName, r.unit});
            values.emplace_back();
        }
        const double v = r.value;
        if (!std::isfinite(v) || v > r.fullScale || v < r.lowLimit)
            ++result.groups[g].overloads;
        else
            values[g].emplace_back(v, n);
    }
    for (size_t g = 0; g < values.size(); ++g) {
        GroupStatistics& group = result.groups[g];
        group.count = values[g].size();
        if (group.count == 0)
            continue;
        long double sum = 0;
        group.min = group.max = values[g][0].first;
        group.minAt = group.maxAt = values[g][0].second;
        for (const auto& [v, n] : values[g]) {
            sum += v;
            if (v < group.min) {
                group.min = v;
                group.minAt = n;
            }
            if (v > group.max) {
                group.max = v;
                group.maxAt = n;
            }
        }
        const long double mean = sum / group.count;
        long double squares = 0;
        for (const auto& [v, n] : values[g])
            squares += (v - mean) * (v - mean);
        group.mean = static_cast<double>(mean);
        group.stddev = group.count > 1 ? static_cast<double>(std::sqrt(squares / (group.count - 1))) : 0.0;
    }
    return result;
}

void ExpectSame(const RangeStatistics& expected, const RangeStatistics& actual, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(actual.from, expected.from);
    EXPECT_EQ(actual.to, expected.to);
    ASSERT_EQ(actual.groups.size(), expected.groups.size());
    for (size_t g = 0; g < expected.groups.size(); ++g) {
        const GroupStatistics& e = expected.groups[g];
        const GroupStatistics& a = actual.groups[g];
        SCOPED_TRACE("group " + std::to_string(g));
        EXPECT_EQ(a.functionName, e.functionName);
        EXPECT_EQ(a.unit, e.unit);
        EXPECT_EQ(a.count, e.count);
        EXPECT_EQ(a.overloads, e.overloads);
        if (e.count == 0)
            continue;
        EXPECT_EQ(a.min, e.min);
        EXPECT_EQ(a.minAt, e.minAt);
        EXPECT_EQ(a.max, e.max);
        EXPECT_EQ(a.maxAt, e.maxAt);
        // Relative to the spread as well as the level: a mean of 1e6 is right to a few ulps of 1e6.
        EXPECT_NEAR(a.mean, e.mean, 1e-14 * (std::fabs(e.mean) + e.stddev) + 1e-300);
        EXPECT_NEAR(a.stddev, e.stddev, 1e-9 * e.stddev + 1e-300);
    }
}

TEST(Statistics, AgreeWithBruteForceOnRandomRecordingsWholeAndInRanges) {
    std::mt19937 random(18);
    struct Case {
        size_t count;
        double level;
        double spread;
    };
    // The last two are the cancellation cases: a level near 1e6 whose readings differ in the last bits
    // of a float, where the sum of squares minus the square of the sum leaves nothing but rounding.
    for (const Case c : {Case{1, 1.5, 0.1}, Case{300, 0.0, 5.0}, Case{5000, 12.0, 0.01},
                         Case{20000, -3.0, 2.0}, Case{3000, 1.0e6, 0.2}, Case{70000, 999999.5, 0.07}}) {
        const std::vector<Reading> readings = RandomReadings(random, c.count, c.level, c.spread);
        const auto document = MakeDocument(readings);
        const DocumentSamples source(*document);
        StatisticsSummary summary;
        for (uint64_t row = 0; row < source.sampleCount(); ++row)
            summary.Append(source.Sample(row));
        const std::string label = std::to_string(c.count) + " readings at " + std::to_string(c.level);

        const RangeStatistics whole = BruteForce(readings, 1, c.count);
        ExpectSame(whole, ComputeStatistics(source, 1, c.count), label + ", two passes");
        ExpectSame(whole, summary.Whole(), label + ", summary");
        ExpectSame(whole, summary.Range(source, 1, c.count), label + ", summary range");

        std::uniform_int_distribution<uint64_t> pick(1, c.count);
        for (int i = 0; i < 40; ++i) {
            uint64_t from = pick(random);
            uint64_t to = pick(random);
            if (from > to)
                std::swap(from, to);
            const RangeStatistics expected = BruteForce(readings, from, to);
            const std::string range = label + ", " + std::to_string(from) + ".." + std::to_string(to);
            ExpectSame(expected, ComputeStatistics(source, from, to), range + ", two passes");
            ExpectSame(expected, summary.Range(source, from, to), range + ", summary");
        }
    }
}

TEST(Statistics, SummaryRangesStartingAndEndingAtEveryBlockEdge) {
    std::mt19937 random(7);
    const std::vector<Reading> readings = RandomReadings(random, 2048 * 3 + 77, 4.0, 1.0);
    const auto document = MakeDocument(readings);
    const DocumentSamples source(*document);
    StatisticsSummary summary;
    for (uint64_t row = 0; row < source.sampleCount(); ++row)
        summary.Append(source.Sample(row));
    // Leaf blocks hold 128 readings, the level above 2048: one either side of every edge.
    for (uint64_t edge : {128u, 256u, 2048u, 4096u, 6144u}) {
        for (uint64_t from : {edge - 1, edge, edge + 1}) {
            for (uint64_t to : {edge + 127, edge + 128, edge + 2048, uint64_t{readings.size()}}) {
                if (to > readings.size())
                    continue;
                ExpectSame(BruteForce(readings, from, to), summary.Range(source, from, to),
                           std::to_string(from) + ".." + std::to_string(to));
            }
        }
    }
}

TEST(Statistics, GroupsOrderExtremesAndOverloadOnlyGroups) {
    const std::vector<Reading> readings = {
        {600.5f, 600, -600, u"VDC", u"V"}, // an overload starts the first group
        {2.0f, 600, -600, u"VDC", u"V"},   {5.0f, 60000, 0, u"OHM", u"kOhm"},
        {1.0f, 600, -600, u"VDC", u"V"},   {1.0f, 600, -600, u"VDC", u"V"}, // the first minimum stays
        {7.0f, 600, -600, u"VDC", u"mV"}, // same function, another unit: a group of its own
        {-7.0f, 6, -6, u"ADC", u"A"},     // below the low limit: -OL
        {3.0f, 600, -600, u"VDC", u"V"},
    };
    const auto document = MakeDocument(readings);
    const RangeStatistics stats = ComputeStatistics(DocumentSamples(*document), 1, readings.size());
    ASSERT_EQ(stats.groups.size(), 4u);
    const GroupStatistics& volts = stats.groups[0];
    EXPECT_EQ(volts.functionName, u"VDC");
    EXPECT_EQ(volts.count, 4u);
    EXPECT_EQ(volts.overloads, 1u);
    EXPECT_EQ(volts.min, 1.0);
    EXPECT_EQ(volts.minAt, 4u);
    EXPECT_EQ(volts.max, 3.0);
    EXPECT_EQ(volts.maxAt, 8u);
    EXPECT_DOUBLE_EQ(volts.mean, 1.75);
    EXPECT_DOUBLE_EQ(volts.stddev, std::sqrt(2.75 / 3));
    EXPECT_EQ(stats.groups[1].functionName, u"OHM");
    EXPECT_EQ(stats.groups[1].count, 1u);
    EXPECT_EQ(stats.groups[1].stddev, 0.0);
    EXPECT_EQ(stats.groups[2].unit, u"mV");
    EXPECT_EQ(stats.groups[3].functionName, u"ADC");
    EXPECT_EQ(stats.groups[3].count, 0u);
    EXPECT_EQ(stats.groups[3].overloads, 1u);

    // Within a range the order is that of first appearance in the range.
    const RangeStatistics tail = ComputeStatistics(DocumentSamples(*document), 3, 8);
    ASSERT_EQ(tail.groups.size(), 4u);
    EXPECT_EQ(tail.groups[0].functionName, u"OHM");
    EXPECT_EQ(tail.groups[1].functionName, u"VDC");
    EXPECT_EQ(tail.groups[1].unit, u"V");

    const std::u16string table = TabSeparated(StatisticsRows(stats, nullptr));
    EXPECT_NE(table.find(u"ADC\tA\t0\t1\t-\t-"), std::u16string::npos) << toUtf8(table);
}

TEST(Statistics, TheTrackerFollowsALiveRecordingAndStartsAgainWithTheNext) {
    RecordingDocument document;
    uint32_t allocated = 0;
    document.BeginLiveStorage(400, allocated);
    double now = 100;
    StatisticsTracker tracker(document, [&] { return now; });
    document.liveActive = true;
    for (int i = 0; i < 300; ++i) {
        now += 0.1;
        document.AppendSample(static_cast<float>(i % 10), 600, -600, u"VDC", u"DC", u"V",
                              u" 01/02/26 10:00:00");
    }
    RangeStatistics whole = tracker.Whole();
    ASSERT_EQ(whole.groups.size(), 1u);
    EXPECT_EQ(whole.groups[0].count, 300u);
    EXPECT_DOUBLE_EQ(whole.groups[0].mean, 4.5);
    ASSERT_TRUE(tracker.readingRate().has_value());
    EXPECT_NEAR(*tracker.readingRate(), 10.0, 1e-9);
    const RangeStatistics part = tracker.Range(11, 20);
    EXPECT_EQ(part.groups[0].minAt, 11u);
    EXPECT_EQ(part.groups[0].maxAt, 20u);

    const uint64_t revision = tracker.revision();
    document.liveActive = false;
    EXPECT_FALSE(tracker.readingRate().has_value());
    // A new recording in the same document: the first sample announces row 0 again.
    document.BeginLiveStorage(400, allocated);
    document.liveActive = true;
    document.AppendSample(42, 600, -600, u"OHM", u"", u"Ohm", u" 01/02/26 10:00:00");
    EXPECT_GT(tracker.revision(), revision);
    whole = tracker.Whole();
    ASSERT_EQ(whole.groups.size(), 1u);
    EXPECT_EQ(whole.groups[0].functionName, u"OHM");
    EXPECT_EQ(whole.groups[0].count, 1u);
}

} // namespace
} // namespace calvora
