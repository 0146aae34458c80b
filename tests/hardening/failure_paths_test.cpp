// Failure paths for real: a full device, a read-only folder, a file another program holds, and files
// that are truncated, foreign, empty, folders or unreadable. Each says why and keeps what was there.
#include "link/settings_file.h"
#include "protocol/text.h"
#include "recording/byte_sink.h"
#include "recording/journal.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "recording/save.h"
#include "tests/engine/fake_view.h"
#include "tests/hardening/hardening_support.h"
#include "tests/support/simulator_process.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

namespace calvora {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::PrivateTmpfs;
using testing::ScratchFolder;

RecordingDocument Recording(uint32_t samples, float first = 1.0f) {
    RecordingDocument document;
    uint32_t allocated = 0;
    document.BeginLiveStorage(samples, allocated);
    for (uint32_t i = 0; i < samples; ++i)
        document.AppendSample(first + static_cast<float>(i), 6.0f, 0, u"VDC", u"DC", u"V",
                              u" 12/08/26 15:04:05");
    return document;
}

std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool OnlyFiles(const std::filesystem::path& folder, std::set<std::string> names) {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        found.insert(entry.path().filename().string());
    return found == names;
}

bool Contains(std::u16string_view text, std::string_view part) {
    return toUtf8(text).find(part) != std::string::npos;
}

// A first save, then a second one that cannot complete: the first one's files stay as they were.
void ExpectFailedSaveKeepsTheOldFiles(const std::filesystem::path& folder, const RecordingDocument& bigger,
                                      std::string_view reason, const std::function<void()>& breakFolder) {
    RecordingState state;
    const RecordingDocument first = Recording(3);
    ASSERT_TRUE(SaveDocument(first, folder / "run.recorder", state));
    const std::string oldRecord = FileBytes(folder / "run.recorder");
    const std::string oldText = FileBytes(folder / "run.csv");
    breakFolder();

    state.recordingDocument = const_cast<RecordingDocument*>(&bigger);
    state.dataSaved = false;
    const Outcome<void> saved = SaveDocument(bigger, folder / "run.recorder", state);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(Contains(saved.reason(), reason)) << toUtf8(saved.reason());
    EXPECT_TRUE(Contains(saved.reason(), "run.")) << "the message names the file";
    EXPECT_FALSE(state.dataSaved);
    EXPECT_EQ(FileBytes(folder / "run.recorder"), oldRecord);
    EXPECT_EQ(FileBytes(folder / "run.csv"), oldText);
    EXPECT_TRUE(OnlyFiles(folder, {"run.recorder", "run.csv"})) << "no temporary file is left behind";
}

TEST(FailurePaths, SavingOntoAFullDeviceKeepsTheOldFiles) {
    ScratchFolder folder;
    PrivateTmpfs small(folder / "small", "size=96k");
    if (!small.mounted()) {
        // Without mounting rights: the writer still reports a device that takes nothing.
        class FullDevice final : public ByteSink {
        public:
            FullDevice() : fd_(::open("/dev/full", O_WRONLY | O_CLOEXEC)) {}
            ~FullDevice() override { ::close(fd_); }
            bool Write(const uint8_t* data, size_t size) override {
                return ::write(fd_, data, size) == ssize_t(size);
            }

        private:
            int fd_;
        } full;
        EXPECT_FALSE(WriteRecord(Recording(10), full));
        GTEST_SKIP() << "no private tmpfs (not root?): only /dev/full was tried";
    }
    const RecordingDocument bigger = Recording(5000);
    ExpectFailedSaveKeepsTheOldFiles(folder / "small", bigger, "No space left on device", [] {});
}

TEST(FailurePaths, SavingIntoAReadOnlyFolderKeepsTheOldFiles) {
    ScratchFolder folder;
    PrivateTmpfs readOnly(folder / "ro", "size=1m");
    if (!readOnly.mounted()) {
        // Root ignores permissions; a folder that is really a file stops everyone.
        std::ofstream(folder / "file") << "x";
        RecordingState state;
        const Outcome<void> saved = SaveDocument(Recording(2), folder / "file" / "run.recorder", state);
        EXPECT_FALSE(saved);
        EXPECT_TRUE(Contains(saved.reason(), "Not a directory")) << toUtf8(saved.reason());
        GTEST_SKIP() << "no private tmpfs (not root?): only a file as folder was tried";
    }
    const RecordingDocument bigger = Recording(20);
    ExpectFailedSaveKeepsTheOldFiles(folder / "ro", bigger, "Read-only file system",
                                     [&] { ASSERT_TRUE(readOnly.RemountReadOnly()); });

    // The settings file and the journal fail there with a reason too, and change nothing.
    const SettingsFile settings((folder / "ro" / "calvora" / "ZAZEDOVADIZO.ini").string());
    const Outcome<void> written = settings.WritePort("Multimeter", 5, "");
    EXPECT_FALSE(written);
    EXPECT_TRUE(Contains(written.reason(), "ZAZEDOVADIZO.ini")) << toUtf8(written.reason());
    EXPECT_EQ(settings.ReadPortNumber("Multimeter").value(), 3);

    Journal journal(folder / "ro" / "state");
    journal.Record(0, {1.0f, 6.0f, 0, u"VDC", u"DC", u"V", u" 12/08/26 15:04:05"});
    journal.Record(1, {2.0f, 6.0f, 0, u"VDC", u"DC", u"V", u" 12/08/26 15:04:05"});
    const Outcome<void> kept = journal.kept();
    EXPECT_FALSE(kept);
    EXPECT_TRUE(Contains(kept.reason(), "Read-only file system")) << toUtf8(kept.reason());
    EXPECT_EQ(journal.Sync().reason(), kept.reason());
}

TEST(FailurePaths, AJournalOnAFullDeviceKeepsEveryWholeSampleAndSaysSo) {
    ScratchFolder folder;
    PrivateTmpfs small(folder / "small", "size=32k");
    if (!small.mounted())
        GTEST_SKIP() << "no private tmpfs (not root?)";
    Journal journal(folder / "small");
    uint32_t row = 0;
    for (; row < 20000 && journal.kept(); ++row) {
        journal.Record(row, {float(row), 6.0f, 0, u"VDC", u"DC", u"V", u" 12/08/26 15:04:05"});
        if (row % 50 == 49)
            journal.Sync();
    }
    const Outcome<void> kept = journal.kept();
    ASSERT_FALSE(kept) << "32 KiB cannot hold 20000 samples";
    EXPECT_TRUE(Contains(kept.reason(), "No space left on device")) << toUtf8(kept.reason());
    const Outcome<RecordingDocument> recoveredOutcome = RecoverJournal(journal.path());
    ASSERT_TRUE(recoveredOutcome) << toUtf8(recoveredOutcome.reason());
    const RecordingDocument& recovered = recoveredOutcome.value();
    EXPECT_GE(recovered.sampleCount(), 100u);
    EXPECT_EQ(std::filesystem::file_size(journal.path()) > 0, true);
    for (uint32_t r = 0; r < recovered.sampleCount(); ++r)
        ASSERT_EQ(recovered.value(r, 0), float(r));
}

// On Linux a rename replaces a file even while another program has it open; that program keeps the
// old content, and the name shows the old file until the new one is complete.
TEST(FailurePaths, AFileAnotherProgramHoldsIsReplacedOnlyWhenTheNewOneIsComplete) {
    ScratchFolder folder;
    const std::filesystem::path target = folder / "held.recorder";
    RecordingState state;
    ASSERT_TRUE(SaveDocument(Recording(3), target, state));
    const std::string old = FileBytes(target);

    ChildProcess holder({"/bin/sh", "-c",
                         "exec 3<\"$1\"; echo holding; read line; od -An -v -tx1 <&3 | tr -d ' \\n'; echo",
                         "sh", target.string()});
    ASSERT_EQ(holder.ReadLine(5000ms), "holding");

    MemorySink newBytes;
    WriteRecord(Recording(400, 7.0f), newBytes);
    AtomicFile file(target);
    ASSERT_TRUE(file.Open());
    const size_t half = newBytes.bytes.size() / 2;
    ASSERT_TRUE(file.sink().Write(newBytes.bytes.data(), half));
    EXPECT_EQ(FileBytes(target), old) << "half a new file never shows under the name";
    ASSERT_TRUE(file.sink().Write(newBytes.bytes.data() + half, newBytes.bytes.size() - half));
    ASSERT_TRUE(file.Finish());
    EXPECT_EQ(FileBytes(target), old);
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(FileBytes(target), std::string(newBytes.bytes.begin(), newBytes.bytes.end()));

    // The holder still reads the old file whole.
    ASSERT_TRUE(holder.Write("go\n"));
    std::string oldHex;
    for (unsigned char c : old) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", c);
        oldHex += pair;
    }
    EXPECT_EQ(holder.ReadLine(5000ms), oldHex);
}

