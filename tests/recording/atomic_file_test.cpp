// What a save does to what it writes over: links are followed and kept, FIFOs and descriptors are
// written directly, a pair is replaced as one, interrupts and failing disks leave the old files.
#include "recording/atomic_file.h"

#include "protocol/text.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
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

std::function<bool(ByteSink&)> Text(const std::string& text) {
    return [text](ByteSink& sink) {
        return sink.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
}

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Reads what is waiting in a pipe or FIFO without blocking.
std::string Drain(int fd) {
    std::string bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<size_t>(n));
    return bytes;
}

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("calvora-atomic-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        ReplaceSyncCall(nullptr);
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(AtomicFileTest, FollowsLinksAndKeepsThemRefusesWhatCannotHoldAFile) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& dir)> make; // makes dir/"out" and whatever it leads to
        const char* written;                           // the file that holds the new text; null: refused
        const char* reason;
    };
    const Case cases[] = {
        {"a file", [](const fs::path& d) { Put(d / "out", "old"); }, "out", nullptr},
        {"a new name", [](const fs::path&) {}, "out", nullptr},
        {"a relative link",
         [](const fs::path& d) {
             fs::create_directory(d / "sub");
             Put(d / "sub" / "real", "old");
             fs::create_symlink("sub/real", d / "out");
         },
         "sub/real", nullptr},
        {"an absolute link to a link",
         [](const fs::path& d) {
             Put(d / "real", "old");
             fs::create_symlink("real", d / "middle");
             fs::create_symlink(d / "middle", d / "out");
         },
         "real", nullptr},
        {"a dangling link", [](const fs::path& d) { fs::create_symlink("made", d / "out"); }, "made",
         nullptr},
        {"a folder", [](const fs::path& d) { fs::create_directory(d / "out"); }, nullptr, "Is a directory"},
        {"a link to a folder",
         [](const fs::path& d) {
             fs::create_directory(d / "folder");
             fs::create_symlink("folder", d / "out");
         },
         nullptr, "Is a directory"},
        {"a link loop", [](const fs::path& d) { fs::create_symlink("out", d / "out"); }, nullptr,
         "Too many levels of symbolic links"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        c.make(dir_);
        const auto before = Names(dir_);
        const bool wasLink = fs::is_symlink(dir_ / "out");
        const Outcome<void> written = WriteFileAtomically(dir_ / "out", Text("new"));
        EXPECT_EQ(static_cast<bool>(written), c.written != nullptr);
        if (c.written) {
            EXPECT_EQ(Contents(dir_ / c.written), "new");
        } else {
            EXPECT_EQ(written.reason(),
                      u"Cannot save " + fromUtf8((dir_ / "out").string()) + u": " + fromUtf8(c.reason));
        }
        EXPECT_EQ(fs::is_symlink(dir_ / "out"), wasLink) << "a link stays a link";
        auto after = before;
        if (c.written && std::string(c.written).find('/') == std::string::npos)
            after.insert(c.written);
        EXPECT_EQ(Names(dir_), after) << "no temporary file is left";
    }
}

