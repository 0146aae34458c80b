// Frame assembly and decoding of a long mixed capture, fed in the reader's chunks.
// The serial line carries at most 11,520 bytes/s; the pipeline must keep up with 1000 times that.
#include "protocol/frame_assembler.h"
#include "protocol/frame_builder.h"
#include "protocol/meter_tables.h"
#include "protocol/reading_decoder.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

using calvora::FrameAssembler;
using Bytes = std::vector<uint8_t>;

void Append(Bytes& to, const uint8_t* bytes, size_t count) {
    to.insert(to.end(), bytes, bytes + count);
}
void Append(Bytes& to, const Bytes& part) {
    Append(to, part.data(), part.size());
}

// Live readings across the functions, a little line noise, and now and then a stored-log burst
// (header, three blocks, two tails) and a pairing acknowledgement.
Bytes MixedCapture(size_t minimumSize) {
    struct Setting {
        uint8_t rangeByte, functionByte, status;
    };
    const Setting settings[] = {{0x01, 0x01, 0x00}, {0x04, 0x00, 0x20}, {0x91, 0x01, 0x80},
                                {0x02, 0x03, 0x00}, {0x00, 0x13, 0x20}, {0x00, 0x04, 0x00},
                                {0x07, 0x02, 0x10}, {0x00, 0x07, 0x00}, {0x03, 0x12, 0x00},
                                {0x01, 0x06, 0x00}, {0x00, 0x15, 0x00}, {0x00, 0x09, 0xB0}};
    const uint8_t noise[] = {0x77, 0x3A, 0x9C};
    const uint8_t ack[] = {0x05, 0x4C, 0x4B, 0x4C, 0x00, 0x00};
    Bytes records(100);
    for (size_t i = 0; i < records.size(); i += 4) {
        records[i] = 0x30;
        records[i + 1] = static_cast<uint8_t>(i);
        records[i + 2] = 0x01;
        records[i + 3] = 0x01;
    }
    Bytes capture;
    uint16_t magnitude = 0;
    for (unsigned round = 0; capture.size() < minimumSize; ++round) {
        for (const auto& s : settings) {
            magnitude = static_cast<uint16_t>(magnitude * 31 + 977);
            const auto frame =
                calvora::MakeLiveFrame(magnitude % 40000, s.rangeByte, s.functionByte, s.status);
            Append(capture, frame.data(), frame.size());
        }
        Append(capture, noise, sizeof noise);
        if (round % 8 == 0) {
            Append(capture, calvora::MakeMemoryHeader(25));
            Append(capture, calvora::MakeMemoryBlock(1, Bytes(records.begin(), records.begin() + 40)));
            Append(capture, calvora::MakeMemoryBlock(2, Bytes(records.begin() + 40, records.begin() + 80)));
            Append(capture, calvora::MakeMemoryBlock(3, Bytes(records.begin() + 80, records.end())));
            Append(capture, calvora::MakeMemoryTail(4, {}));
            Append(capture, calvora::MakeMemoryTail(4, {}));
        }
        if (round % 64 == 0)
            Append(capture, ack, sizeof ack);
    }
    return capture;
}

// Decodes what it is handed, as the desktop program's user-interface side does.
class DecodingSink : public calvora::FrameSink {
public:
    void OnLiveFrame(const uint8_t* frame, int length) override {
        const auto live = calvora::DecodeLiveFrame(frame, length);
        benchmark::DoNotOptimize(live);
        ++frames;
    }
    void OnMemoryFrame(const uint8_t* frame, int length) override {
        const int payload = frame[2] == calvora::kMemoryHeaderMarker ? 0 : frame[5] * 256 + frame[6];
        for (int at = 7; at + 4 <= 7 + payload && at + 4 <= length; at += 4) {
            const auto stored = calvora::DecodeStoredReading(frame + at);
            benchmark::DoNotOptimize(stored);
        }
        ++frames;
    }
    void OnPairAcknowledged() override { ++frames; }

    int64_t frames = 0;
};

class CountingSink : public calvora::FrameSink {
public:
    void OnLiveFrame(const uint8_t*, int) override { ++frames; }
    void OnMemoryFrame(const uint8_t*, int) override { ++frames; }
    void OnPairAcknowledged() override { ++frames; }
    int64_t frames = 0;
};

template <typename Sink> void FeedCapture(benchmark::State& state) {
    const Bytes capture = MixedCapture(1 << 20);
    const size_t chunk = static_cast<size_t>(state.range(0));
    int64_t frames = 0;
    for (auto _ : state) {
        Sink sink;
        FrameAssembler assembler(sink);
        assembler.SetLiveFramesEnabled(true);
        for (size_t at = 0; at < capture.size(); at += chunk) {
            const size_t length = std::min(chunk, capture.size() - at);
            assembler.OnReceive(capture.data() + at, static_cast<int>(length));
        }
        frames += sink.frames;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(capture.size()));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    // How many serial lines at full speed one core keeps up with.
    state.counters["x line rate"] = benchmark::Counter(static_cast<double>(capture.size()) *
                                                           static_cast<double>(state.iterations()) / 11520.0,
                                                       benchmark::Counter::kIsRate);
}

void BM_AssembleAndDecode(benchmark::State& state) {
    FeedCapture<DecodingSink>(state);
}
void BM_AssembleOnly(benchmark::State& state) {
    FeedCapture<CountingSink>(state);
}

// The meter's own pace: each read returns one live frame after the radio's pause, so every chunk
// holds exactly one whole frame. Reported per chunk.
void BM_OneFramePerChunk(benchmark::State& state) {
    std::vector<Bytes> chunks;
    for (uint16_t i = 0; i < 1024; ++i) {
        const auto frame = calvora::MakeLiveFrame(static_cast<uint16_t>(i * 37 % 40000), 0x01, 0x01, 0x00);
        chunks.emplace_back(frame.begin(), frame.end());
    }
    CountingSink sink;
    FrameAssembler assembler(sink);
    assembler.SetLiveFramesEnabled(true);
    size_t next = 0;
    for (auto _ : state) {
        const Bytes& chunk = chunks[next];
        next = (next + 1) % chunks.size();
        assembler.OnReceive(chunk.data(), static_cast<int>(chunk.size()));
    }
    if (sink.frames != static_cast<int64_t>(state.iterations()))
        state.SkipWithError("a chunk did not hand on its frame");
    state.counters["chunks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DecodeLiveFrame(benchmark::State& state) {
    const auto frame = calvora::MakeLiveFrame(12345, 0x01, 0x01, 0x00);
    for (auto _ : state) {
        auto live = calvora::DecodeLiveFrame(frame.data(), static_cast<int>(frame.size()));
        benchmark::DoNotOptimize(live);
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_AssembleAndDecode)->Arg(calvora::kReceiveChunkSize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AssembleOnly)->Arg(calvora::kReceiveChunkSize)->Arg(1)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneFramePerChunk);
BENCHMARK(BM_DecodeLiveFrame);