// /dev/null, /dev/full and /dev/stdout as targets of calvora-cli running as root, which could replace
// them: it runs in a mount namespace of its own whose /dev is a fresh tmpfs holding copies of them, so a
// writer that replaced one spoils only that copy. The script's exit code says which check failed.
TEST(FailurePaths, DevicesAndStandardOutputAreWrittenNotReplaced) {
    ScratchFolder folder;
    const std::string cli = testing::BuildPath("tools/cli/calvora-cli");
    const std::string record = (folder / "run.recorder").string();
    RecordingState state;
    ASSERT_TRUE(SaveDocument(Recording(3), record, state));
    const char* script = R"sh(cli=$1; rec=$2; cd "$3" || exit 9
"$cli" convert "$rec" /dev/null || exit 10
[ -c /dev/null ] || exit 11
"$cli" export "$rec" /dev/null || exit 12
[ -c /dev/null ] || exit 13
"$cli" convert "$rec" /dev/full 2>/dev/null && exit 14
[ -c /dev/full ] || exit 15
"$cli" convert "$rec" /dev/stdout >out.recorder || exit 16
[ -L /dev/stdout ] || exit 17
cmp -s out.recorder "$rec" || exit 18
"$cli" convert "$rec" /dev/stdout | cmp -s - "$rec" || exit 19
[ "$(ls -A /dev | wc -l)" -eq 6 ] || exit 20
exit 0)sh";
    const pid_t child = ::fork();
    if (child == 0) {
        // Only system calls between fork and exec.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0)
            ::_exit(77);
        if (::mknod("/dev/null", S_IFCHR | 0666, makedev(1, 3)) != 0 ||
            ::mknod("/dev/full", S_IFCHR | 0666, makedev(1, 7)) != 0 ||
            ::symlink("/proc/self/fd", "/dev/fd") != 0 || ::symlink("/proc/self/fd/0", "/dev/stdin") != 0 ||
            ::symlink("/proc/self/fd/1", "/dev/stdout") != 0 ||
            ::symlink("/proc/self/fd/2", "/dev/stderr") != 0)
            ::_exit(78);
        ::execl("/bin/sh", "sh", "-c", script, "sh", cli.c_str(), record.c_str(), folder.path().c_str(),
                nullptr);
        ::_exit(79);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private mount namespace (not root?)";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "see the script for the check that failed";
}