TEST_F(AtomicFileTest, FifosAndDescriptorsAreWrittenDirectly) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    // A reader that is already there lets the writer's open go through; the text fits the pipe buffer.
    const int reader = ::open((dir_ / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(WriteFileAtomically(dir_ / "fifo", Text("through the fifo")));
    EXPECT_EQ(Drain(reader), "through the fifo");
    ::close(reader);
    struct stat info {};
    ASSERT_EQ(::lstat((dir_ / "fifo").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "not replaced by a plain file";

    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_NONBLOCK | O_CLOEXEC), 0);
    const std::string number = std::to_string(pipe[1]);
    for (const std::string& path : {"/dev/fd/" + number, "/proc/self/fd/" + number}) {
        ASSERT_TRUE(WriteFileAtomically(path, Text(path))) << path;
        EXPECT_EQ(Drain(pipe[0]), path);
    }
    // "-" is standard output, borrowed here for a moment.
    std::fflush(stdout);
    const int savedOut = ::dup(1);
    ::dup2(pipe[1], 1);
    const bool dashWritten = static_cast<bool>(WriteFileAtomically("-", Text("to standard output")));
    ::dup2(savedOut, 1);
    ::close(savedOut);
    EXPECT_TRUE(dashWritten);
    EXPECT_EQ(Drain(pipe[0]), "to standard output");
    EXPECT_EQ(::fcntl(pipe[1], F_GETFD), FD_CLOEXEC) << "the borrowed descriptor stays open";
    ::close(pipe[0]);
    ::close(pipe[1]);
    EXPECT_EQ(Names(dir_), std::set<std::string>{"fifo"});
}

// The second file of a pair cannot be put in place although both were fine when checked (a folder
// appeared meanwhile): the first file is put back as it was, or removed if it is new.
TEST_F(AtomicFileTest, APairWhoseSecondRenameFailsPutsTheFirstBack) {
    for (const bool firstExisted : {true, false}) {
        SCOPED_TRACE(firstExisted ? "first file existed" : "first file is new");
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        if (firstExisted) {
            Put(dir_ / "b.recorder", "OLD");
            fs::permissions(dir_ / "b.recorder", fs::perms::owner_read | fs::perms::owner_write);
        }
        AtomicFile first(dir_ / "b.recorder");
        AtomicFile second(dir_ / "b.csv");
        ASSERT_TRUE(first.Open());
        ASSERT_TRUE(second.Open());
        ASSERT_TRUE(first.sink().Write(reinterpret_cast<const uint8_t*>("NEW"), 3));
        ASSERT_TRUE(first.Finish());
        ASSERT_TRUE(second.Finish());
        fs::create_directories(dir_ / "b.csv" / "taken");

        const Outcome<void> committed = CommitPair(first, second);
        EXPECT_TRUE(
            committed.reason().starts_with(u"Cannot save " + fromUtf8((dir_ / "b.csv").string()) + u": "))
            << toUtf8(committed.reason());
        if (firstExisted) {
            EXPECT_EQ(Contents(dir_ / "b.recorder"), "OLD");
            EXPECT_EQ(fs::status(dir_ / "b.recorder").permissions(),
                      fs::perms::owner_read | fs::perms::owner_write);
            EXPECT_EQ(Names(dir_), (std::set<std::string>{"b.recorder", "b.csv"}));
        } else {
            EXPECT_EQ(Names(dir_), std::set<std::string>{"b.csv"});
        }
    }
}

TEST_F(AtomicFileTest, AFailingSyncFailsTheSaveAndKeepsTheOldFile) {
    Put(dir_ / "settings.ini", "old");
    ReplaceSyncCall([](int) {
        errno = EIO;
        return -1;
    });
    EXPECT_EQ(WriteFileAtomically(dir_ / "settings.ini", "new").reason(),
              u"Cannot save " + fromUtf8((dir_ / "settings.ini").string()) + u": Input/output error");
    EXPECT_EQ(Contents(dir_ / "settings.ini"), "old");
    EXPECT_EQ(Names(dir_), std::set<std::string>{"settings.ini"});
}

TEST_F(AtomicFileTest, ANewFileFollowsTheUmaskAReplacedOneKeepsItsMode) {
    const mode_t oldMask = ::umask(027);
    ASSERT_TRUE(WriteFileAtomically(dir_ / "new", "x"));
    Put(dir_ / "kept", "old");
    fs::permissions(dir_ / "kept", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    ASSERT_TRUE(WriteFileAtomically(dir_ / "kept", "x"));
    ::umask(oldMask);
    EXPECT_EQ(fs::status(dir_ / "new").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(fs::status(dir_ / "kept").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
}

// A program ended by SIGINT, SIGTERM or SIGHUP in the middle of a save leaves the old files and no
// temporary one, and still dies of the signal. Run in a child, which the signal really ends.
TEST_F(AtomicFileTest, AnInterruptedSaveLeavesTheOldFilesOnly) {
    enum class When { Writing, BetweenThePairsRenames };
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (const When when : {When::Writing, When::BetweenThePairsRenames}) {
            SCOPED_TRACE(std::string(strsignal(signal)) +
                         (when == When::Writing ? ", writing" : ", between renames"));
            fs::remove_all(dir_);
            fs::create_directories(dir_);
            Put(dir_ / "b.recorder", "OLD");
            const pid_t child = ::fork();
            if (child == 0) {
                AtomicFile first(dir_ / "b.recorder");
                AtomicFile second(dir_ / "b.csv");
                if (!first.Open() || !second.Open() ||
                    !first.sink().Write(reinterpret_cast<const uint8_t*>("N"), 1))
                    ::_exit(2);
                if (when == When::BetweenThePairsRenames &&
                    (!first.Finish() || !second.Finish() || !first.CommitKeepingPrevious()))
                    ::_exit(3);
                ::raise(signal);
                ::_exit(4);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
            EXPECT_EQ(WTERMSIG(status), signal);
            EXPECT_EQ(Contents(dir_ / "b.recorder"), "OLD");
            EXPECT_EQ(Names(dir_), std::set<std::string>{"b.recorder"});
        }
    }
}

} // namespace
} // namespace calvora
