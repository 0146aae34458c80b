// Throughput of the exports and of reading a csv export back, for a downloaded log's worth of samples
// (65,535) and a million. Run from a Release build:
//   build/release/bench/bench_exports
#include "export/csv_export.h"
#include "export/csv_import.h"
#include "export/jsonl_export.h"
#include "export/xlsx_export.h"
#include "recording/recording_document.h"
#include "recording/text_export.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace calvora {
namespace {

// Counts the bytes and drops them: the exports' own cost without a disk's.
class CountingSink final : public ByteSink {
public:
    bool Write(const uint8_t*, size_t size) override {
        bytes += size;
        return true;
    }
    size_t bytes = 0;
};

// A one-channel recording as the meter gives it: two readings a second, a function change every
// thousand samples, an overload now and then.
RecordingDocument MakeDocument(uint32_t samples) {
    static const char16_t* functions[] = {u"VDC", u"VAC", u"RDBC", u"mA"};
    static const char16_t* units[] = {u"V", u"V", u"K\u03A9", u"mA"};
    RecordingDocument document;
    document.SetChannelCount(1);
    document.FillRows(samples);
    for (uint32_t row = 0; row < samples; ++row) {
        const uint32_t kind = row / 1000 % 4;
        const uint32_t second = row / 2;
        char time[32];
        std::snprintf(time, sizeof time, " %02u/%02u/26 %02u:%02u:%02u", second / 86400 % 12 + 1,
                      second / 3600 % 28 + 1, second / 3600 % 24, second / 60 % 60, second % 60);
        document.SetValue(row, 0, row % 997 == 0 ? 50.0f : static_cast<float>(row % 5000) * 0.0007f, 40.0f);
        document.SetLowLimit(row, -40);
        document.SetTexts(row, functions[kind], kind == 1 ? u"AC" : u"DC", units[kind],
                          std::u16string(time, time + 18));
    }
    return document;
}

const RecordingDocument& Document(uint32_t samples) {
    static RecordingDocument small = MakeDocument(65535);
    static RecordingDocument large = MakeDocument(1'000'000);
    return samples == 65535 ? small : large;
}

template <typename Write> void Export(benchmark::State& state, Write write) {
    const DocumentSamples samples(Document(static_cast<uint32_t>(state.range(0))));
    size_t bytes = 0;
    for (auto _ : state) {
        CountingSink sink;
        if (!write(samples, sink))
            state.SkipWithError("export failed");
        bytes = sink.bytes;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * samples.sampleCount()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_ExportRecorderText(benchmark::State& state) {
    Export(state,
           [](const DocumentSamples& s, ByteSink& sink) { return WriteTextExport(s, AllSamples(s), sink); });
}

void BM_ExportCsv(benchmark::State& state) {
    Export(state,
           [](const DocumentSamples& s, ByteSink& sink) { return WriteCsv(s, AllSamples(s), {}, sink); });
}

void BM_ExportJsonLines(benchmark::State& state) {
    Export(state,
           [](const DocumentSamples& s, ByteSink& sink) { return WriteJsonLines(s, AllSamples(s), sink); });
}

void BM_ExportXlsx(benchmark::State& state) {
    Export(state, [](const DocumentSamples& s, ByteSink& sink) {
        XlsxFile workbook;
        return workbook.Build(s, AllSamples(s)) && workbook.CopyTo(sink);
    });
}

void BM_ImportCsv(benchmark::State& state) {
    const DocumentSamples samples(Document(static_cast<uint32_t>(state.range(0))));
    MemorySink exported;
    WriteCsv(samples, AllSamples(samples), {';', true}, exported);
    const std::string text(exported.bytes.begin(), exported.bytes.end());
    for (auto _ : state) {
        RecordingDocument document;
        if (!ReadCsvExport(text, document))
            state.SkipWithError("import failed");
        benchmark::DoNotOptimize(document.sampleCount());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * samples.sampleCount()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_ExportRecorderText)->Arg(65535)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportCsv)->Arg(65535)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportJsonLines)->Arg(65535)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportXlsx)->Arg(65535)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportCsv)->Arg(65535)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace calvora
