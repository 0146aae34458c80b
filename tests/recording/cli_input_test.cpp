// Runs the real calvora-cli on captures and special files: what record and download accept as input,
// how a recording that falls short ends, and which option values are bad usage.
#include "protocol/frame_builder.h"
#include "recording/journal.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "tests/hardening/hardening_support.h"
#include "tests/recording/file_bytes.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Bytes;
using testing::ChildProcess;
using testing::ScratchFolder;
using testing::SimulatorProcess;
using testing::WaitFor;

constexpr size_t kChunk = 19; // what the replay hands on at a time

// `count` live readings of 1.0000 + i counts, each padded to one replay chunk so that every reading is
// handed on where it arrives.
Bytes Capture(int count) {
    Bytes bytes;
    for (int i = 0; i < count; ++i) {
        const auto frame = testing::LiveFrame(static_cast<uint16_t>(10000 + i));
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        bytes.resize(bytes.size() + kChunk - frame.size(), 0x11);
    }
    return bytes;
}

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class CliInputTest : public ::testing::Test {
protected:
    CliInputTest() {
        // The journal and the settings of these runs stay in the scratch folder.
        ::setenv("XDG_STATE_HOME", folder_.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1);
    }

    fs::path Put(const std::string& name, const Bytes& bytes) {
        std::ofstream(folder_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return folder_ / name;
    }

    CliRun Cli(const std::string& arguments) {
        // Killed after a bound: an input read without end must fail the test, not hang it.
        const std::string command = "timeout -s KILL 20 '" + testing::BuildPath("tools/cli/calvora-cli") +
                                    "' " + arguments + " >'" + (folder_ / "out").string() + "' 2>'" +
                                    (folder_ / "err").string() + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Contents(folder_ / "out"),
                Contents(folder_ / "err")};
    }

    // Samples in BASE.recorder; -1 when it is missing or unreadable.
    int SavedSamples(const std::string& base) const {
        RecordingDocument document;
        if (!ReadRecordFile(folder_ / (base + ".recorder"), document))
            return -1;
        return static_cast<int>(document.sampleCount());
    }

    std::string Quoted(const fs::path& path) const { return "'" + path.string() + "'"; }

    ScratchFolder folder_;
};

// Exit 0 only when the planned count was reached; a short recording is saved, says how far it got and
// why, and exits 1.
TEST_F(CliInputTest, ARecordingThatFallsShortIsSavedAndSaysSo) {
    struct Case {
        int readings;
        int planned;
        int exitCode;
        std::string err;
        int saved; // samples in the file, -1 for none
    };
    const Case cases[] = {
        {5, 5, 0, "", 5},
        {1, 1, 0, "", 1},
        {8, 5, 0, "", 5},
        {3, 5, 1, "calvora-cli: stopped after 3 of 5 samples: end of input\n", 3},
        {0, 5, 1,
         "calvora-cli: stopped after 0 of 5 samples: end of input\ncalvora-cli: no reading was recorded\n",
         -1},
    };
    for (const Case& c : cases) {
        const std::string base = "run-" + std::to_string(c.readings) + "-of-" + std::to_string(c.planned);
        SCOPED_TRACE(base);
        Bytes capture = Capture(c.readings);
        capture.resize(capture.size() + 40, 0x11); // a trailing fragment without a frame
        const fs::path input = Put(base + ".bin", capture);
        const CliRun run = Cli("record --input " + Quoted(input) + " --samples " + std::to_string(c.planned) +
                               " --out " + Quoted(folder_ / base));
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(SavedSamples(base), c.saved);
        if (c.saved > 0) {
            EXPECT_EQ(run.out, (folder_ / (base + ".recorder")).string() + "\n" +
                                   (folder_ / (base + ".csv")).string() + "\n");
        }
    }
}

TEST_F(CliInputTest, OnlyARegularFileOrAFifoIsTakenAsInput) {
    fs::create_directory(folder_ / "folder");
    struct Case {
        std::string input;
        std::string reason;
    };
    const Case cases[] = {
        {(folder_ / "folder").string(), "Is a directory"},
        {"/dev/zero", "not a regular file or a FIFO"},
        {"/dev/null", "not a regular file or a FIFO"},
        {(folder_ / "missing.bin").string(), "No such file or directory"},
    };
    for (const Case& c : cases) {
        for (const std::string command : {"record --samples 3", "download"}) {
            SCOPED_TRACE(command + " " + c.input);
            const CliRun run =
                Cli(command + " --input " + Quoted(c.input) + " --out " + Quoted(folder_ / "x"));
            EXPECT_EQ(run.exitCode, 2);
            EXPECT_EQ(run.err, "calvora-cli: cannot read " + c.input + ": " + c.reason + "\n");
            EXPECT_FALSE(fs::exists(folder_ / "x.recorder"));
        }
    }
}

