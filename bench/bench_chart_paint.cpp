// The chart's full paint at 1920 x 1080 with 20000 and 65535 samples beside the paint of the same chart
// without samples and with 100 (the grid and labels that any recording brings), the trace alone drawn per
// segment and merged, the live update from the 20000th sample, File › Export Chart's three pictures of a
// 20000-sample recording, and the time chart's full paint of one and of three traces of 1,000,000 readings.
#include "chart/chart_layout.h"
#include "chart/chart_trace.h"
#include "chart/gui/chart_picture.h"
#include "chart/gui/chart_view.h"
#include "chart/gui/time_chart_view.h"
#include "chart/live_chart_rules.h"
#include "chart/pixel_raster.h"
#include "chart/time_series.h"
#include "recording/recording_document.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

namespace calvora {
namespace {

void EnsureApplication() {
    static std::unique_ptr<QApplication> application = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "bench_chart_paint";
        static char* argv[] = {name, nullptr};
        return std::make_unique<QApplication>(argc, argv);
    }();
}

// A meter reading drifting slowly with a little noise (smooth), or swinging over a fifth of the scale
// every 17 samples (noisy: a tall pixel column wherever many samples share one).
float Reading(int64_t i, bool noisy = true) {
    const double t = static_cast<double>(i);
    const double drift = 5 + 3 * std::sin(t * 0.002);
    if (!noisy)
        return static_cast<float>(drift + static_cast<double>((i * 7919) % 13) * 0.002);
    return static_cast<float>(drift + 1.5 * std::sin(t * 0.37) + static_cast<double>((i * 7919) % 13) * 0.05);
}

std::unique_ptr<RecordingDocument> Recording(int64_t samples, bool noisy) {
    auto document = std::make_unique<RecordingDocument>();
    ApplyNewChartDefaults(*document);
    document->FillRows(static_cast<uint32_t>(samples));
    for (uint32_t row = 0; row < samples; ++row) {
        document->SetValue(row, 0, Reading(row, noisy), 1000);
        document->SetTexts(row, u"VDC", u"DC", u"V", u" 05/03/17 14:22:10");
    }
    SetLimitsFromSamples(*document);
    return document;
}

void BM_FullPaint(benchmark::State& state) {
    EnsureApplication();
    const bool noisy = state.range(1) != 0;
    auto document = Recording(state.range(0), noisy);
    ChartView view(*document);
    view.resize(1920, 1080);
    QImage image;
    for (auto _ : state) {
        view.OnDraw(image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetLabel(state.range(0) == 0 ? "empty" : (noisy ? "noisy" : "smooth"));
}
BENCHMARK(BM_FullPaint)
    ->Args({0, 0})
    ->Args({100, 0})
    ->Args({20000, 0})
    ->Args({65535, 0})
    ->Args({20000, 1})
    ->Args({65535, 1})
    ->Unit(benchmark::kMillisecond);

// The target in one number: each iteration paints the chart without samples and the chart with them, one
// after the other into the same image, so both see the same machine and the same caches; "added_x_empty" is
// (with - without) / without.
void BM_SamplesAddedOverEmpty(benchmark::State& state) {
    EnsureApplication();
    const bool noisy = state.range(1) != 0;
    auto empty = Recording(0, false);
    auto document = Recording(state.range(0), noisy);
    ChartView emptyView(*empty);
    ChartView view(*document);
    emptyView.resize(1920, 1080);
    view.resize(1920, 1080);
    QImage image;
    using Clock = std::chrono::steady_clock;
    Clock::duration withoutSamples{};
    Clock::duration withSamples{};
    for (auto _ : state) {
        const auto start = Clock::now();
        emptyView.OnDraw(image);
        const auto middle = Clock::now();
        view.OnDraw(image);
        const auto end = Clock::now();
        withoutSamples += middle - start;
        withSamples += end - middle;
        benchmark::DoNotOptimize(image.constBits());
        state.SetIterationTime(std::chrono::duration<double>(end - middle).count());
    }
    const double without = std::chrono::duration<double>(withoutSamples).count();
    const double with = std::chrono::duration<double>(withSamples).count();
    const auto perPaint = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.counters["empty_ms"] = without / perPaint * 1e3;
    state.counters["added_x_empty"] = without > 0 ? (with - without) / without : 0;
    state.SetLabel(noisy ? "noisy" : "smooth");
}
BENCHMARK(BM_SamplesAddedOverEmpty)
    ->Args({20000, 0})
    ->Args({65535, 0})
    ->Args({20000, 1})
    ->Args({65535, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_Trace(benchmark::State& state) {
    EnsureApplication();
    auto document = Recording(state.range(0), true);
    const PlotRect plot = PlotFromClient(1920, 1080);
    LayoutSamples(*document, plot);
    const SampleAxis axis = SampleAxisOf(*document);
    const DrawRange range = VisibleSamples(document->layout, axis, plot);
    const auto drawing = state.range(1) ? TraceDrawing::Merged : TraceDrawing::PerSegment;
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(Qt::white);
    ReleaseWideVectorState();
    for (auto _ : state) {
        TracePicture picture;
        int remembered = 0;
        TraceBuilder(*document, axis, plot, 0, drawing, remembered, picture).AddRange(range);
        PaintTrace(image, picture, 0xFFFF0000, image.rect());
    }
    state.SetLabel(drawing == TraceDrawing::Merged ? "merged" : "per segment");
}
BENCHMARK(BM_Trace)->Args({65535, 0})->Args({65535, 1})->Unit(benchmark::kMillisecond);

// The layout half of the chart's live rules on a scale fixed at 0..10, as the benchmark had it before the
// document announced its samples: the range laid out and the live window follow every sample.
class FixedScaleLiveRules final : public DocumentListener {
public:
    void OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) override {
        document.layout.laidOut = {1, static_cast<int32_t>(document.sampleCount())};
        for (uint32_t n = first + 1; n <= first + count; ++n)
            document.layout.GrowLiveWindow(n);
    }
};

// The live path from the 20000th sample on: each iteration stores one more reading, which the document
// announces to the chart's live rules and then to the chart view (lay out, decide, draw the newest segment),
// as a recording does per reading. Argument 0: the scale fixed at 0..10 (some readings leave it, and the
// chart then waits for a full paint); 1: the chart's own live rules, whose scale the first two readings
// settle.
void BM_AppendLiveSampleAt20000(benchmark::State& state) {
    EnsureApplication();
    constexpr uint32_t kStart = 20000;
    constexpr uint32_t kMore = 2000;
    const bool automatic = state.range(0) != 0;
    RecordingDocument document;
    ApplyNewChartDefaults(document);
    LiveChartRules rules;
    FixedScaleLiveRules fixed;
    DocumentSubscription fixedSubscription;
    if (automatic) {
        rules.Attach(document);
    } else {
        fixedSubscription = document.Subscribe(fixed, ListenerRank::DerivedState);
        document.layout.liveWindow.Start();
        document.settings.axisMin = 0;
        document.settings.axisMax = 10;
    }
    uint32_t allocated = 0;
    document.BeginLiveStorage(kStart + kMore, allocated);
    document.liveActive = true;
    auto append = [&document](float value) {
        document.AppendSample(value, 1000, -1000, u"VDC", u"DC", u"V", u" 05/03/17 14:22:10");
    };
    if (automatic) {
        append(0);
        append(10.5f);
    }
    while (document.sampleCount() < kStart)
        append(Reading(document.sampleCount()));
    ChartView view(document);
    view.resize(1920, 1080);
    view.AppendLiveSample();
    view.grab();
    view.AppendLiveSample(); // the function name is now remembered
    view.grab();
    for (auto _ : state)
        append(Reading(document.sampleCount()));
    state.SetLabel(automatic ? "automatic scale" : "scale 0..10");
}
BENCHMARK(BM_AppendLiveSampleAt20000)->Arg(0)->Arg(1)->Iterations(2000)->Unit(benchmark::kMicrosecond);

// One export to a file, as the command writes it: PNG 1920 x 1080, SVG 1600 x 900, PDF on A4 at 300 dpi. The
// file's size is reported beside the time.
void BM_ExportChart(benchmark::State& state) {
    EnsureApplication();
    const auto format = static_cast<ChartPictureFormat>(state.range(0));
    auto document = Recording(state.range(1), true);
    QTemporaryDir folder;
    const char* names[] = {"chart.png", "chart.svg", "chart.pdf"};
    const QString path = folder.filePath(QString::fromLatin1(names[state.range(0)]));
    const QSize size = format == ChartPictureFormat::Png ? QSize(1920, 1080) : QSize(1600, 900);
    for (auto _ : state) {
        if (!WriteChartPicture(*document, path, format, size))
            state.SkipWithError("the picture was not written");
    }
    state.counters["file_KiB"] = static_cast<double>(QFileInfo(path).size()) / 1024.0;
    state.SetLabel(names[state.range(0)]);
}
BENCHMARK(BM_ExportChart)
    ->Args({0, 20000})
    ->Args({1, 20000})
    ->Args({2, 20000})
    ->Args({1, 65535})
    ->Unit(benchmark::kMillisecond);

// The time chart at 1920 x 1080 showing the whole of `range(0)` series of 1,000,000 readings each, 20 ms
// apart (five and a half hours, as a log of several meters at 50 readings a second holds), each on its own
// scale.
void BM_TimeChartPaint(benchmark::State& state) {
    EnsureApplication();
    constexpr int64_t kReadings = 1'000'000;
    constexpr int64_t kStartMs = 1'796'000'000'000;
    const auto traces = static_cast<size_t>(state.range(0));
    std::vector<VectorTimeSeries> series(traces);
    for (size_t t = 0; t < traces; ++t) {
        for (int64_t i = 0; i < kReadings; ++i)
            series[t].Append(kStartMs + i * 20,
                             Reading(i + static_cast<int64_t>(t) * 7777) * static_cast<float>(t + 1));
    }
    TimeChartView view;
    view.resize(1920, 1080);
    if (traces == 1) {
        view.SetSeries(&series[0]);
        view.SetUnit(QStringLiteral("V"));
    } else {
        std::vector<TimeChartTrace> shown;
        for (size_t t = 0; t < traces; ++t)
            shown.push_back({&series[t], QStringLiteral("Meter %1").arg(t + 1), QStringLiteral("V")});
        view.SetTraces(std::move(shown));
    }
    QImage image(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        view.Render(image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetLabel(traces == 1 ? "one trace" : "three traces");
}
BENCHMARK(BM_TimeChartPaint)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace calvora
