// Statistics of a long log: a range's figures from the summary (the target is 10 ms for any range of a
// 4,320,000-reading log, fifty days at one reading a second), the cost of one appended reading, and the
// rescan the summary saves. Run from a Release build:
//   build/release/bench/bench_statistics
#include "measure/statistics.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace calvora {
namespace {

constexpr uint64_t kLogReadings = 4'320'000;

// A log held as plain columns, as a continuous log's reader would hand its readings on: the function
// switches every few hours, a reading in a thousand is an overload.
class LogColumns final : public SampleSource {
public:
    explicit LogColumns(uint64_t count) {
        std::mt19937 random(18);
        std::normal_distribution<float> noise(0.0f, 0.002f);
        values_.reserve(count);
        kinds_.reserve(count);
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t kind = static_cast<uint8_t>(i / 10'800 % 3);
            values_.push_back(i % 1000 == 999 ? 1.0e9f : 230.0f + static_cast<float>(kind) + noise(random));
            kinds_.push_back(kind);
        }
    }
    uint64_t sampleCount() const override { return values_.size(); }
    SampleView Sample(uint64_t row) const override {
        static const std::u16string functions[] = {u"VAC", u"VDC", u"ADC"};
        static const std::u16string units[] = {u"V", u"V", u"A"};
        const uint8_t kind = kinds_[row];
        return {values_[row], 600.0f, -600, functions[kind], u"", units[kind], u""};
    }
    std::u16string name() const override { return u"log"; }

private:
    std::vector<float> values_;
    std::vector<uint8_t> kinds_;
};

const LogColumns& Log() {
    static const LogColumns log(kLogReadings);
    return log;
}

const StatisticsSummary& Summary() {
    static const StatisticsSummary summary = [] {
        StatisticsSummary made;
        for (uint64_t row = 0; row < Log().sampleCount(); ++row)
            made.Append(Log().Sample(row));
        return made;
    }();
    return summary;
}

// Ranges of every length, starting anywhere (a reproducible sequence).
void BM_RangeFromSummary(benchmark::State& state) {
    const StatisticsSummary& summary = Summary();
    std::mt19937_64 random(4);
    std::uniform_int_distribution<uint64_t> pick(1, kLogReadings);
    for (auto _ : state) {
        uint64_t from = pick(random);
        uint64_t to = pick(random);
        if (from > to)
            std::swap(from, to);
        benchmark::DoNotOptimize(summary.Range(Log(), from, to));
    }
    state.counters["summary_MiB"] = static_cast<double>(summary.memoryBytes()) / (1 << 20);
}
BENCHMARK(BM_RangeFromSummary)->Unit(benchmark::kMicrosecond);

// The most readings read one by one: both ends one short of a block edge at every level.
void BM_RangeWorstCase(benchmark::State& state) {
    const StatisticsSummary& summary = Summary();
    for (auto _ : state)
        benchmark::DoNotOptimize(summary.Range(Log(), 2, kLogReadings - 1));
}
BENCHMARK(BM_RangeWorstCase)->Unit(benchmark::kMicrosecond);

void BM_WholeFromSummary(benchmark::State& state) {
    const StatisticsSummary& summary = Summary();
    for (auto _ : state)
        benchmark::DoNotOptimize(summary.Whole());
}
BENCHMARK(BM_WholeFromSummary)->Unit(benchmark::kMicrosecond);

// One reading appended, averaged over a whole log's worth.
void BM_AppendReading(benchmark::State& state) {
    const LogColumns& log = Log();
    StatisticsSummary summary;
    uint64_t row = 0;
    for (auto _ : state) {
        if (row == kLogReadings) {
            state.PauseTiming();
            summary.Clear();
            row = 0;
            state.ResumeTiming();
        }
        summary.Append(log.Sample(row++));
    }
}
BENCHMARK(BM_AppendReading);

// What a range costs without the summary: both passes over the whole log.
void BM_TwoPassRescan(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(ComputeStatistics(Log(), 1, kLogReadings));
}
BENCHMARK(BM_TwoPassRescan)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace calvora
