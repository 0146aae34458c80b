#include "link/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace calvora {

namespace {

// The limit Linux itself puts on a chain of links.
constexpr int kMaxLinkHops = 40;

bool Fail(std::string* error, std::string reason) {
    if (error)
        *error = std::move(reason);
    return false;
}

std::string ErrnoText(int error) {
    char buffer[160];
    // GNU strerror_r: returns the text, which may or may not live in `buffer`.
    return strerror_r(error, buffer, sizeof buffer);
}

std::string NotRegular(mode_t mode) {
    const char* kind = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISDIR(mode)  ? "a folder"
                       : S_ISSOCK(mode) ? "a socket"
                                        : nullptr;
    return kind ? std::string("it is ") + kind + ", not a regular file" : "it is not a regular file";
}

std::string TooLarge(size_t limit) {
    return "it is larger than " +
           (limit % 1024 == 0 ? std::to_string(limit / 1024) + " KiB" : std::to_string(limit) + " bytes");
}

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

// The file a chain of symbolic links ends at (which need not exist); `path` itself when it is no link.
std::optional<std::string> FinalTarget(std::string path, std::string* error) {
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<size_t>(length) >= target.size()) {
            Fail(error, ErrnoText(length < 0 ? errno : ENAMETOOLONG));
            return std::nullopt;
        }
        target.resize(static_cast<size_t>(length));
        // A relative target is relative to the folder holding the link.
        if (!target.empty() && target[0] != '/') {
            const auto slash = path.rfind('/');
            if (slash != std::string::npos)
                target = path.substr(0, slash + 1) + target;
        }
        path = std::move(target);
    }
    Fail(error, ErrnoText(ELOOP));
    return std::nullopt;
}

std::string RandomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

void SyncFolder(const std::string& folder) {
    const Descriptor directory{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    // Makes the rename itself durable; a file system that cannot sync folders loses nothing else.
    if (directory.fd >= 0)
        ::fsync(directory.fd);
}

} // namespace

std::optional<std::string> ReadBoundedFile(const std::string& path, size_t limit, std::string* error) {
    if (error)
        error->clear();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT)
            Fail(error, ErrnoText(errno));
        return std::nullopt;
    }
    // Checked before opening: opening a FIFO waits for a writer, opening a device may act on it.
    if (!S_ISREG(info.st_mode)) {
        Fail(error, NotRegular(info.st_mode));
        return std::nullopt;
    }
    if (static_cast<unsigned long long>(info.st_size) > limit) {
        Fail(error, TooLarge(limit));
        return std::nullopt;
    }
    // Non-blocking all the same, in case something else was put there since the check.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0) {
        if (errno != ENOENT)
            Fail(error, ErrnoText(errno));
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        Fail(error, NotRegular(info.st_mode));
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            Fail(error, ErrnoText(errno));
            return std::nullopt;
        }
        if (got == 0)
            return text;
        text.append(buffer, static_cast<size_t>(got));
        // The size checked above may have been stale (a file that grows, or one whose size the
        // system does not report): the limit holds for what is actually read.
        if (text.size() > limit) {
            Fail(error, TooLarge(limit));
            return std::nullopt;
        }
    }
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error) {
    const auto target = FinalTarget(path, error);
    if (!target)
        return false;
    struct stat existing {};
    const bool exists = ::stat(target->c_str(), &existing) == 0;
    if (!exists && errno != ENOENT)
        return Fail(error, ErrnoText(errno));
    if (exists) {
        if (!S_ISREG(existing.st_mode))
            return Fail(error, NotRegular(existing.st_mode));
        // A file made read-only stays as it is, as it would for a write in place; opening a regular
        // file for writing without truncating it changes nothing.
        const Descriptor probe{::open(target->c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
        if (probe.fd < 0)
            return Fail(error, ErrnoText(errno));
    }

    const auto slash = target->rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target->substr(0, slash + 1);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = folder + ".calvora-" + RandomSuffix();
        // 0666 lets the umask decide a new file's permissions; an existing file's are copied below.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    exists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            return Fail(error, ErrnoText(errno));
    }
    if (fd < 0)
        return Fail(error, ErrnoText(EEXIST));

    auto discard = [&](int why) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.c_str());
        return Fail(error, ErrnoText(why));
    };
    const char* data = content.data();
    size_t left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return discard(written < 0 ? errno : EIO);
        data += written;
        left -= static_cast<size_t>(written);
    }
    if (exists) {
        // Only root may give a file to another owner: that keeps a file root rewrote the user's own.
        // Anyone else ends up owning the new file, as with any replaced file.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
            const int ignored = ::fchown(fd, existing.st_uid, existing.st_gid);
            (void)ignored;
        }
        if (::fchmod(fd, existing.st_mode & 0777) != 0)
            return discard(errno);
    }
    if (::fsync(fd) != 0)
        return discard(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return discard(errno);
    if (::rename(temporary.c_str(), target->c_str()) != 0)
        return discard(errno);
    SyncFolder(folder.empty() ? std::string(".") : folder);
    return true;
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
