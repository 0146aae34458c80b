// calvora-cli decode [--chunk N] [FILE]: feeds a raw received byte stream to the frame assembler in
// chunks, as the reader thread does, and prints one JSON line per event (live reading, memory frame,
// pairing acknowledgement).
#include "protocol/frame_assembler.h"
#include "protocol/hex_text.h"
#include "protocol/reading_decoder.h"
#include "tools/cli/command_registry.h"
#include "tools/cli/json_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace calvora::cli {

namespace {

const char* MemoryType(const uint8_t* frame) {
    switch (frame[2]) {
    case kMemoryHeaderMarker:
        return "header";
    case kMemoryBlockMarker:
        return "block";
    default:
        return "tail";
    }
}

// Prints each event as it is handed on; the command line's stand-in for the main frame.
class JsonLinePrinter final : public FrameSink {
public:
    explicit JsonLinePrinter(std::ostream& out) : out_(out) {}

    void OnLiveFrame(const uint8_t* frame, int length) override {
        if (const auto live = DecodeLiveFrame(frame, length))
            Print(LiveJson(*live));
    }
    void OnMemoryFrame(const uint8_t* frame, int length) override {
        Json line;
        line["kind"] = "memory";
        line["type"] = MemoryType(frame);
        line["length"] = length;
        line["hex"] = ToHexText(frame, static_cast<size_t>(length));
        Print(line);
    }
    void OnPairAcknowledged() override { Print(Json{{"kind", "pair-ack"}}); }

    // Whether anything was printed since the last call.
    bool TakePrinted() { return std::exchange(printed_, false); }

private:
    void Print(const Json& line) {
        out_ << line.dump() << '\n';
        printed_ = true;
    }

    std::ostream& out_;
    bool printed_ = false;
};

// No read from the receiver returns more than the driver's input queue holds.
constexpr int kMaxChunk = 4096;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

int RunDecode(int chunkSize, const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> opened;
    std::FILE* input = stdin;
    const std::string name = path.empty() ? std::string("standard input") : path;
    if (!path.empty()) {
        opened.reset(std::fopen(path.c_str(), "rb"));
        if (!opened) {
            std::cerr << "calvora-cli decode: cannot open " << path << ": " << std::strerror(errno) << '\n';
            return ExitUsage;
        }
        input = opened.get();
    }

    JsonLinePrinter printer(std::cout);
    FrameAssembler assembler(printer);
    assembler.SetLiveFramesEnabled(true);
    std::vector<uint8_t> chunk(static_cast<size_t>(chunkSize));
    for (;;) {
        // fread waits for the whole chunk unless the stream ends, so only the last chunk is short.
        const size_t got = std::fread(chunk.data(), 1, chunk.size(), input);
        if (got > 0) {
            assembler.OnReceive(chunk.data(), static_cast<int>(got));
            // A live pipe (a receiver or the simulator) should show its events as they happen.
            if (printer.TakePrinted())
                std::cout.flush();
        }
        if (got < chunk.size())
            break;
    }
    if (std::ferror(input)) {
        std::cerr << "calvora-cli decode: cannot read " << name << ": " << std::strerror(errno) << '\n';
        return ExitUsage;
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "calvora-cli decode: cannot write the output\n";
        return ExitFailure;
    }
    return ExitOk;
}

const bool registered = registerCommand({
    "decode",
    "Decode a raw received byte stream into JSON lines (live readings, memory frames, pairing)",
    10,
    [](CLI::App& sub) -> CommandRunner {
        auto chunkSize = std::make_shared<int>(kReceiveChunkSize);
        auto path = std::make_shared<std::string>();
        sub.add_option("--chunk", *chunkSize,
                       "Bytes per chunk handed to the frame assembler, 1 to 4096 (default 19)")
            ->check(CLI::Range(1, kMaxChunk));
        sub.add_option("FILE", *path, "Raw received bytes (standard input when omitted)");
        return [chunkSize, path] { return RunDecode(*chunkSize, *path); };
    },
});

} // namespace

} // namespace calvora::cli
