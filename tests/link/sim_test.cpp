// calvora-sim as the tests and the demo use it: a separate process behind a pseudo-terminal, read
// through the real port object.
#include "link/receiver_port.h"
#include "protocol/frame_assembler.h"
#include "protocol/text.h"
#include "tests/link/link_test_support.h"
#include "tests/support/simulator_process.h"
#include "tools/sim/meter_frames.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace calvora::testing {
namespace {

struct Frame {
    uint8_t kind;
    sim::Bytes bytes;
};

// Cuts the four frame kinds out of a byte stream by their markers and lengths.
std::vector<Frame> CutFrames(const sim::Bytes& stream) {
    std::vector<Frame> frames;
    size_t at = 0;
    while (at + 7 <= stream.size()) {
        if (stream[at] != 0x00 || stream[at + 1] != 0xD5 || (stream[at + 2] & 0xF0) != 0xF0) {
            ++at;
            continue;
        }
        const uint8_t kind = stream[at + 2];
        size_t size = kind == 0xF0   ? 12
                      : kind == 0xF1 ? 9
                      : kind == 0xF2 ? 49
                                     : stream[at + 5] * 256u + stream[at + 6] + 9;
        if (at + size > stream.size())
            break;
        frames.push_back({kind, sim::Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                           stream.begin() + static_cast<std::ptrdiff_t>(at + size))});
        at += size;
    }
    return frames;
}

struct SimulatedLine {
    SimulatorProcess simulator;
    std::string path;
    ChunkCollector collector; // outlives the port, whose reader calls it until Close
    ReceiverPort port;

    explicit SimulatedLine(std::vector<std::string> arguments) : simulator(std::move(arguments)) {
        path = simulator.devicePath();
        EXPECT_FALSE(path.empty()) << "calvora-sim printed no device path";
        const PortOutcome<> opened = OpenMeterLine(port, path);
        EXPECT_TRUE(opened) << toUtf8(opened.reason());
        port.SetReceiveCallback(&ChunkCollector::Receive, &collector);
        port.SetChunkSize(kReceiveChunkSize);
    }
};

TEST(Simulator, SendsLiveFramesOfTheChosenReading) {
    SimulatedLine line({"--rate", "40", "--function", "1", "--range", "1", "--offset", "12345", "--hold"});
    ASSERT_TRUE(line.collector.WaitForBytes(4 * sim::kLiveFrameSize, 5000ms));
    const auto frames = CutFrames(line.collector.all());
    ASSERT_GE(frames.size(), 3u);
    for (const auto& frame : frames) {
        ASSERT_EQ(frame.kind, 0xF0);
        EXPECT_EQ(sim::Bytes(frame.bytes.begin() + 5, frame.bytes.begin() + 10),
                  (sim::Bytes{0x30, 0x39, 0x01, 0x01, 0x80}));
    }
}

TEST(Simulator, AnswersThePairRequestInAChunkOfItsOwn) {
    for (const bool ignore : {false, true}) {
        std::vector<std::string> arguments{"--rate", "20"};
        if (ignore)
            arguments.push_back("--ignore-pair");
        SimulatedLine line(arguments);
        ASSERT_TRUE(line.collector.WaitForChunks(1, 5000ms));
        const sim::Bytes request(sim::kPairRequest.begin(), sim::kPairRequest.end());
        ASSERT_TRUE(line.port.Write(request.data(), static_cast<int32_t>(request.size())));

        // The receiving side only recognises an acknowledgement at the start of a chunk.
        auto acknowledged = [&] {
            for (const auto& chunk : line.collector.chunks()) {
                if (chunk.bytes.size() >= 4 && chunk.bytes[0] == 0x05 && chunk.bytes[3] == 0x4C)
                    return true;
            }
            return false;
        };
        EXPECT_EQ(WaitUntil(acknowledged, ignore ? 1000ms : 3000ms), !ignore);
    }
}

