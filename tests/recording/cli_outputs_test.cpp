// What calvora-cli writes over and where: links, FIFOs and standard output, a pair that cannot be
// completed, default names in the same second, a standard output that fails, and the journals that
// `recover` lists, writes out and discards.
#include "protocol/frame_builder.h"
#include "recording/journal.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "recording/save.h"
#include "recording/text_export.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// `frames` live readings of 0.0001 V steps, each in a 19-byte chunk of its own as the receiver sends them.
std::string Capture(int frames) {
    std::string bytes;
    for (int i = 0; i < frames; ++i) {
        const auto frame = MakeLiveFrame(static_cast<uint16_t>(1000 + i), 0x01, 0x01, 0);
        bytes.append(frame.begin(), frame.end());
        bytes.append(7, '\xAA');
    }
    return bytes;
}

// The journal a session leaves when it ends without saving: its file stays once the Journal is gone.
fs::path LeftJournal(const fs::path& folder, int samples) {
    Journal journal(folder);
    for (int row = 0; row < samples; ++row)
        journal.Record(static_cast<uint32_t>(row),
                       {float(row), 6.0f, 0, u"VDC", u"DC", u"V", u" 12/08/26 15:04:05"});
    EXPECT_TRUE(journal.Sync());
    return journal.path();
}

class CliOutputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* build = std::getenv("CALVORA_BUILD_DIR");
        ASSERT_NE(build, nullptr) << "run through ctest, which sets CALVORA_BUILD_DIR";
        cli_ = fs::path(build) / "tools" / "cli" / "calvora-cli";
        dir_ = fs::temp_directory_path() / ("calvora-cli-outputs-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "work");
        std::ofstream(dir_ / "capture.bin", std::ios::binary) << Capture(5);
        ASSERT_EQ(Cli("record --input " + Quoted(dir_ / "capture.bin") + " --samples 3 --out rec").exitCode,
                  0);
        fs::remove(work() / "rec.csv");
        fs::rename(work() / "rec.recorder", dir_ / "rec.recorder");
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path work() const { return dir_ / "work"; }
    fs::path journals() const { return dir_ / "state" / "calvora"; }

    // Runs in work() with the journals in dir_/state; `redirect` replaces the capture of standard output.
    CliRun Cli(const std::string& arguments, const std::string& redirect = "") {
        const std::string command = "cd " + Quoted(work()) + " && XDG_STATE_HOME=" + Quoted(dir_ / "state") +
                                    " " + Quoted(cli_) + " " + arguments + " " +
                                    (redirect.empty() ? ">" + Quoted(dir_ / "out") : redirect) + " 2>" +
                                    Quoted(dir_ / "err");
        const int status = std::system(command.c_str());
        CliRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Contents(dir_ / "out");
        run.err = Contents(dir_ / "err");
        fs::remove(dir_ / "out");
        return run;
    }

    fs::path cli_;
    fs::path dir_;
};

TEST_F(CliOutputsTest, ConvertAndExportWriteThroughLinksFifosAndStandardOutput) {
    RecordingDocument document;
    ASSERT_TRUE(ReadRecordFile(dir_ / "rec.recorder", document));
    MemorySink table;
    WriteTextExport(document, table);
    const std::string record = Contents(dir_ / "rec.recorder");
    const std::string text(table.bytes.begin(), table.bytes.end());

    ASSERT_EQ(::mkfifo((work() / "fifo").c_str(), 0600), 0);
    std::ofstream(work() / "real") << "old";
    fs::create_symlink("real", work() / "link");
    struct Case {
        std::string command;
        std::string out;
        const std::string* expected;
    };
    const Case cases[] = {
        {"convert", "-", &record}, {"export", "-", &text},       {"convert", "link", &record},
        {"export", "link", &text}, {"convert", "fifo", &record}, {"export", "fifo", &text},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + " to " + c.out);
        const int reader = ::open((work() / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        const CliRun run = Cli(c.command + " " + Quoted(dir_ / "rec.recorder") + " " + c.out);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::string got;
        if (c.out == "-") {
            got = run.out;
        } else if (c.out == "link") {
            got = Contents(work() / "real");
        } else {
            char buffer[4096];
            for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
                got.append(buffer, static_cast<size_t>(n));
        }
        ::close(reader);
        EXPECT_EQ(got, *c.expected);
        EXPECT_TRUE(fs::is_symlink(work() / "link"));
        EXPECT_TRUE(fs::is_fifo(work() / "fifo"));
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(work()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"fifo", "link", "real"}));
}

