#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "recording/save.h"
#include "recording/text_export.h"
#include "tests/support/calendar_time.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Put(const fs::path& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

std::string Bytes(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// The message a failed save shows.
std::u16string CannotSaveText(const fs::path& file, std::u16string_view reason) {
    return u"Cannot save " + fromUtf8(file.string()) + u": " + std::u16string(reason);
}

class SaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("calvora-save-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        document_.SetChannelCount(1);
        document_.FillRows(100);
        for (uint32_t row = 0; row < 100; ++row)
            document_.SetTexts(row, u"VDC", u"DC", u"V", u" 12/07/26 22:05:20");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Nothing but the named files: no temporary file may be left behind.
    void ExpectOnlyFiles(std::vector<std::string> names) {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(found, names);
    }

    fs::path dir_;
    RecordingDocument document_;
    RecordingState state_;
};

TEST(SaveNames, DefaultNameHasTwoBlanksBetweenDateAndTime) {
    EXPECT_EQ(DefaultFileName(testing::CalendarTime(2026, 12, 7, 22, 5, 20)),
              u"Multimeter 26-12-07  22.05.20");
}

TEST(SaveNames, BaseIsTheFileNameWithoutItsLastExtension) {
    struct Case {
        const char* chosen;
        const char* record;
        const char* text;
    };
    const Case cases[] = {
        {"/d/run.1.recorder", "/d/run.1.recorder", "/d/run.1.csv"},
        {"/d/data.xls", "/d/data.recorder", "/d/data.csv"},
        {"/d/Multimeter 26-12-07  22.05.20", "/d/Multimeter 26-12-07  22.05.recorder",
         "/d/Multimeter 26-12-07  22.05.csv"},
        {"/home/a.b/data", "/home/a.b/data.recorder", "/home/a.b/data.csv"},
        {"data.recorder", "data.recorder", "data.csv"},
    };
    for (const Case& c : cases) {
        const SavePaths paths = DerivePaths(c.chosen);
        EXPECT_EQ(paths.record, fs::path(c.record)) << c.chosen;
        EXPECT_EQ(paths.text, fs::path(c.text)) << c.chosen;
    }
}

TEST_F(SaveTest, DocumentsFolderFollowsUserDirs) {
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const fs::path home = dir_ / "home";
    const fs::path config = dir_ / "config";
    fs::create_directories(home);
    fs::create_directories(config);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);

    EXPECT_EQ(DocumentsFolder(), home / "Documents");
    Put(config / "user-dirs.dirs",
        "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/My Docs\"\n");
    EXPECT_EQ(DocumentsFolder(), home / "My Docs");
    Put(config / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n");
    EXPECT_EQ(DocumentsFolder(), fs::path("/srv/docs"));
    Put(config / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"relative/docs\"\n");
    EXPECT_EQ(DocumentsFolder(), home / "Documents");

    // One level only: without the documents folder nothing is created.
    EXPECT_EQ(PrepareSaveFolder(), home / "Documents" / "Multimeter");
    EXPECT_FALSE(fs::exists(home / "Documents"));
    fs::create_directory(home / "Documents");
    EXPECT_TRUE(fs::is_directory(PrepareSaveFolder()));

    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", oldHome.c_str(), 1);
}

TEST_F(SaveTest, WritesBothFilesAndMarksTheLiveDocumentSaved) {
    state_.recordingDocument = &document_;
    state_.dataSaved = false;
    Put(dir_ / "data.recorder", "previous");
    fs::permissions(dir_ / "data.recorder",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const Outcome<void> saved = SaveDocument(document_, dir_ / "data.xls", state_);
    ASSERT_TRUE(saved) << toUtf8(saved.reason());
    EXPECT_TRUE(state_.dataSaved);
    MemorySink record;
    MemorySink text;
    WriteRecord(document_, record);
    WriteTextExport(document_, text);
    EXPECT_EQ(Contents(dir_ / "data.recorder"), Bytes(record.bytes));
    EXPECT_EQ(Contents(dir_ / "data.csv"), Bytes(text.bytes));
    ExpectOnlyFiles({"data.recorder", "data.csv"});
    EXPECT_EQ(fs::status(dir_ / "data.recorder").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SaveTest, SavingAnotherDocumentLeavesDataSavedAlone) {
    RecordingDocument live;
    state_.recordingDocument = &live;
    state_.dataSaved = false;
    ASSERT_TRUE(SaveDocument(document_, dir_ / "other.recorder", state_));
    EXPECT_FALSE(state_.dataSaved);
}

TEST_F(SaveTest, FolderThatIsAFileFailsLoudly) {
    Put(dir_ / "plain", "x");
    state_.recordingDocument = &document_;
    state_.dataSaved = false;
    const Outcome<void> saved = SaveDocument(document_, dir_ / "plain" / "data.recorder", state_);
    EXPECT_EQ(saved.reason(), CannotSaveText(dir_ / "plain" / "data.recorder", u"Not a directory"));
    EXPECT_FALSE(state_.dataSaved);
}

// A write that fails half way (here: the file size limit, which binds root too) must leave the
// previous files exactly as they were.
TEST_F(SaveTest, FailedWriteKeepsThePreviousFiles) {
    Put(dir_ / "data.recorder", "previous record");
    Put(dir_ / "data.csv", "previous text");
    state_.recordingDocument = &document_;
    state_.dataSaved = false;

    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    rlimit small = oldLimit;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Outcome<void> saved = SaveDocument(document_, dir_ / "data.recorder", state_);
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_TRUE(saved.reason().ends_with(u": File too large")) << toUtf8(saved.reason());
    EXPECT_FALSE(state_.dataSaved);
    EXPECT_EQ(Contents(dir_ / "data.recorder"), "previous record");
    EXPECT_EQ(Contents(dir_ / "data.csv"), "previous text");
    ExpectOnlyFiles({"data.recorder", "data.csv"});
}

TEST_F(SaveTest, TargetThatCannotBeReplacedFailsLoudly) {
    fs::create_directory(dir_ / "data.recorder");
    Put(dir_ / "data.csv", "previous text");
    const Outcome<void> saved = SaveDocument(document_, dir_ / "data.recorder", state_);
    EXPECT_EQ(saved.reason(), CannotSaveText(dir_ / "data.recorder", u"Is a directory"));
    EXPECT_TRUE(fs::is_directory(dir_ / "data.recorder"));
    EXPECT_EQ(Contents(dir_ / "data.csv"), "previous text");
    ExpectOnlyFiles({"data.recorder", "data.csv"});
}

} // namespace
} // namespace calvora

namespace calvora {
namespace {

// A record name of 255 bytes is what ext4 and tmpfs allow; the temporary file beside it must not
// need more. 256 is refused with the system's reason before anything is written.
TEST_F(SaveTest, NamesUpToTheFileSystemsLimitSaveAndReopen) {
    for (const size_t length : {254u, 255u, 256u}) {
        SCOPED_TRACE(length);
        const std::string record = std::string(length - 9, 'n') + ".recorder";
        const Outcome<void> saved = SaveDocument(document_, dir_ / record, state_);
        if (length > 255) {
            EXPECT_EQ(saved.reason(), CannotSaveText(dir_ / record, u"File name too long"));
            EXPECT_FALSE(fs::exists(dir_ / (std::string(length - 9, 'n') + ".csv")));
            continue;
        }
        ASSERT_TRUE(saved) << toUtf8(saved.reason());
        RecordingDocument reopened;
        ASSERT_TRUE(ReadRecordFile(dir_ / record, reopened));
        EXPECT_EQ(reopened.sampleCount(), document_.sampleCount());
        EXPECT_EQ(reopened.timeText(99), document_.timeText(99));
    }
    ExpectOnlyFiles({std::string(245, 'n') + ".recorder", std::string(245, 'n') + ".csv",
                     std::string(246, 'n') + ".recorder", std::string(246, 'n') + ".csv"});
}

TEST_F(SaveTest, APairLeadingToOneFileIsRefusedUntouched) {
    Put(dir_ / "one", "old");
    fs::create_symlink("one", dir_ / "b.recorder");
    fs::create_symlink("one", dir_ / "b.csv");
    const Outcome<void> saved = SaveDocument(document_, dir_ / "b.recorder", state_);
    EXPECT_EQ(saved.reason(), CannotSaveText(dir_ / "b.csv", u"the same file as " +
                                                                 fromUtf8((dir_ / "b.recorder").string())));
    EXPECT_EQ(Contents(dir_ / "one"), "old");
    ExpectOnlyFiles({"one", "b.recorder", "b.csv"});
}

TEST_F(SaveTest, AFailingSyncKeepsBothOldFilesAndGivesANewNameBack) {
    Put(dir_ / "data.recorder", "previous record");
    Put(dir_ / "data.csv", "previous text");
    ReplaceSyncCall([](int) {
        errno = EIO;
        return -1;
    });
    const Outcome<void> replaced = SaveDocument(document_, dir_ / "data.recorder", state_);
    const Outcome<SavePaths> fresh = SaveDocumentUnderNewName(document_, dir_ / "fresh", state_);
    ReplaceSyncCall(nullptr);
    EXPECT_TRUE(replaced.reason().ends_with(u": Input/output error")) << toUtf8(replaced.reason());
    EXPECT_EQ(Contents(dir_ / "data.recorder"), "previous record");
    EXPECT_EQ(Contents(dir_ / "data.csv"), "previous text");
    EXPECT_TRUE(fresh.reason().ends_with(u": Input/output error")) << toUtf8(fresh.reason());
    ExpectOnlyFiles({"data.recorder", "data.csv"});
}

RecordingDocument Marked(const std::u16string& marker) {
    RecordingDocument document;
    document.SetChannelCount(1);
    document.FillRows(1);
    document.SetTexts(0, marker, u"DC", u"V", u" 12/07/26 22:05:20");
    return document;
}

// Shell loops of short recordings save by default name within one second; so do programs running
// side by side. Nobody's pair is written over, and each pair's two files belong together.
TEST_F(SaveTest, DefaultNamesNeverWriteOverAPair) {
    const fs::path base = dir_ / "Multimeter 26-12-07  22.05.20";
    const char* const expected[] = {"Multimeter 26-12-07  22.05.20", "Multimeter 26-12-07  22.05.20 (2)",
                                    "Multimeter 26-12-07  22.05.20 (3)"};
    for (int i = 0; i < 3; ++i) {
        const Outcome<SavePaths> saved =
            SaveDocumentUnderNewName(Marked(u"first" + std::u16string(1, u'0' + i)), base, state_);
        ASSERT_TRUE(saved) << toUtf8(saved.reason());
        const SavePaths& written = saved.value();
        EXPECT_EQ(written.record, dir_ / (std::string(expected[i]) + ".recorder"));
        EXPECT_EQ(written.text, dir_ / (std::string(expected[i]) + ".csv"));
    }
    // A lone .csv of that name takes the name too: the pair would not belong together.
    Put(dir_ / "lone.csv", "someone's table");
    const Outcome<SavePaths> lone = SaveDocumentUnderNewName(Marked(u"lone"), dir_ / "lone", state_);
    ASSERT_TRUE(lone);
    EXPECT_EQ(lone.value().record, dir_ / "lone (2).recorder");
    EXPECT_EQ(Contents(dir_ / "lone.csv"), "someone's table");

    const fs::path shared = dir_ / "together";
    std::vector<std::thread> savers;
    std::latch start(8);
    std::vector<SavePaths> paths(8);
    for (int i = 0; i < 8; ++i) {
        savers.emplace_back([&, i] {
            RecordingState state;
            const RecordingDocument document = Marked(u"saver" + std::u16string(1, u'0' + i));
            start.arrive_and_wait();
            const Outcome<SavePaths> saved = SaveDocumentUnderNewName(document, shared, state);
            EXPECT_TRUE(saved);
            if (saved)
                paths[i] = saved.value();
        });
    }
    for (std::thread& saver : savers)
        saver.join();
    std::set<fs::path> records;
    for (int i = 0; i < 8; ++i) {
        records.insert(paths[i].record);
        RecordingDocument reopened;
        ASSERT_TRUE(ReadRecordFile(paths[i].record, reopened));
        const std::u16string marker = u"saver" + std::u16string(1, u'0' + i);
        EXPECT_EQ(reopened.functionName(0), marker);
        MemorySink text;
        WriteTextExport(Marked(marker), text);
        EXPECT_EQ(Contents(paths[i].text), Bytes(text.bytes));
    }
    EXPECT_EQ(records.size(), 8u);
}

} // namespace
} // namespace calvora