// A FIFO is read as it fills; Ctrl+C ends the wait for more, and what came is saved.
TEST_F(CliInputTest, CtrlCWhileAFifoIsOpenSavesWhatCameAndSaysSo) {
    const fs::path fifo = folder_ / "capture";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ChildProcess cli({testing::BuildPath("tools/cli/calvora-cli"), "record", "--input", fifo.string(),
                      "--samples", "50", "--out", (folder_ / "fifo").string()},
                     true);
    ASSERT_TRUE(cli.running());
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC); // waits for the reader
    ASSERT_GE(writer, 0);
    const Bytes capture = Capture(4);
    ASSERT_EQ(::write(writer, capture.data(), capture.size()), static_cast<ssize_t>(capture.size()));
    // The journal shows when the four samples are in.
    ASSERT_TRUE(WaitFor(
        [&] {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(folder_ / "calvora", error)) {
                if (entry.path().extension() != ".journal")
                    continue;
                if (const auto recovered = RecoverJournal(entry.path());
                    recovered && recovered.value().sampleCount() == 4)
                    return true;
            }
            return false;
        },
        5000ms));
    EXPECT_EQ(cli.Stop(SIGINT), 1);
    ::close(writer);
    std::string lines;
    for (std::string line = cli.ReadLine(2000ms); !line.empty(); line = cli.ReadLine(500ms))
        lines += line + "\n";
    EXPECT_NE(lines.find("calvora-cli: stopped after 4 of 50 samples: interrupted\n"), std::string::npos)
        << lines;
    EXPECT_EQ(SavedSamples("fifo"), 4);
}

TEST_F(CliInputTest, OutOfRangePortsAndTimeoutsAreBadUsage) {
    Bytes bytes = testing::Burst(5);
    bytes.resize(bytes.size() + 2 * kChunk, 0x11); // the last tail is handed on with a later chunk
    const fs::path burst = Put("burst.bin", bytes);
    const std::string input = " --input " + Quoted(burst) + " --out " + Quoted(folder_ / "log");
    const std::string bad[] = {
        "record --port 0 --samples 1",
        "record --port 256 --samples 1",
        "download --port 00",
        "pair --port 99999999999999999999",
        "pair --port 4294967301", // 2^32 + 5: wrapped, it would be COM5
        "monitor --port 0",
        "download" + input + " --timeout 0",
        "download" + input + " --timeout -1",
        "download" + input + " --timeout nan",
        "download" + input + " --timeout inf",
        "download" + input + " --timeout 1e10",
        "download" + input + " --timeout 86400.5",
    };
    for (const std::string& arguments : bad) {
        SCOPED_TRACE(arguments);
        const CliRun run = Cli(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_FALSE(run.err.empty());
        EXPECT_FALSE(fs::exists(folder_ / "log.recorder"));
    }
    for (const char* timeout : {"86400", "0.001"}) {
        SCOPED_TRACE(timeout);
        EXPECT_EQ(Cli("download" + input + " --timeout " + timeout).exitCode, 0);
        EXPECT_EQ(SavedSamples("log"), 5);
    }
}

// A recording's texts cannot drive the terminal: escape sequences, carriage returns, bells and C1
// controls are shown as escapes; JSON escapes them by itself.
TEST_F(CliInputTest, InfoShowsControlCharactersFromAFileAsEscapes) {
    const auto file = test::FileBytes()
                          .model()
                          .Header(1, 1)
                          .F32(1)
                          .F32(4)
                          .Wide(u"\x1b]0;owned\x07VDC")
                          .Wide(u"DC\r\x1b[2J")
                          .Wide(u"V\x9b"
                                "1m\\")
                          .Wide(std::u16string(u" 12/07/26 22:05:20") + u'\0' + u"\x7f")
                          .U32(static_cast<uint32_t>(-4))
                          .DefaultChannel()
                          .DefaultChartTrailer()
                          .bytes;
    const fs::path path = Put("titled.recorder", file);
    const CliRun run = Cli("info " + Quoted(path));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("First:     1: \\x1b]0;owned\\x07VDC DC\\x0d\\x1b[2J 1.0000 V\\u009b1m\\\\, "
                           "12/07/26 22:05:20\\x00\\x7f\n"),
              std::string::npos)
        << run.out;
    for (const char c : run.out)
        EXPECT_FALSE((c >= 0 && c < 0x20 && c != '\n') || c == 0x7F) << "control byte " << int{c};
    EXPECT_EQ(run.out.find("\xC2\x9B"), std::string::npos) << "no C1 control in UTF-8 either";

    const CliRun json = Cli("info --json " + Quoted(path));
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find(R"("functionName":"\u001b]0;owned\u0007VDC")"), std::string::npos) << json.out;
}

// Another program holding the receiver is named as the reason.
TEST_F(CliInputTest, APortInUseSaysSo) {
    SimulatorProcess simulator({"--rate", "5"});
    ASSERT_FALSE(simulator.devicePath().empty());
    const int held = ::open(simulator.devicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const CliRun run =
        Cli("record --port " + simulator.devicePath() + " --samples 1 --out " + Quoted(folder_ / "x"));
    ::close(held);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Device or resource busy"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Another program"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(folder_ / "x.recorder"));
}

} // namespace
} // namespace calvora
