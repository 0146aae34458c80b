// Runs the real calvora-cli on files built from the byte layout.
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/text_export.h"
#include "tests/recording/file_bytes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;
using test::FileBytes;

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class CliFilesTest : public testing::Test {
protected:
    void SetUp() override {
        const char* build = std::getenv("CALVORA_BUILD_DIR");
        ASSERT_NE(build, nullptr) << "run through ctest, which sets CALVORA_BUILD_DIR";
        cli_ = fs::path(build) / "tools" / "cli" / "calvora-cli";
        ASSERT_TRUE(fs::exists(cli_));
        dir_ = fs::temp_directory_path() / ("calvora-cli-files-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Put(const char* name, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return dir_ / name;
    }

    CliRun Cli(const std::string& arguments) {
        const std::string command = "'" + cli_.string() + "' " + arguments + " >'" + (dir_ / "out").string() +
                                    "' 2>'" + (dir_ / "err").string() + "'";
        const int status = std::system(command.c_str());
        CliRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Contents(dir_ / "out");
        run.err = Contents(dir_ / "err");
        return run;
    }

    static std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

    fs::path cli_;
    fs::path dir_;
};

std::vector<uint8_t> SampleFile() {
    return FileBytes()
        .model()
        .Header(2, 1, 0xA0)
        .F32(0.1f)
        .F32(6.0f)
        .Wide(u"VDC")
        .Wide(u"DC")
        .Wide(u"V")
        .Wide(u" 12/07/26 22:05:20")
        .U32(0xFFFFFFFA)
        .F32(0.3f)
        .F32(6.0f)
        .Wide(u"OHM")
        .Wide(u"")
        .Wide(u"\u03A9")
        .Wide(u" 12/07/26 22:05:21")
        .U32(0)
        .Wide(u"")
        .U8(1)
        .U8(0)
        .U8(1)
        .U8(1)
        .U32(255)
        .U8(0)
        .F32(2.5f)
        .F32(0)
        .U8(1)
        .U8(1)
        .U32(0x00C8C8C8)
        .U32(0x00FFFFFF)
        .bytes;
}

TEST_F(CliFilesTest, InfoJsonFollowsTheContract) {
    const CliRun run = Cli("info --json " + Quoted(Put("a.recorder", SampleFile())));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string reserved;
    for (int i = 0; i < 37; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", 0xA0 + i);
        reserved += hex;
    }
    const auto expected =
        nlohmann::ordered_json::parse(R"({"model":"QM310/QM312","sampleCount":2,"channelCount":1,
        "reserved":")" + reserved + R"(",
        "samples":[{"value":[0.1],"fullScale":[6],"lowLimit":-6,"functionName":"VDC","mode":"DC","unit":"V",
                    "timeText":" 12/07/26 22:05:20"},
                   {"value":[0.3],"fullScale":[6],"lowLimit":0,"functionName":"OHM","mode":"","unit":"\u03a9",
                    "timeText":" 12/07/26 22:05:21"}],
        "channels":[{"name":"","traceVisible":1,"alarmHigh":0,"alarmLow":1,"markPoints":1,"traceColour":255,
                     "traceAxis":0}],
        "chart":{"customMax":2.5,"customMin":0,"gridVisible":1,"verticalAxisVisible":1,
                 "backgroundColour":13158600,"gridColour":16777215},
        "axisMin":0.05999999940395355,"axisMax":0.3400000140070915})");
    // axis: 0.1f and 0.3f widened, a fifth of their span (0.2) below and above.
    const auto actual = nlohmann::ordered_json::parse(run.out);
    EXPECT_EQ(actual.dump(), expected.dump());
    // Floats print in their own shortest form, not as the double they widen to.
    EXPECT_NE(run.out.find("\"value\":[0.1]"), std::string::npos) << run.out;
    // Whole numbers print without a fraction, as in "fullScale":4.
    EXPECT_NE(run.out.find("\"fullScale\":[6]"), std::string::npos) << run.out;
}