struct BadFile {
    std::string name;
    std::function<void(const std::filesystem::path&)> make;
    ReadFailure failure;
    std::string message;
};

TEST(FailurePaths, BadFilesAreRefusedWithTheirReasonAndLeaveNoDocument) {
    ScratchFolder folder;
    MemorySink good;
    WriteRecord(Recording(2), good);
    const std::string bytes(good.bytes.begin(), good.bytes.end());
    auto withBytes = [](std::string content) {
        return [content](const std::filesystem::path& path) {
            std::ofstream(path, std::ios::binary) << content;
        };
    };
    std::string foreign = bytes;
    foreign[4] = 'X'; // "QX310/QM312"
    const std::vector<BadFile> cases = {
        {"empty", withBytes(""), ReadFailure::UnexpectedFormat, "Unexpected file format."},
        {"foreign", withBytes(foreign), ReadFailure::InvalidFormat, "Invalid Format!"},
        {"text", withBytes("time\tvalue\n1\t2\n"), ReadFailure::UnexpectedFormat, "Unexpected file format."},
        {"half", withBytes(bytes.substr(0, bytes.size() / 2)), ReadFailure::UnexpectedFormat,
         "Unexpected file format."},
        {"no trailer", withBytes(bytes.substr(0, bytes.size() - 1)), ReadFailure::UnexpectedFormat,
         "Unexpected file format."},
        {"folder", [](const std::filesystem::path& path) { std::filesystem::create_directory(path); },
         ReadFailure::CannotOpen, "Is a directory"},
        {"missing", [](const std::filesystem::path&) {}, ReadFailure::CannotOpen,
         "No such file or directory"},
    };
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path path = folder / c.name;
        c.make(path);
        RecordingDocument document;
        RecordingState state;
        testing::FakeView prompts;
        const auto read = OpenRecordFile(path, document, state, prompts);
        ASSERT_FALSE(read);
        EXPECT_EQ(read.kind(), c.failure);
        EXPECT_TRUE(Contains(read.reason(), c.message)) << toUtf8(read.reason());
        EXPECT_EQ(document.sampleCount(), 0u);
        ASSERT_EQ(prompts.messages.size(), 1u) << "the user is told";
        EXPECT_EQ(prompts.messages[0], read.reason());
        EXPECT_EQ(prompts.icons[0], MessageIcon::Exclamation);
        EXPECT_EQ(state.loadRejected, c.failure == ReadFailure::InvalidFormat);
    }
    // Every cut of a good file is refused, never half read.
    for (size_t length = 0; length < bytes.size(); ++length) {
        RecordingDocument document;
        const auto read = ReadRecord({good.bytes.data(), length}, document);
        ASSERT_FALSE(read) << "cut at " << length;
        ASSERT_EQ(read.kind(), ReadFailure::UnexpectedFormat) << "cut at " << length;
        ASSERT_EQ(document.sampleCount(), 0u);
    }
}

// Root reads everything, so the unreadable file is tried by a child that gave up root.
TEST(FailurePaths, AnUnreadableFileSaysPermissionDenied) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to another user";
    ScratchFolder folder;
    std::filesystem::permissions(folder.path(), std::filesystem::perms::all);
    const std::filesystem::path path = folder / "secret.recorder";
    RecordingState state;
    ASSERT_TRUE(SaveDocument(Recording(2), path, state));
    std::filesystem::permissions(path, std::filesystem::perms::none);

    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(3);
        RecordingDocument document;
        const auto read = ReadRecordFile(path, document);
        const bool told =
            !read && read.kind() == ReadFailure::CannotOpen && Contains(read.reason(), "Permission denied");
        ::_exit(told && document.sampleCount() == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: could not give up root; 1: wrong result";
}

} // namespace
} // namespace calvora