TEST(Simulator, StoredLogBurstOnRequest) {
    SimulatedLine line({"--rate", "5", "--burst-gap", "5", "--function", "3", "--range", "2"});
    ASSERT_TRUE(line.simulator.process().Write("log 25\n"));
    // Header, three blocks and two tails.
    ASSERT_TRUE(line.collector.WaitForBytes(9 + 3 * 49 + 2 * 9, 5000ms));
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto frames = CutFrames(line.collector.all());
            return std::count_if(frames.begin(), frames.end(),
                                 [](const Frame& f) { return f.kind == 0xF3; }) == 2;
        },
        3000ms));

    std::vector<Frame> memory;
    for (const auto& frame : CutFrames(line.collector.all())) {
        if (frame.kind != 0xF0)
            memory.push_back(frame);
    }
    ASSERT_EQ(memory.size(), 6u);
    EXPECT_EQ(memory[0].kind, 0xF1);
    EXPECT_EQ(memory[0].bytes[5] * 256 + memory[0].bytes[6], 25);
    const int lengths[] = {40, 40, 20};
    for (int b = 0; b < 3; ++b) {
        const auto& block = memory[1 + static_cast<size_t>(b)];
        EXPECT_EQ(block.kind, 0xF2);
        EXPECT_EQ(block.bytes[3] * 256 + block.bytes[4], b + 1);
        EXPECT_EQ(block.bytes[5] * 256 + block.bytes[6], lengths[b]);
        for (int r = 0; r < lengths[b] / 4; ++r)
            EXPECT_EQ(block.bytes[7 + 4 * r + 3], 0x03)
                << "function byte of record " << r; // RDBC, sub-mode 0
    }
    EXPECT_EQ(memory[4].kind, 0xF3);
    EXPECT_EQ(memory[5].kind, 0xF3);

    // The last tail comes in a chunk of its own: a live marker in the same chunk would cut it away.
    size_t chunksWithTail = 0;
    for (const auto& chunk : line.collector.chunks()) {
        for (size_t i = 0; i + 2 < chunk.bytes.size(); ++i) {
            if (chunk.bytes[i] == 0x00 && chunk.bytes[i + 1] == 0xD5 && chunk.bytes[i + 2] == 0xF3) {
                ++chunksWithTail;
                break;
            }
        }
    }
    EXPECT_EQ(chunksWithTail, 2u);
}

// SIGUSR2 asks for the counts while it runs; they come again on exit. Standard output keeps only
// the device path.
TEST(Simulator, TellsWhatItSentOnRequestAndOnExit) {
    SimulatorProcess simulator({"--rate", "50", "--burst-gap", "5"}, true);
    ASSERT_FALSE(simulator.devicePath().empty());
    ChildProcess& process = simulator.process();
    ASSERT_TRUE(process.Write("log 25\n"));
    SimulatorSent sent;
    // The burst ends with 150 ms of quiet on either side of its last tail; ask until it is out.
    ASSERT_TRUE(WaitFor(
        [&] {
            process.Signal(SIGUSR2);
            return ReadSimulatorSent(process, sent, 1000ms) && sent.storedRecords == 25;
        },
        5000ms));
    const SimulatorSent during = sent;
    EXPECT_GT(during.liveFrames, 0u);

    EXPECT_EQ(process.Stop(SIGTERM), 0);
    ASSERT_TRUE(ReadSimulatorSent(process, sent, 2000ms)) << "no counts on exit";
    EXPECT_GE(sent.liveFrames, during.liveFrames);
    EXPECT_EQ(sent.storedRecords, 25u);

    // A capture reports the same way.
    const auto file =
        std::filesystem::temp_directory_path() / ("calvora-sent-" + std::to_string(getpid()) + ".bin");
    ChildProcess capture(
        {BuildPath("tools/sim/calvora-sim"), "--capture", file.string(), "--count", "7", "--log", "25"},
        true);
    ASSERT_TRUE(ReadSimulatorSent(capture, sent, 5000ms));
    EXPECT_EQ(capture.Wait(5000ms), 0);
    std::filesystem::remove(file);
    EXPECT_EQ(sent.liveFrames, 7u);
    EXPECT_EQ(sent.storedRecords, 25u);
}

TEST(Simulator, ThePortSurvivesTheReceiverGoing) {
    struct Case {
        const char* how;
        std::vector<std::string> arguments;
        int signal; // 0: the simulator unplugs itself
    };
    const Case cases[] = {
        {"unplug", {"--rate", "20", "--unplug-after", "0.5"}, 0},
        {"killed", {"--rate", "20"}, SIGKILL},
    };
    for (const auto& c : cases) {
        SimulatedLine line(c.arguments);
        ASSERT_TRUE(line.collector.WaitForChunks(1, 5000ms)) << c.how;
        if (c.signal)
            line.simulator.process().Stop(c.signal);
        ReaderThread* reader = line.port.readerThread();
        ASSERT_TRUE(reader->WaitExited(3000ms)) << c.how;
        EXPECT_EQ(reader->endReason(), ReaderEnd::HangUp) << c.how;

        const auto start = Clock::now();
        const sim::Bytes request(sim::kPairRequest.begin(), sim::kPairRequest.end());
        EXPECT_FALSE(line.port.Write(request.data(), 6)) << c.how;
        line.port.Close();
        EXPECT_LT(Clock::now() - start, 500ms) << c.how;
    }
}