TEST_F(CliFilesTest, ExportWritesWhatSaveWritesAsText) {
    const fs::path in = Put("a.recorder", SampleFile());
    const CliRun run = Cli("export " + Quoted(in) + " " + Quoted(dir_ / "a.csv"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    RecordingDocument document;
    ASSERT_TRUE(ReadRecordFile(in, document));
    MemorySink expected;
    WriteTextExport(document, expected);
    EXPECT_EQ(Contents(dir_ / "a.csv"), std::string(expected.bytes.begin(), expected.bytes.end()));
}

TEST_F(CliFilesTest, ConvertIsByteIdenticalAndWidensNarrowStrings) {
    const fs::path wide = Put("wide.recorder", SampleFile());
    ASSERT_EQ(Cli("convert " + Quoted(wide) + " " + Quoted(dir_ / "copy.recorder")).exitCode, 0);
    EXPECT_EQ(Contents(dir_ / "copy.recorder"), Contents(wide));

    const auto narrow = FileBytes()
                            .Narrow("QM310/QM312")
                            .Header(1, 1)
                            .F32(1)
                            .F32(6)
                            .Narrow("VDC")
                            .Narrow("DC")
                            .Narrow("V")
                            .Narrow(" t")
                            .U32(0)
                            .DefaultChannel()
                            .DefaultChartTrailer()
                            .bytes;
    ASSERT_EQ(
        Cli("convert " + Quoted(Put("narrow.recorder", narrow)) + " " + Quoted(dir_ / "w.recorder")).exitCode,
        0);
    const auto widened = FileBytes()
                             .model()
                             .Header(1, 1)
                             .F32(1)
                             .F32(6)
                             .Wide(u"VDC")
                             .Wide(u"DC")
                             .Wide(u"V")
                             .Wide(u" t")
                             .U32(0)
                             .DefaultChannel()
                             .DefaultChartTrailer()
                             .bytes;
    EXPECT_EQ(Contents(dir_ / "w.recorder"), std::string(widened.begin(), widened.end()));
}

TEST_F(CliFilesTest, ExitCodesAndMessages) {
    auto truncated = SampleFile();
    truncated.resize(truncated.size() - 1);
    const fs::path foreign = Put("foreign.recorder", FileBytes().Wide(u"QM999").Header(0, 0).bytes);
    const fs::path cut = Put("cut.recorder", truncated);
    const fs::path good = Put("good.recorder", SampleFile());
    Put("plain", {'x'});
    struct Case {
        std::string arguments;
        int exitCode;
        std::string err; // expected standard error, or empty to only require some text
    };
    const std::vector<Case> cases = {
        {"info " + Quoted(foreign), 2, "Invalid Format!\n"},
        {"info --json " + Quoted(cut), 2, "Unexpected file format.\n"},
        {"export " + Quoted(cut) + " " + Quoted(dir_ / "x.csv"), 2, "Unexpected file format.\n"},
        {"convert " + Quoted(foreign) + " " + Quoted(dir_ / "x.recorder"), 2, "Invalid Format!\n"},
        {"info " + Quoted(dir_ / "missing.recorder"), 2, ""},
        {"info " + Quoted(dir_), 2, ""},
        {"info /dev/null", 2, ""},
        {"info", 2, ""},
        {"convert " + Quoted(good), 2, ""},
        {"convert " + Quoted(good) + " " + Quoted(dir_ / "plain" / "x.recorder"), 1, ""},
        {"export " + Quoted(good) + " " + Quoted(dir_ / "plain" / "x.csv"), 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CliRun run = Cli(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        if (c.err.empty())
            EXPECT_FALSE(run.err.empty());
        else
            EXPECT_EQ(run.err, c.err);
    }
    EXPECT_FALSE(fs::exists(dir_ / "x.csv"));
    EXPECT_FALSE(fs::exists(dir_ / "x.recorder"));
}

} // namespace
} // namespace calvora
