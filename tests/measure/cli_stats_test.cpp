// calvora-cli stats on small files built from the byte layout: the JSON contract to the character, the
// range rules and the refusals.
#include "tests/recording/file_bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;
using test::FileBytes;

struct Reading {
    float value;
    float fullScale;
    int32_t lowLimit;
    std::u16string functionName;
    std::u16string unit;
};

std::vector<uint8_t> Recording(const std::vector<Reading>& readings) {
    FileBytes file;
    file.model().Header(static_cast<uint32_t>(readings.size()), 1);
    for (const Reading& r : readings)
        file.F32(r.value)
            .F32(r.fullScale)
            .Wide(r.functionName)
            .Wide(u"DC")
            .Wide(r.unit)
            .Wide(u" 12/07/26 22:05:20")
            .U32(static_cast<uint32_t>(r.lowLimit));
    return file.DefaultChannel().DefaultChartTrailer().bytes;
}

// Two groups of volts with an overload each way and a value that is no number, a group of ohms, a group
// of overloads only, and readings whose float text differs from their double text.
const std::vector<Reading> kMixed = {
    {1.5f, 600, -600, u"VDC", u"V"},
    {2.25f, 600, -600, u"VDC", u"V"},
    {700.0f, 600, -600, u"VDC", u"V"}, // OL
    {10.0f, 60000, 0, u"OHM", u"kOhm"},
    {1.5f, 600, -600, u"VDC", u"V"}, // the minimum again: minAt stays 1
    {std::numeric_limits<float>::quiet_NaN(), 600, -600, u"VDC", u"V"},
    {-9.0f, 6, -6, u"ADC", u"A"}, // -OL
    {0.1f, 6, -6, u"VAC", u"V"},
    {0.2f, 6, -6, u"VAC", u"V"},
};

class CliStatsTest : public testing::Test {
protected:
    struct Run {
        int exitCode = -1;
        std::string out;
        std::string err;
    };

    void SetUp() override {
        const char* build = std::getenv("CALVORA_BUILD_DIR");
        ASSERT_NE(build, nullptr) << "run through ctest, which sets CALVORA_BUILD_DIR";
        cli_ = fs::path(build) / "tools" / "cli" / "calvora-cli";
        dir_ = fs::temp_directory_path() / ("calvora-cli-stats-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        mixed_ = Put("mixed.recorder", Recording(kMixed));
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Put(const char* name, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return "'" + (dir_ / name).string() + "'";
    }

    Run Cli(const std::string& arguments) {
        const std::string command = "'" + cli_.string() + "' " + arguments + " >'" + (dir_ / "out").string() +
                                    "' 2>'" + (dir_ / "err").string() + "'";
        const int status = std::system(command.c_str());
        const auto read = [](const fs::path& path) {
            std::ifstream in(path, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(dir_ / "out"), read(dir_ / "err")};
    }

    fs::path cli_;
    fs::path dir_;
    std::string mixed_;
};

TEST_F(CliStatsTest, JsonOfTheWholeFileFollowsTheContractToTheCharacter) {
    const Run run = Cli("stats --json " + mixed_);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(
        run.out,
        "{\"from\":1,\"to\":9,\"groups\":["
        "{\"functionName\":\"VDC\",\"unit\":\"V\",\"count\":3,\"overloads\":2,\"min\":1.5,\"minAt\":1,"
        "\"max\":2.25,\"maxAt\":2,\"mean\":1.75,\"stddev\":0.4330127018922193},"
        "{\"functionName\":\"OHM\",\"unit\":\"kOhm\",\"count\":1,\"overloads\":0,\"min\":10,\"minAt\":4,"
        "\"max\":10,\"maxAt\":4,\"mean\":10,\"stddev\":0},"
        "{\"functionName\":\"ADC\",\"unit\":\"A\",\"count\":0,\"overloads\":1,\"min\":null,\"minAt\":null,"
        "\"max\":null,\"maxAt\":null,\"mean\":null,\"stddev\":null},"
        // Extremes as the stored floats print, the mean and deviation as the doubles they are.
        "{\"functionName\":\"VAC\",\"unit\":\"V\",\"count\":2,\"overloads\":0,\"min\":0.1,\"minAt\":8,"
        "\"max\":0.2,\"maxAt\":9,\"mean\":0.15000000223517418,\"stddev\":0.07071067917232597}]}\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(CliStatsTest, ARangeCountsOnlyItsSamplesAndOrdersGroupsByTheirFirstAppearanceInIt) {
    Run run = Cli("stats --json --from 4 --to 7 " + mixed_);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(
        run.out,
        "{\"from\":4,\"to\":7,\"groups\":["
        "{\"functionName\":\"OHM\",\"unit\":\"kOhm\",\"count\":1,\"overloads\":0,\"min\":10,\"minAt\":4,"
        "\"max\":10,\"maxAt\":4,\"mean\":10,\"stddev\":0},"
        "{\"functionName\":\"VDC\",\"unit\":\"V\",\"count\":1,\"overloads\":1,\"min\":1.5,\"minAt\":5,"
        "\"max\":1.5,\"maxAt\":5,\"mean\":1.5,\"stddev\":0},"
        "{\"functionName\":\"ADC\",\"unit\":\"A\",\"count\":0,\"overloads\":1,\"min\":null,\"minAt\":null,"
        "\"max\":null,\"maxAt\":null,\"mean\":null,\"stddev\":null}]}\n");
    // One end given: the other is the file's own.
    run = Cli("stats --json --from 9 " + mixed_);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("{\"from\":9,\"to\":9,", 0), 0u) << run.out;
    run = Cli("stats --json --to 1 " + mixed_);
    EXPECT_EQ(run.out.rfind("{\"from\":1,\"to\":1,", 0), 0u) << run.out;
}

TEST_F(CliStatsTest, BadRangesAndFilesThatAreNoRecordingAreBadUsage) {
    for (const char* range : {"--from 0", "--from=-1", "--to 10", "--from 5 --to 4", "--to 0", "--from 10"}) {
        const Run run = Cli(std::string("stats --json ") + range + " " + mixed_);
        EXPECT_EQ(run.exitCode, 2) << range;
        EXPECT_EQ(run.out, "") << range;
        EXPECT_NE(run.err, "") << range;
    }
    // The same messages as info: not a recording, and not there at all.
    const std::string foreign =
        Put("foreign.recorder", FileBytes().Wide(u"QM999").Header(0, 0).DefaultChartTrailer().bytes);
    for (const std::string& file : {foreign, "'" + (dir_ / "missing.recorder").string() + "'"}) {
        const Run stats = Cli("stats " + file);
        const Run info = Cli("info " + file);
        EXPECT_EQ(stats.exitCode, 2);
        EXPECT_EQ(stats.out, "");
        EXPECT_EQ(stats.err, info.err);
    }
}

TEST_F(CliStatsTest, TheReadableTableAndAnEmptyFile) {
    Run run = Cli("stats " + mixed_);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Samples:  1 to 9 of 9"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("VDC       V     3      2          1.5000   1    12/07/26 22:05:20"),
              std::string::npos)
        << run.out;
    const std::string empty =
        Put("empty.recorder", FileBytes().model().Header(0, 0).DefaultChartTrailer().bytes);
    run = Cli("stats --json " + empty);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "{\"from\":1,\"to\":0,\"groups\":[]}\n");
    EXPECT_EQ(Cli("stats --json --from 1 " + empty).exitCode, 2);
}

} // namespace
} // namespace calvora
