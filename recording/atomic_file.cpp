#include "recording/atomic_file.h"

#include "protocol/text.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace calvora {

namespace {

std::atomic<SyncCall> syncCall{&::fsync};

// ------------------------------------------------------------------------------ signal clean-up

// Names the signal handler removes (or renames back) in their folder. Filled and read without locks:
// the handler only looks at armed entries, and an entry is armed after it is complete.
struct CleanupEntry {
    std::atomic<int> state{0};
    int folder = -1;
    char name[NAME_MAX + 1] = {};
    char restoreOver[NAME_MAX + 1] = {}; // empty: remove `name`; else rename `name` over it
};
constexpr int kFree = 0;
constexpr int kFilling = 1;
constexpr int kArmed = 2;
std::array<CleanupEntry, 32> cleanup;
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the entries");

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void CleanUpAndDie(int signal) {
    const int savedErrno = errno;
    for (CleanupEntry& entry : cleanup) {
        if (entry.state.load() != kArmed)
            continue;
        if (entry.restoreOver[0] != '\0')
            ::renameat(entry.folder, entry.name, entry.folder, entry.restoreOver);
        else
            ::unlinkat(entry.folder, entry.name, 0);
    }
    // The signal stays blocked until the handler returns; then its default action ends the program.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    errno = savedErrno;
}

// A program with its own handler (calvora-cli while it records) decides itself what a signal does;
// one without gets the clean-up. Checked at every open, so a handler put back later is seen.
void InstallCleanupHandlers() {
    for (const int signal : kCleanupSignals) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
            current.sa_handler != SIG_DFL)
            continue;
        struct sigaction action {};
        action.sa_handler = CleanUpAndDie;
        sigemptyset(&action.sa_mask);
        for (const int other : kCleanupSignals)
            sigaddset(&action.sa_mask, other);
        ::sigaction(signal, &action, nullptr);
    }
}

