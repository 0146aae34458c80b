#include "link/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace calvora {

namespace {
void SetError(std::string* error, const std::string& what) {
    if (error)
        *error = what + ": " + std::strerror(errno);
}
} // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        SetError(error, "cannot create a file beside " + path);
        return false;
    }
    const char* data = content.data();
    size_t left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            SetError(error, "cannot write " + path);
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    // mkstemp creates 0600; settings are the user's own but readable like other config files.
    ::fchmod(fd, 0644);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        SetError(error, "cannot write " + path);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        SetError(error, "cannot replace " + path);
        ::unlink(temporary.c_str());
        return false;
    }
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