sim::Bytes Capture(std::vector<std::string> arguments) {
    const auto file =
        std::filesystem::temp_directory_path() / ("calvora-sim-" + std::to_string(getpid()) + ".bin");
    arguments.insert(arguments.begin(), {BuildPath("tools/sim/calvora-sim"), "--capture", file.string()});
    ChildProcess simulator(arguments);
    EXPECT_EQ(simulator.Wait(5000ms), 0) << "the capture did not finish";
    std::ifstream captured(file, std::ios::binary);
    sim::Bytes bytes((std::istreambuf_iterator<char>(captured)), std::istreambuf_iterator<char>());
    std::filesystem::remove(file);
    return bytes;
}

TEST(Simulator, CaptureWritesTheStreamOfCountFrames) {
    const auto plain = Capture({"--count", "5", "--waveform", "ramp", "--seed", "7"});
    ASSERT_EQ(plain.size(), 5 * sim::kLiveFrameSize);
    EXPECT_EQ(CutFrames(plain).size(), 5u);

    const auto withLog = Capture({"--count", "2", "--log", "25"});
    // The quiet around the second tail frame is written as 0xFF filler (32 bytes each side).
    EXPECT_EQ(withLog.size(), 9 + 3 * 49 + 2 * 9 + 2 * 32 + 2 * sim::kLiveFrameSize);
    const auto frames = CutFrames(withLog);
    ASSERT_EQ(frames.size(), 8u);
    EXPECT_EQ(frames[4].kind, 0xF3);
    EXPECT_EQ(frames[5].kind, 0xF3);

    // Faults are seeded: the same seed gives the same stream, and dropping loses bytes.
    const auto faulty = Capture({"--count", "50", "--drop", "0.1", "--garbage", "0.3", "--seed", "11"});
    EXPECT_EQ(faulty, Capture({"--count", "50", "--drop", "0.1", "--garbage", "0.3", "--seed", "11"}));
    EXPECT_NE(faulty.size(), 50 * sim::kLiveFrameSize);
}

// The example of tools/sim/README.md: twenty readings captured back to back decode to twenty.
TEST(Simulator, TheReadmeCaptureDecodesToEveryReading) {
    const auto file =
        std::filesystem::temp_directory_path() / ("calvora-readme-" + std::to_string(getpid()) + ".bin");
    ChildProcess simulator({BuildPath("tools/sim/calvora-sim"), "--capture", file.string(), "--count", "20",
                            "--waveform", "sine", "--amplitude", "2000"});
    ASSERT_EQ(simulator.Wait(5000ms), 0);
    ChildProcess decode({BuildPath("tools/cli/calvora-cli"), "decode", file.string()});
    int readings = 0;
    for (std::string line = decode.ReadLine(5000ms); !line.empty(); line = decode.ReadLine(5000ms))
        readings += line.find(R"("kind":"live")") != std::string::npos;
    EXPECT_EQ(decode.Wait(5000ms), 0);
    std::filesystem::remove(file);
    EXPECT_EQ(readings, 20);
}

TEST(Simulator, ScriptFramesAreReplayedInALoop) {
    const auto script =
        std::filesystem::temp_directory_path() / ("calvora-script-" + std::to_string(getpid()));
    {
        std::ofstream out(script);
        out << "# two readings\n00 D5 F0 11 11 30 39 01 01 00 11 "
               "11\n\n0x00,0xd5,0xf0,0,0,0,5,0x11,1,0x80,0,0\n";
    }
    const auto bytes = Capture({"--count", "3", "--script", script.string()});
    std::filesystem::remove(script);
    const auto frames = CutFrames(bytes);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes[6], 0x39);
    EXPECT_EQ(frames[1].bytes[6], 0x05);
    EXPECT_EQ(frames[1].bytes[9], 0x80);
    EXPECT_EQ(frames[2].bytes, frames[0].bytes);
}

TEST(Simulator, UsageErrorsExitWithTwo) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--range", "8"}, {"--capture", "/tmp/x"}, {"--waveform", "square"}}) {
        std::string command = BuildPath("tools/sim/calvora-sim");
        for (const auto& argument : arguments)
            command += " " + argument;
        command += " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << command;
    }
}

} // namespace
} // namespace calvora::testing
