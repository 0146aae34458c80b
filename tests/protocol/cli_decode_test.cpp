// calvora-cli decode run as a process on small captures.
#include "protocol/frame_builder.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace calvora {
namespace {

using Bytes = std::vector<uint8_t>;

struct CliRun {
    int exitCode = -1;
    std::vector<std::string> lines;
    std::string errors;
};

std::string Cli() {
    if (const char* dir = std::getenv("CALVORA_BUILD_DIR"))
        return std::string(dir) + "/tools/cli/calvora-cli";
    // Run by hand: this executable sits in <build>/tests/protocol.
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "../../tools/cli/calvora-cli")
        .string();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "calvora_cli_decode_" + std::to_string(::getpid()) + "_" + name;
}

std::string WriteCapture(const std::string& name, const Bytes& bytes) {
    const std::string path = TempPath(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Appends only: GCC 12 at -O3 warns falsely (-Wrestrict) about a literal + std::string.
std::string Quoted(const std::string& text) {
    std::string quoted(1, '\'');
    quoted.append(text).push_back('\'');
    return quoted;
}

// `arguments` go through the shell as they stand.
CliRun RunDecode(const std::string& arguments) {
    const std::string out = TempPath("stdout"), err = TempPath("stderr");
    const std::string command =
        Quoted(Cli()) + " decode " + arguments + " >" + Quoted(out) + " 2>" + Quoted(err);
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(ReadAll(out));
    for (std::string line; std::getline(lines, line);)
        run.lines.push_back(line);
    run.errors = ReadAll(err);
    return run;
}

void Append(Bytes& to, const Bytes& part) {
    to.insert(to.end(), part.begin(), part.end());
}
void Append(Bytes& to, const std::array<uint8_t, 12>& part) {
    to.insert(to.end(), part.begin(), part.end());
}

const char* const kVdcLine =
    R"({"kind":"live","functionCode":1,"functionName":"VDC","mode":"DC","unit":"V","divisor":10000,"raw":12345,)"
    R"("value":1.2345,"fullScale":4,"lowLimit":-4,"shortScale":false,"barSegments":12,"autoRange":true,)"
    R"("hold":false,"peak":false,"acPlusDc":false,"displayText":"1.2345","panel":{"mode":"DC","trms":"",)"
    R"("unit":"V","value":"1.2345","auto":"AUTO","bar":"| l l l l | l l l l | l l","hold":"","peak":"",)"
    R"("scale":"0       .      10       .      20       .      30      .      40"},)"
    R"("shown":{"mode":true,"trms":false,"beep":false,"diode":false}})";

const char* const kTempLine =
    R"({"kind":"live","functionCode":4,"functionName":"Temp","mode":"TK","unit":"C","divisor":10,"raw":-510,)"
    R"("value":-51,"fullScale":1200,"lowLimit":-50,"shortScale":false,"barSegments":0,"autoRange":false,)"
    R"("hold":true,"peak":true,"acPlusDc":false,"displayText":"-OL","panel":{"mode":"TK","trms":"",)"
    R"("unit":"C","value":"-OL","auto":"","bar":"","hold":"HOLD","peak":"PEAK","scale":""},)"
    R"("shown":{"mode":false,"trms":false,"beep":false,"diode":false}})";

const char* const kOhmLine =
    R"({"kind":"live","functionCode":3,"functionName":"RDBC","mode":"R","unit":"K\u03A9","divisor":10000,)"
    R"("raw":1,"value":0.0001,"fullScale":4,"lowLimit":0,"shortScale":false,"barSegments":0,"autoRange":true,)"
    R"("hold":false,"peak":false,"acPlusDc":false,"displayText":"0.0001","panel":{"mode":"R","trms":"",)"
    R"("unit":"K\u03A9","value":"0.0001","auto":"AUTO","bar":"|","hold":"","peak":"",)"
    R"("scale":"0       .      10       .      20       .      30      .      40"},)"
    R"("shown":{"mode":false,"trms":false,"beep":false,"diode":false}})";

std::string Utf8Omega(std::string line) {
    const std::string escaped = "\\u03A9";
    for (size_t at; (at = line.find(escaped)) != std::string::npos;)
        line.replace(at, escaped.size(), "\xCE\xA9");
    return line;
}

// Frames separated by 40 bytes of noise, the acknowledgement at offset 380 (a multiple of 19).
Bytes SmallCapture() {
    const Bytes gap(40, 0x77);
    Bytes capture = gap;
    Append(capture, MakeLiveFrame(12345, 0x01, 0x01, 0x00));
    Append(capture, gap);
    Append(capture, MakeMemoryHeader(25));
    Append(capture, gap);
    Append(capture, MakeMemoryTail(2, {0x30, 0x39, 0x01}));
    Append(capture, gap);
    Append(capture, MakeLiveFrame(510, 0x10, 0x04, 0xB0));
    Append(capture, gap);
    Append(capture, MakeLiveFrame(1, 0x01, 0x03, 0x00));
    capture.resize(380, 0x77);
    Append(capture, Bytes{0x05, 0x00, 0x00, 0x4C});
    Append(capture, gap);
    return capture;
}

TEST(CliDecode, PrintsOneJsonLinePerEvent) {
    const std::string capture = WriteCapture("small.bin", SmallCapture());
    const std::vector<std::string> expected = {
        kVdcLine,
        R"({"kind":"memory","type":"header","length":9,"hex":"00d5f1000000190000"})",
        R"({"kind":"memory","type":"tail","length":12,"hex":"00d5f3000200033039010000"})",
        kTempLine,
        Utf8Omega(kOhmLine),
        R"({"kind":"pair-ack"})",
    };
    const CliRun fromStdin = RunDecode(std::string("< ") + Quoted(capture));
    EXPECT_EQ(fromStdin.exitCode, 0) << fromStdin.errors;
    EXPECT_EQ(fromStdin.lines, expected);

    // Chunks of 7 never start at the acknowledgement; everything else is the same.
    const CliRun fromFile = RunDecode(std::string("--chunk 7 ") + Quoted(capture));
    EXPECT_EQ(fromFile.exitCode, 0) << fromFile.errors;
    EXPECT_EQ(fromFile.lines, std::vector<std::string>(expected.begin(), expected.end() - 1));
}

// Twenty readings without the meter's pauses between them, as calvora-sim --capture writes them.
TEST(CliDecode, ABackToBackCaptureDecodesEveryReadingAtAnyChunkSize) {
    Bytes capture;
    for (int i = 0; i < 20; ++i)
        Append(capture, MakeLiveFrame(static_cast<uint16_t>(100 + i), 0x01, 0x01, 0x00));
    const std::string path = WriteCapture("back-to-back.bin", capture);
    for (const char* chunk : {"1", "5", "19", "25", "64", "4096"}) {
        SCOPED_TRACE(std::string("--chunk ") + chunk);
        const CliRun run = RunDecode(std::string("--chunk ") + chunk + " " + Quoted(path));
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        ASSERT_EQ(run.lines.size(), 20u);
        for (int i = 0; i < 20; ++i)
            EXPECT_NE(run.lines[i].find("\"raw\":" + std::to_string(100 + i) + ","), std::string::npos)
                << run.lines[i];
    }
}

TEST(CliDecode, BadUsageAndUnreadableInputExitWithTwo) {
    const std::string capture = WriteCapture("usage.bin", SmallCapture());
    const std::string cases[] = {
        std::string("--chunk 0 ") + Quoted(capture),
        std::string("--chunk -3 ") + Quoted(capture),
        std::string("--chunk 4097 ") + Quoted(capture), // more than the driver's input queue
        std::string("--chunk many ") + Quoted(capture),
        Quoted(TempPath("missing.bin")),
        Quoted(::testing::TempDir()), // a directory
        Quoted(capture) + " extra",
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments);
        const CliRun run = RunDecode(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.lines.empty());
        EXPECT_FALSE(run.errors.empty());
        if (arguments.rfind("--chunk", 0) == 0) {
            EXPECT_NE(run.errors.find("--chunk"), std::string::npos) << run.errors;
        }
    }
}

} // namespace
} // namespace calvora