TEST_F(CliOutputsTest, AStandardOutputThatFailsIsAFailure) {
    const std::string rec = Quoted(dir_ / "rec.recorder");
    LeftJournal(journals(), 1);
    const std::string cases[] = {
        "info " + rec,
        "info --json " + rec,
        "convert " + rec + " -",
        "export " + rec + " -",
        "record --input " + Quoted(dir_ / "capture.bin") + " --samples 3 --out full",
        "recover --list",
    };
    for (const std::string& arguments : cases) {
        SCOPED_TRACE(arguments);
        const CliRun run = Cli(arguments, ">/dev/full");
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    }
    EXPECT_EQ(Cli("info " + rec, ">&-").exitCode, 1) << "a closed standard output";
}

// The .csv cannot be written (a folder has its name): the .recorder stays as it was, the failure is
// reported, and the samples come out of the journal with the command the message names.
TEST_F(CliOutputsTest, APairThatCannotBeCompletedLeavesTheOldFileAndNamesRecover) {
    std::ofstream(work() / "b.recorder") << "OLD\n";
    fs::create_directory(work() / "b.csv");
    const CliRun run = Cli("record --input " + Quoted(dir_ / "capture.bin") + " --samples 3 --out b");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Cannot save b.csv: Is a directory"), std::string::npos) << run.err;
    EXPECT_EQ(Contents(work() / "b.recorder"), "OLD\n");

    std::smatch named;
    ASSERT_TRUE(
        std::regex_search(run.err, named, std::regex("calvora-cli (recover --journal '[^']+') --out BASE")))
        << run.err;
    const CliRun recovered = Cli(named[1].str() + " --out c");
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    EXPECT_EQ(recovered.out, "c.recorder\nc.csv\n");
    RecordingDocument rescued;
    RecordingDocument recorded;
    ASSERT_TRUE(ReadRecordFile(work() / "c.recorder", rescued));
    ASSERT_TRUE(ReadRecordFile(dir_ / "rec.recorder", recorded));
    ASSERT_EQ(rescued.sampleCount(), 3u);
    for (uint32_t row = 0; row < 3; ++row)
        EXPECT_EQ(rescued.value(row, 0), recorded.value(row, 0));
}

