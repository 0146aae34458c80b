// Record file and text export throughput, each beside plain sequential I/O of the same byte count,
// and the memory a loaded one-channel sample holds. Run from a Release build:
//   build/recording-rel/bench/bench_files
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/save.h"
#include "recording/text_export.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <malloc.h>
#include <map>
#include <unistd.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;

const fs::path& BenchFolder() {
    static const fs::path folder = [] {
        fs::path path = fs::temp_directory_path() / ("calvora-bench-files-" + std::to_string(::getpid()));
        fs::create_directories(path);
        std::atexit([] {
            fs::remove_all(fs::temp_directory_path() / ("calvora-bench-files-" + std::to_string(::getpid())));
        });
        return path;
    }();
    return folder;
}

std::u16string TimeText(uint32_t second) {
    const uint32_t day = second / 86400;
    char text[32];
    std::snprintf(text, sizeof text, " %02u/%02u/26 %02u:%02u:%02u", day / 28 % 12 + 1, day % 28 + 1,
                  second / 3600 % 24, second / 60 % 60, second % 60);
    return {text, text + 18};
}

// A one-channel recording as the meter gives it: a few function words, two readings per second
// (or a fresh time text on every sample for the worst case).
RecordingDocument MakeDocument(uint32_t samples, uint32_t samplesPerSecond = 2) {
    static const char16_t* functions[] = {u"VDC", u"VAC", u"OHM", u"ADC"};
    static const char16_t* units[] = {u"V", u"mV", u"k\u03A9", u"A"};
    RecordingDocument document;
    document.SetChannelCount(1);
    document.FillRows(samples);
    for (uint32_t row = 0; row < samples; ++row) {
        const uint32_t kind = row / 1000 % 4;
        document.SetValue(row, 0, static_cast<float>(row % 5000) * 0.001f, 6.0f);
        document.SetLowLimit(row, -6);
        document.SetTexts(row, functions[kind], kind == 1 ? u"AC" : u"DC", units[kind],
                          TimeText(row / samplesPerSecond));
    }
    return document;
}

// Writes to a file descriptor with no sync, like the plain baseline it is compared with.
class FdSink final : public ByteSink {
public:
    explicit FdSink(int fd) : fd_(fd) {}
    bool Write(const uint8_t* data, size_t size) override {
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

private:
    int fd_;
};

int OpenForWriting(const fs::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// The record file of `samples` samples on disk, made once per size.
const fs::path& RecordFile(uint32_t samples) {
    static std::map<uint32_t, fs::path> files;
    auto [it, added] =
        files.try_emplace(samples, BenchFolder() / ("read-" + std::to_string(samples) + ".recorder"));
    if (added) {
        const RecordingDocument document = MakeDocument(samples);
        WriteFileAtomically(it->second, [&](ByteSink& sink) { return WriteRecord(document, sink); });
    }
    return it->second;
}

size_t RecordBytes(const RecordingDocument& document) {
    MemorySink sink;
    WriteRecord(document, sink);
    return sink.bytes.size();
}

size_t ExportBytes(const RecordingDocument& document) {
    MemorySink sink;
    WriteTextExport(document, sink);
    return sink.bytes.size();
}

void PlainWrite(benchmark::State& state, size_t bytes) {
    const std::vector<uint8_t> chunk(64 * 1024, 0x5A);
    const fs::path path = BenchFolder() / "plain.bin";
    for (auto _ : state) {
        const int fd = OpenForWriting(path);
        for (size_t done = 0; done < bytes;) {
            const size_t n = std::min(chunk.size(), bytes - done);
            if (::write(fd, chunk.data(), n) != static_cast<ssize_t>(n))
                state.SkipWithError("write failed");
            done += n;
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_WriteRecord(benchmark::State& state) {
    const RecordingDocument document = MakeDocument(static_cast<uint32_t>(state.range(0)));
    const fs::path path = BenchFolder() / "write.recorder";
    for (auto _ : state) {
        const int fd = OpenForWriting(path);
        FdSink sink(fd);
        if (!WriteRecord(document, sink))
            state.SkipWithError("write failed");
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * RecordBytes(document)));
}

void BM_WriteRecordPlainBaseline(benchmark::State& state) {
    PlainWrite(state, RecordBytes(MakeDocument(static_cast<uint32_t>(state.range(0)))));
}

// What Save does for the record file: temporary file, fsync, rename.
void BM_WriteRecordAtomic(benchmark::State& state) {
    const RecordingDocument document = MakeDocument(static_cast<uint32_t>(state.range(0)));
    const fs::path path = BenchFolder() / "atomic.recorder";
    for (auto _ : state) {
        if (!WriteFileAtomically(path, [&](ByteSink& sink) { return WriteRecord(document, sink); }))
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * RecordBytes(document)));
}

void BM_ReadRecord(benchmark::State& state) {
    const fs::path& path = RecordFile(static_cast<uint32_t>(state.range(0)));
    size_t held = 0;
    size_t heapDelta = 0;
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        RecordingDocument document;
        if (!ReadRecordFile(path, document))
            state.SkipWithError("read failed");
        held = document.memoryBytes();
        heapDelta = mallinfo2().uordblks - before;
        benchmark::DoNotOptimize(document);
    }
    const double samples = static_cast<double>(state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(path)));
    state.counters["held_per_sample"] = static_cast<double>(held) / samples;
    state.counters["heap_per_sample"] = static_cast<double>(heapDelta) / samples;
}

void BM_ReadRecordPlainBaseline(benchmark::State& state) {
    const fs::path& path = RecordFile(static_cast<uint32_t>(state.range(0)));
    const size_t bytes = fs::file_size(path);
    std::vector<uint8_t> buffer(bytes);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        for (size_t done = 0; done < bytes;) {
            const ssize_t n = ::read(fd, buffer.data() + done, bytes - done);
            if (n <= 0) {
                state.SkipWithError("read failed");
                break;
            }
            done += static_cast<size_t>(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_TextExport(benchmark::State& state) {
    const RecordingDocument document = MakeDocument(static_cast<uint32_t>(state.range(0)));
    const fs::path path = BenchFolder() / "export.csv";
    for (auto _ : state) {
        const int fd = OpenForWriting(path);
        FdSink sink(fd);
        if (!WriteTextExport(document, sink))
            state.SkipWithError("write failed");
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * ExportBytes(document)));
}

void BM_TextExportPlainBaseline(benchmark::State& state) {
    PlainWrite(state, ExportBytes(MakeDocument(static_cast<uint32_t>(state.range(0)))));
}

// Memory of a full live recording where every sample has its own time text.
void BM_LoadedMemoryWorstCase(benchmark::State& state) {
    const auto samples = static_cast<uint32_t>(state.range(0));
    const fs::path path = BenchFolder() / "unique-times.recorder";
    {
        const RecordingDocument document = MakeDocument(samples, 1);
        WriteFileAtomically(path, [&](ByteSink& sink) { return WriteRecord(document, sink); });
    }
    size_t held = 0;
    for (auto _ : state) {
        RecordingDocument document;
        ReadRecordFile(path, document);
        held = document.memoryBytes();
    }
    state.counters["held_per_sample"] = static_cast<double>(held) / samples;
}

BENCHMARK(BM_WriteRecord)->Arg(65535)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteRecordPlainBaseline)->Arg(65535)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteRecordAtomic)->Arg(65535)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRecord)->Arg(65535)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRecordPlainBaseline)->Arg(65535)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextExport)->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextExportPlainBaseline)->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadedMemoryWorstCase)->Arg(65535)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace calvora
