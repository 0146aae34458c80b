// What the crash journal costs the recording hand-off per sample: Record only serialises the sample
// into memory; the background thread writes and syncs it. The serial line carries at most about 960
// live frames a second (11,520 bytes/s, 12 bytes each), so anything near a microsecond is invisible.
#include "recording/journal.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using calvora::Journal;
using calvora::JournalSample;

std::filesystem::path BenchFolder() {
    return std::filesystem::temp_directory_path() / ("calvora-bench-journal-" + std::to_string(::getpid()));
}

const JournalSample kSample{1.2345f, 6.0f, 0, u"VDC", u"DC", u"V", u" 12/08/26 15:04:05"};

// One sample of a running 20000-sample recording, with the background thread writing and syncing.
void BM_RecordOneSample(benchmark::State& state) {
    Journal journal(BenchFolder());
    uint32_t row = 0;
    for (auto _ : state) {
        if (row == 20000) {
            state.PauseTiming();
            row = 0; // a new recording: a new file
            journal.Record(row++, kSample);
            state.ResumeTiming();
            continue;
        }
        journal.Record(row++, kSample);
    }
    journal.Remove();
    std::filesystem::remove_all(BenchFolder());
}
BENCHMARK(BM_RecordOneSample);

// The background thread's share: one write and sync of a quarter second of samples at 1000 a second.
void BM_SyncQuarterSecond(benchmark::State& state) {
    Journal journal(BenchFolder());
    uint32_t row = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (row > 19000)
            row = 0;
        for (int i = 0; i < 250; ++i)
            journal.Record(row++, kSample);
        state.ResumeTiming();
        benchmark::DoNotOptimize(journal.Sync());
    }
    journal.Remove();
    std::filesystem::remove_all(BenchFolder());
}
BENCHMARK(BM_SyncQuarterSecond)->Unit(benchmark::kMillisecond);

} // namespace