TEST_F(CliOutputsTest, DashCannotTakeAPair) {
    for (const std::string& arguments :
         {"record --input " + Quoted(dir_ / "capture.bin") + " --samples 3 --out -",
          "download --input " + Quoted(dir_ / "capture.bin") + " --out -", std::string("recover --out -")}) {
        SCOPED_TRACE(arguments);
        const CliRun run = Cli(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find("standard output cannot take the two files"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(fs::is_empty(work()));
}

// Two recordings saved by default in the same second (a shell loop of short recordings): the second
// gets " (2)" and the first is not written over.
TEST_F(CliOutputsTest, DefaultNamesInTheSameSecondDoNotOverwrite) {
    const std::string record = "record --input " + Quoted(dir_ / "capture.bin") + " --samples 3";
    for (int attempt = 0; attempt < 5; ++attempt) {
        fs::remove_all(work());
        fs::create_directory(work());
        const CliRun first = Cli(record);
        const CliRun second = Cli(record);
        ASSERT_EQ(first.exitCode, 0) << first.err;
        ASSERT_EQ(second.exitCode, 0) << second.err;
        const auto firstLines = Lines(first.out);
        const auto secondLines = Lines(second.out);
        ASSERT_EQ(firstLines.size(), 2u);
        ASSERT_EQ(secondLines.size(), 2u);
        const std::string base = firstLines[0].substr(0, firstLines[0].size() - 9);
        if (secondLines[0] == base + " (2).recorder") {
            EXPECT_EQ(secondLines[1], base + " (2).csv");
            for (const std::string& written : {firstLines[0], secondLines[0]}) {
                RecordingDocument document;
                EXPECT_TRUE(ReadRecordFile(work() / written, document)) << written;
                EXPECT_EQ(document.sampleCount(), 3u) << written;
            }
            EXPECT_TRUE(fs::exists(work() / firstLines[1]));
            return;
        }
        EXPECT_NE(secondLines[0], firstLines[0]); // the clock moved on to the next second
    }
    GTEST_SKIP() << "the two runs never fell into the same second";
}

TEST_F(CliOutputsTest, RecoverListsWritesOutAndDiscardsLeftJournals) {
    auto leave = [&](int samples, fs::file_time_type written) {
        const fs::path path = LeftJournal(journals(), samples);
        fs::last_write_time(path, written);
        return path;
    };
    const auto now = fs::file_time_type::clock::now();
    const fs::path older = leave(2, now - 2h);
    const fs::path newer = leave(4, now - 1h);
    Journal running(journals());
    running.Record(0, {1.0f, 6.0f, 0, u"VDC", u"DC", u"V", u" 12/08/26 15:04:05"});
    ASSERT_TRUE(running.Sync());

    const CliRun list = Cli("recover --list");
    ASSERT_EQ(list.exitCode, 0) << list.err;
    const auto lines = Lines(list.out);
    ASSERT_EQ(lines.size(), 2u) << list.out << "(the running recording's journal is not offered)";
    const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t(\d+)\trecording_tests\t(.+))");
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(lines[0], fields, line)) << lines[0];
    EXPECT_EQ(fields[1], "4");
    EXPECT_EQ(fields[2], newer.string());
    ASSERT_TRUE(std::regex_match(lines[1], fields, line)) << lines[1];
    EXPECT_EQ(fields[1], "2");
    EXPECT_EQ(fields[2], older.string());

    // The newest first, written out exactly as Save writes the recovered document.
    const CliRun recovered = Cli("recover --out newest");
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    EXPECT_NE(recovered.err.find("2 journals are left; taking the newest"), std::string::npos)
        << recovered.err;
    const Outcome<RecordingDocument> document = RecoverJournal(fs::path(newer) += ".recovered");
    ASSERT_TRUE(document);
    RecordingState state;
    ASSERT_TRUE(SaveDocument(document.value(), dir_ / "expected.recorder", state));
    EXPECT_EQ(Contents(work() / "newest.recorder"), Contents(dir_ / "expected.recorder"));
    EXPECT_EQ(Contents(work() / "newest.csv"), Contents(dir_ / "expected.csv"));
    EXPECT_FALSE(fs::exists(newer));

    const CliRun held = Cli("recover --journal " + Quoted(running.path()));
    EXPECT_EQ(held.exitCode, 1);
    EXPECT_NE(held.err.find("in use by a running recording"), std::string::npos) << held.err;

    EXPECT_EQ(Cli("recover --discard").exitCode, 0);
    EXPECT_TRUE(fs::exists(fs::path(older) += ".discarded"));
    EXPECT_EQ(Cli("recover --list").out, "");
    const CliRun none = Cli("recover");
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("no unsaved recording was left"), std::string::npos) << none.err;

    // Ended journals stay 30 days from their end, then go.
    fs::last_write_time(fs::path(newer) += ".recovered", now - kEndedJournalKept - 1h);
    fs::last_write_time(fs::path(older) += ".discarded", now - kEndedJournalKept + 1h);
    EXPECT_EQ(Cli("recover --list").exitCode, 0);
    EXPECT_FALSE(fs::exists(fs::path(newer) += ".recovered"));
    EXPECT_TRUE(fs::exists(fs::path(older) += ".discarded"));
}

} // namespace
} // namespace calvora
