// Continuous logs at scale: a day at 50 readings a second (4,320,000 readings) opened to its first painted
// chart, and a day of three meters in one file opened likewise, its full paint at 1920 x 1080 whole and
// zoomed beside the empty chart's paint, one scroll step; and logging at the line's maximum (960 readings a
// second) in real time: the share of one core it takes, the file's bytes and the memory held per reading.
//
// The day's log is made once through the logging path itself (ContinuousLog on a clock the benchmark
// drives) and kept in the temporary folder for later runs.
#include "chart/gui/time_chart_view.h"
#include "chart/time_series.h"
#include "logging/continuous_log.h"
#include "logging/log_loader.h"
#include "protocol/reading_decoder.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

namespace calvora {
namespace {

constexpr int64_t kDayReadings = 4'320'000;
constexpr int64_t kStepMs = 20; // 50 readings a second
constexpr int64_t kStartMs = 1'796'000'000'000;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

void EnsureApplication() {
    static std::unique_ptr<QApplication> application = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "bench_log";
        static char* argv[] = {name, nullptr};
        return std::make_unique<QApplication>(argc, argv);
    }();
}

// A reading of the meter in VDC on its 4 V range with `count` as its digits (negative below zero).
MeterReading Reading(int32_t count) {
    const uint32_t magnitude = static_cast<uint32_t>(count < 0 ? -count : count);
    const uint8_t frame[12] = {0x00,
                               0xD5,
                               0xF0,
                               0,
                               0,
                               static_cast<uint8_t>(magnitude >> 8),
                               static_cast<uint8_t>(magnitude),
                               static_cast<uint8_t>(1 | (count < 0 ? 0x10 : 0)),
                               1,
                               0,
                               0,
                               0};
    return DecodeLiveFrame(frame, 12)->reading;
}

// A battery discharging slowly with ripple, and a short spike every 100,000 readings that a min/max
// summary must keep visible at any zoom.
int32_t Count(int64_t i) {
    const double t = static_cast<double>(i);
    double value = 3000 - 800 * t / kDayReadings + 40 * std::sin(t * 0.01) + 7 * std::sin(t * 1.3);
    if (i % 100'000 == 50'000)
        value = 3990;
    return static_cast<int32_t>(value);
}

// The log's memory per reading while it was written (the summary included).
double writtenMemoryPerReading = 0;

std::filesystem::path DayLog() {
    static const std::filesystem::path path = [] {
        const auto file = std::filesystem::temp_directory_path() / "calvora-bench-day-4320000.calvlog";
        std::error_code ignored;
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(std::filesystem::path(file).concat(suffix), ignored);
        auto log = ContinuousLog::Start(file, {}, {{"model", "QM310/QM312"}}, kStartMs);
        if (!log)
            throw std::runtime_error("cannot create the day's log");
        int64_t now = kStartMs;
        for (int64_t i = 0; i < kDayReadings; ++i) {
            now = kStartMs + i * kStepMs;
            log.value()->OnReading(Reading(Count(i)), now);
            if (i % 12'500 == 0)
                log.value()->OnTick(now);
        }
        writtenMemoryPerReading =
            static_cast<double>(log.value()->document().memoryBytes()) / static_cast<double>(kDayReadings);
        if (!log.value()->Finish(now, LogEnd::Stopped))
            throw std::runtime_error("cannot write the day's log");
        return file;
    }();
    return path;
}

// A day of three meters in one file: 40 and 10 readings a second, and one that reads every ten minutes (fewer
// readings than one stored summary bucket holds, so its overview comes from its readings themselves).
std::filesystem::path SeveralMetersDayLog() {
    static const std::filesystem::path path = [] {
        const auto file = std::filesystem::temp_directory_path() / "calvora-bench-day-3-meters.calvlog";
        std::error_code ignored;
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(std::filesystem::path(file).concat(suffix), ignored);
        auto logs = ContinuousLog::StartSeveral(file, {}, {{"model", "QM310/QM312"}},
                                                {{"Fast", "a"}, {"Slow", "b"}, {"Hourly", "c"}}, kStartMs);
        if (!logs)
            throw std::runtime_error("cannot create the log of three meters");
        const int64_t dayMs = kDayReadings * kStepMs;
        int64_t i = 0;
        for (int64_t now = kStartMs; now < kStartMs + dayMs; now += 25, ++i) {
            logs.value()[0]->OnReading(Reading(Count(i)), now);
            if (i % 4 == 0)
                logs.value()[1]->OnReading(Reading(Count(i) / 2), now);
            if (i % 24'000 == 0)
                logs.value()[2]->OnReading(Reading(1000), now);
        }
        for (auto& log : logs.value()) {
            if (!log->Finish(kStartMs + dayMs, LogEnd::Stopped))
                throw std::runtime_error("cannot write the log of three meters");
        }
        return file;
    }();
    return path;
}

// The day's log with its readings loaded, as a viewer holds it.
const std::shared_ptr<LogDocument>& LoadedDay() {
    static const std::shared_ptr<LogDocument> log = [] {
        auto loader = LogLoader::Open(DayLog());
        if (!loader)
            throw std::runtime_error("cannot open the day's log");
        loader.value()->Start({});
        while (!loader.value()->finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!loader.value()->Finish())
            throw std::runtime_error("cannot load the day's log");
        return loader.value()->log();
    }();
    return log;
}

// Opening: the overview (facts, states, gaps, the stored summary) and the first full paint from it.
void BM_OpenToFirstPaint(benchmark::State& state) {
    EnsureApplication();
    const std::filesystem::path path = DayLog();
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        auto loader = LogLoader::Open(path);
        if (!loader) {
            state.SkipWithError("cannot open the log");
            return;
        }
        TimeChartView view;
        view.resize(kWidth, kHeight);
        view.SetSeries(&loader.value()->log()->series());
        view.Render(image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_OpenToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(5);

// The full paint: 0 the empty chart (grid, ticks and labels of the same day, two readings), 1 the whole
// day, 2 zoomed to ten minutes, 3 zoomed to two seconds.
void BM_FullPaint(benchmark::State& state) {
    EnsureApplication();
    const auto& log = LoadedDay();
    VectorTimeSeries bare;
    bare.Append(kStartMs, 3000);
    bare.Append(kStartMs + (kDayReadings - 1) * kStepMs, 2200);
    TimeChartView view;
    view.resize(kWidth, kHeight);
    view.SetSeries(state.range(0) == 0 ? static_cast<const TimeSeries*>(&bare) : &log->series());
    if (state.range(0) >= 2) {
        TimeWindow window = view.window();
        const int64_t span = state.range(0) == 2 ? 600'000 : 2'000;
        window.startMs = kStartMs + 12 * 3'600'000;
        window.endMs = window.startMs + span;
        window.zoomed = true;
        view.SetWindow(window);
    }
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        view.Render(image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_FullPaint)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// One scroll step (a tenth of the window) and the paint that follows, zoomed to an hour.
void BM_ScrollStep(benchmark::State& state) {
    EnsureApplication();
    const auto& log = LoadedDay();
    TimeChartView view;
    view.resize(kWidth, kHeight);
    view.SetSeries(&log->series());
    TimeWindow window = view.window();
    window.startMs = kStartMs + 3'600'000;
    window.endMs = window.startMs + 3'600'000;
    window.zoomed = true;
    view.SetWindow(window);
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    double direction = 0.1;
    int steps = 0;
    for (auto _ : state) {
        // Back and forth across the day, so every step draws readings not drawn before.
        if (++steps % 150 == 0)
            direction = -direction;
        view.ScrollBy(direction);
        view.Render(image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_ScrollStep)->Unit(benchmark::kMillisecond);

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Logging at 960 readings a second in real time for `range(0)` seconds: the process's CPU time over the
// wall time (the writer thread included) as a share of one core, the file's bytes per reading after the
// stop, and the log's memory per reading.
void BM_LogAt960PerSecond(benchmark::State& state) {
    const int seconds = static_cast<int>(state.range(0));
    const auto path = std::filesystem::temp_directory_path() / "calvora-bench-960.calvlog";
    double corePercent = 0;
    double fileBytes = 0;
    double memoryBytes = 0;
    for (auto _ : state) {
        std::error_code ignored;
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(std::filesystem::path(path).concat(suffix), ignored);
        const auto wallStart = std::chrono::steady_clock::now();
        auto log = ContinuousLog::Start(path, {}, {{"model", "QM310/QM312"}}, kStartMs);
        if (!log) {
            state.SkipWithError("cannot create the log");
            return;
        }
        const double cpuStart = ProcessCpuSeconds();
        const int64_t readings = 960LL * seconds;
        int64_t nowMs = kStartMs;
        for (int64_t i = 0; i < readings; ++i) {
            // The reading's due time on the line; the loop sleeps until then, as the receiver paces it.
            const auto due = wallStart + std::chrono::microseconds(i * 1'000'000 / 960);
            std::this_thread::sleep_until(due);
            nowMs = kStartMs + i * 1000 / 960;
            log.value()->OnReading(Reading(Count(i)), nowMs);
            if (i % 240 == 0)
                log.value()->OnTick(nowMs);
        }
        memoryBytes =
            static_cast<double>(log.value()->document().memoryBytes()) / static_cast<double>(readings);
        if (!log.value()->Finish(nowMs, LogEnd::Stopped)) {
            state.SkipWithError("the log could not be written");
            return;
        }
        const double cpu = ProcessCpuSeconds() - cpuStart;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        corePercent = 100 * cpu / wall;
        fileBytes = static_cast<double>(std::filesystem::file_size(path)) / static_cast<double>(readings);
    }
    state.counters["core_percent"] = corePercent;
    state.counters["file_bytes_per_reading"] = fileBytes;
    state.counters["memory_bytes_per_reading"] = memoryBytes;
}
BENCHMARK(BM_LogAt960PerSecond)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);

// Opening a day's log of three meters: the overview of every meter and the first meter's first paint.
void BM_OpenSeveralMetersToFirstPaint(benchmark::State& state) {
    EnsureApplication();
    const std::filesystem::path path = SeveralMetersDayLog();
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    uint64_t readings = 0;
    for (auto _ : state) {
        auto loader = LogLoader::Open(path);
        if (!loader || loader.value()->set().meters.size() != 3) {
            state.SkipWithError("cannot open the log");
            return;
        }
        TimeChartView view;
        view.resize(kWidth, kHeight);
        view.SetSeries(&loader.value()->log()->series());
        view.Render(image);
        benchmark::DoNotOptimize(image.constBits());
        readings = 0;
        for (const LogMeter& meter : loader.value()->set().meters)
            readings += meter.log->expectedCount();
    }
    state.counters["readings"] = static_cast<double>(readings);
    state.counters["file_bytes_per_reading"] = static_cast<double>(std::filesystem::file_size(path)) /
                                               static_cast<double>(std::max<uint64_t>(readings, 1));
}
BENCHMARK(BM_OpenSeveralMetersToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(5);

// The day's log: file bytes, and the memory per reading of the log that wrote it and of a viewer.
void BM_DayLogSize(benchmark::State& state) {
    const auto& log = LoadedDay();
    for (auto _ : state)
        benchmark::DoNotOptimize(log->memoryBytes());
    state.counters["file_bytes_per_reading"] =
        static_cast<double>(std::filesystem::file_size(DayLog())) / static_cast<double>(log->readingCount());
    state.counters["viewer_memory_bytes_per_reading"] =
        static_cast<double>(log->memoryBytes()) / static_cast<double>(log->readingCount());
    state.counters["writer_memory_bytes_per_reading"] = writtenMemoryPerReading;
    state.counters["readings"] = static_cast<double>(log->readingCount());
}
BENCHMARK(BM_DayLogSize)->Iterations(1);

} // namespace
} // namespace calvora