// Copies `text` into a fixed field, cut to fit and terminated. An empty view may have no data at all, which
// memcpy must not be given even for no bytes.
template <size_t N> void CopyField(char (&field)[N], std::string_view text) {
    const size_t length = std::min(text.size(), N - 1);
    if (length > 0)
        std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

void Fill(CleanupEntry& entry, int folder, std::string_view name, std::string_view restoreOver) {
    entry.folder = folder;
    CopyField(entry.name, name);
    CopyField(entry.restoreOver, restoreOver);
}

// -1 when every entry is taken: the file is then written without the clean-up.
int Arm(int folder, std::string_view name, std::string_view restoreOver = {}) {
    for (size_t i = 0; i < cleanup.size(); ++i) {
        int expected = kFree;
        if (cleanup[i].state.compare_exchange_strong(expected, kFilling)) {
            Fill(cleanup[i], folder, name, restoreOver);
            cleanup[i].state.store(kArmed);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void Rearm(int slot, int folder, std::string_view name, std::string_view restoreOver) {
    if (slot < 0)
        return;
    cleanup[slot].state.store(kFilling);
    Fill(cleanup[slot], folder, name, restoreOver);
    cleanup[slot].state.store(kArmed);
}

void Disarm(int& slot) {
    if (slot >= 0)
        cleanup[slot].state.store(kFree);
    slot = -1;
}

// ----------------------------------------------------------------------------------------- names

// Short, so that a target name of up to the file system's limit still leaves room; hidden, so that
// file managers do not show it; random enough that two programs never pick the same one.
std::string TemporaryName() {
    static std::atomic<uint64_t> counter{0};
    uint64_t x = (static_cast<uint64_t>(::getpid()) << 40) ^ counter.fetch_add(1) ^
                 static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    x += 0x9E3779B97F4A7C15ull; // splitmix64
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string name = ".calvora-";
    for (int i = 0; i < 10; ++i, x /= 36)
        name += kDigits[x % 36];
    return name + ".tmp";
}

// The descriptor a path stands for: "-", /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N and
// /proc/<this process>/fd/N. Writing through a copy of it keeps its offset and its append mode.
std::optional<int> DescriptorOf(const std::string& path) {
    if (path == "-" || path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    std::string_view rest;
    for (const std::string& prefix :
         {std::string("/dev/fd/"), std::string("/proc/self/fd/"), std::string("/proc/thread-self/fd/"),
          "/proc/" + std::to_string(::getpid()) + "/fd/"}) {
        if (path.compare(0, prefix.size(), prefix) == 0) {
            rest = std::string_view(path).substr(prefix.size());
            break;
        }
    }
    if (rest.empty() || rest.size() > 9 || rest.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return std::stoi(std::string(rest));
}

struct Resolved {
    std::filesystem::path path;
    std::optional<int> descriptor;
    int error = 0;
};

// Follows symbolic links of the last component, as open() does, but stops at a descriptor path and
// at a name that does not exist yet (a dangling link makes its target).
Resolved FollowLinks(const std::filesystem::path& target) {
    std::filesystem::path path = target;
    for (int hop = 0; hop < 40; ++hop) {
        if (const auto descriptor = DescriptorOf(path.string()))
            return {path, descriptor, 0};
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            return {path, std::nullopt, errno == ENOENT ? 0 : errno};
        if (!S_ISLNK(info.st_mode))
            return {path, std::nullopt, 0};
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length < 0)
            return {path, std::nullopt, errno};
        link.resize(static_cast<size_t>(length));
        const std::filesystem::path next(link);
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return {path, std::nullopt, ELOOP};
}

int OpenFolder(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES)
        fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); // writable, not listable
    return fd;
}

bool WriteAll(int fd, const uint8_t* data, size_t size, int& error) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = written < 0 ? errno : EIO;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

SyncCall ReplaceSyncCall(SyncCall call) {
    return syncCall.exchange(call ? call : &::fsync);
}

Failure<> CannotSave(const std::filesystem::path& file, std::u16string_view reason) {
    return Failure(u"Cannot save " + fromUtf8(file.string()) + u": " + std::u16string(reason));
}

class AtomicFile::FdSink final : public ByteSink {
public:
    explicit FdSink(int fd) : fd_(fd) {}
    bool Write(const uint8_t* data, size_t size) override {
        return error == 0 && WriteAll(fd_, data, size, error);
    }
    int error = 0;

private:
    int fd_;
};

namespace {
// Fails every write: the sink of a file that could not be opened.
class RefusingSink final : public ByteSink {
public:
    bool Write(const uint8_t*, size_t) override { return false; }
};
} // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
}

AtomicFile::~AtomicFile() {
    if (keptPrevious_)
        DropPrevious();
    if (!committed_)
        Discard();
    if (folder_ >= 0)
        ::close(folder_);
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlinkat(folder_, temporary_.c_str(), 0);
        temporary_.clear();
    }
    Disarm(cleanupSlot_);
}

Failure<> AtomicFile::Fail(int error) {
    return FailWith(fromUtf8(std::strerror(error)));
}

Failure<> AtomicFile::FailWith(std::u16string_view reason) {
    Discard();
    return CannotSave(target_, reason);
}

Outcome<void> AtomicFile::OpenDirect(const char* path, int descriptor) {
    fd_ = path ? ::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY) : ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    if (fd_ < 0)
        return Fail(errno);
    struct stat info {};
    if (::fstat(fd_, &info) == 0) {
        device_ = info.st_dev;
        inode_ = info.st_ino;
    }
    direct_ = true;
    sink_ = std::make_unique<FdSink>(fd_);
    return {};
}

Outcome<void> AtomicFile::Open() {
    InstallCleanupHandlers();
    const Resolved resolved = FollowLinks(target_);
    if (resolved.error != 0)
        return Fail(resolved.error);
    if (resolved.descriptor)
        return OpenDirect(nullptr, *resolved.descriptor);

    struct stat existing {};
    const bool exists = ::lstat(resolved.path.c_str(), &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode))
            return Fail(EISDIR);
        if (S_ISFIFO(existing.st_mode) || S_ISCHR(existing.st_mode))
            return OpenDirect(resolved.path.c_str(), -1);
        if (!S_ISREG(existing.st_mode))
            return FailWith(u"not a regular file, a FIFO or a character device");
        // A file made read-only stays as it is, as it would for a write in place; opening a regular file
        // for writing without truncating it changes nothing.
        const int probe = ::open(resolved.path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (probe < 0)
            return Fail(errno);
        ::close(probe);
    }

    folder_ = OpenFolder(resolved.path);
    if (folder_ < 0)
        return Fail(errno);
    name_ = resolved.path.filename().string();
    const long maxName = ::fpathconf(folder_, _PC_NAME_MAX);
    if (name_.empty() || name_ == "." || name_ == "..")
        return Fail(EISDIR);
    if (maxName > 0 && name_.size() > static_cast<size_t>(maxName))
        return Fail(ENAMETOOLONG);
    struct stat folderInfo {};
    if (::fstat(folder_, &folderInfo) == 0) {
        device_ = folderInfo.st_dev;
        inode_ = folderInfo.st_ino;
    }

    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = TemporaryName();
        // Listed before it exists, so no moment passes in which a signal would leave it behind.
        cleanupSlot_ = Arm(folder_, temporary_);
        fd_ = ::openat(folder_, temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0)
            break;
        const int error = errno;
        Disarm(cleanupSlot_);
        temporary_.clear();
        if (error != EEXIST)
            return Fail(error);
    }
    if (fd_ < 0)
        return Fail(EEXIST);
    if (exists) {
        // A replaced file keeps its permissions, and its owner when root saves over a user's file.
        ::fchmod(fd_, existing.st_mode & 07777);
        if (::geteuid() == 0 && (existing.st_uid != 0 || existing.st_gid != 0) &&
            ::fchown(fd_, existing.st_uid, existing.st_gid) == 0)
            ::fchmod(fd_, existing.st_mode & 07777);
    }
    sink_ = std::make_unique<FdSink>(fd_);
    return {};
}

ByteSink& AtomicFile::sink() {
    static RefusingSink refusing;
    if (!sink_ || fd_ < 0)
        return refusing;
    return *sink_;
}

Outcome<void> AtomicFile::Finish() {
    if (fd_ < 0)
        return Fail(EBADF);
    if (sink_->error != 0)
        return Fail(sink_->error);
    // A pipe or a terminal has nothing to sync.
    if (!direct_ && syncCall.load()(fd_) != 0)
        return Fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        return Fail(errno);
    finished_ = true;
    return {};
}

Outcome<void> AtomicFile::Commit() {
    if (!finished_)
        return Fail(EBADF);
    if (direct_) {
        committed_ = true;
        return {};
    }
    if (::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0)
        return Fail(errno);
    temporary_.clear();
    Disarm(cleanupSlot_);
    committed_ = true;
    // Make the rename itself durable; the data is already synced, so a failure here is not reported.
    ::fsync(folder_);
    return {};
}

// Keeps the file about to be replaced under a temporary name: a second link to it, or a copy where
// the file system has no hard links. previous_ stays empty when there is no file to keep. Returns 0 or
// the reason it could not be kept.
int AtomicFile::KeepPreviousAside() {
    const std::string aside = TemporaryName();
    previousSlot_ = Arm(folder_, aside);
    if (::linkat(folder_, name_.c_str(), folder_, aside.c_str(), 0) == 0) {
        previous_ = aside;
        return 0;
    }
    const int in = errno == ENOENT ? -1 : ::openat(folder_, name_.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        const int error = errno;
        Disarm(previousSlot_);
        return error == ENOENT ? 0 : error;
    }
    int error = 0;
    const int out = ::openat(folder_, aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        error = errno;
    uint8_t buffer[65536];
    while (error == 0) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0 || !WriteAll(out, buffer, static_cast<size_t>(n), error))
            break;
    }
    struct stat info {};
    if (error == 0 && ::fstat(in, &info) == 0)
        ::fchmod(out, info.st_mode & 07777);
    ::close(in);
    if (out >= 0 && ::close(out) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlinkat(folder_, aside.c_str(), 0);
        Disarm(previousSlot_);
        return error;
    }
    previous_ = aside;
    return 0;
}

Outcome<void> AtomicFile::CommitKeepingPrevious() {
    if (!finished_)
        return Fail(EBADF);
    if (direct_)
        return Commit();
    if (const int error = KeepPreviousAside(); error != 0)
        return Fail(error);
    if (::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) {
        const int error = errno;
        DropPrevious();
        return Fail(error);
    }
    temporary_.clear();
    Disarm(cleanupSlot_);
    committed_ = true;
    keptPrevious_ = true;
    // From now on a signal undoes the commit, as RestorePrevious would.
    if (previous_.empty()) {
        Disarm(previousSlot_);
        previousSlot_ = Arm(folder_, name_);
    } else {
        Rearm(previousSlot_, folder_, previous_, name_);
    }
    ::fsync(folder_);
    return {};
}

void AtomicFile::RestorePrevious() {
    if (!keptPrevious_)
        return;
    if (previous_.empty())
        ::unlinkat(folder_, name_.c_str(), 0);
    else
        ::renameat(folder_, previous_.c_str(), folder_, name_.c_str());
    previous_.clear();
    Disarm(previousSlot_);
    keptPrevious_ = false;
    ::fsync(folder_);
}

void AtomicFile::DropPrevious() {
    if (!previous_.empty())
        ::unlinkat(folder_, previous_.c_str(), 0);
    previous_.clear();
    Disarm(previousSlot_);
    keptPrevious_ = false;
}

bool AtomicFile::SameFileAs(const AtomicFile& other) const {
    return direct_ == other.direct_ && device_ == other.device_ && inode_ == other.inode_ &&
           name_ == other.name_ && (device_ != 0 || inode_ != 0);
}

Outcome<void> CommitPair(AtomicFile& first, AtomicFile& second) {
    if (Outcome<void> kept = first.CommitKeepingPrevious(); !kept)
        return kept;
    Outcome<void> committed = second.Commit();
    if (committed)
        first.DropPrevious();
    else
        first.RestorePrevious();
    return committed;
}

Outcome<void> WriteFileAtomically(const std::filesystem::path& target,
                                  const std::function<bool(ByteSink&)>& write) {
    AtomicFile file(target);
    if (Outcome<void> opened = file.Open(); !opened)
        return opened;
    const bool written = write(file.sink());
    Outcome<void> finished = file.Finish();
    if (!finished)
        return finished;
    if (!written)
        return CannotSave(target, fromUtf8(std::strerror(EIO)));
    return file.Commit();
}

Outcome<void> WriteFileAtomically(const std::filesystem::path& target, std::string_view content) {
    return WriteFileAtomically(target, [content](ByteSink& sink) {
        return sink.Write(reinterpret_cast<const uint8_t*>(content.data()), content.size());
    });
}

bool CreateDirectories(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !CreateDirectories(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

} // namespace calvora
