#include "recording/save.h"

#include "protocol/text.h"
#include "recording/recording_document.h"
#include "recording/record_file.h"
#include "recording/recording_state.h"
#include "recording/text_export.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace calvora {

std::u16string DefaultFileName(const std::tm& localTime) {
    char buffer[64];
    const size_t length = std::strftime(buffer, sizeof buffer, "Multimeter %y-%m-%d  %H.%M.%S", &localTime);
    return fromAscii({buffer, length});
}

std::u16string DefaultFileNameNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return DefaultFileName(local);
}

namespace {
std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The value of XDG_DOCUMENTS_DIR in a user-dirs.dirs file: "$HOME/..." or an absolute path,
// in double quotes. Anything else is ignored, as the XDG tools do.
std::filesystem::path DocumentsFromUserDirs(const std::filesystem::path& file, const std::string& home) {
    std::ifstream in(file);
    std::string line;
    std::filesystem::path found;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 18, "XDG_DOCUMENTS_DIR=") != 0)
            continue;
        std::string value = line.substr(start + 18);
        if (value.size() < 2 || value.front() != '"')
            continue;
        const size_t close = value.find('"', 1);
        if (close == std::string::npos)
            continue;
        value = value.substr(1, close - 1);
        std::string expanded;
        for (size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                expanded += value[++i];
            else
                expanded += value[i];
        }
        if (expanded.rfind("$HOME", 0) == 0 && (expanded.size() == 5 || expanded[5] == '/'))
            found = home + expanded.substr(5);
        else if (!expanded.empty() && expanded.front() == '/')
            found = expanded;
    }
    return found;
}
} // namespace

std::filesystem::path DocumentsFolder() {
    std::string home = Environment("HOME");
    if (home.empty()) {
        // Services and some sandboxes run without HOME; the password database still knows it.
        if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
            home = user->pw_dir;
    }
    std::string config = Environment("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/')
        config = home + "/.config";
    std::filesystem::path documents =
        DocumentsFromUserDirs(std::filesystem::path(config) / "user-dirs.dirs", home);
    if (documents.empty())
        documents = std::filesystem::path(home) / "Documents";
    return documents;
}

std::filesystem::path PrepareSaveFolder() {
    const std::filesystem::path folder = DocumentsFolder() / "Multimeter";
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored))
        std::filesystem::create_directory(folder, ignored);
    return folder;
}

SavePaths DerivePaths(const std::filesystem::path& chosen) {
    std::string name = chosen.filename().string();
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.resize(dot);
    const std::filesystem::path folder = chosen.parent_path();
    return {folder / (name + ".recorder"), folder / (name + ".csv")};
}

std::u16string SaveResult::message() const {
    return u"Cannot save " + fromUtf8(file.string()) + u": " + reason;
}

class AtomicFile::FdSink final : public ByteSink {
public:
    explicit FdSink(int fd) : fd_(fd) {}
    bool Write(const uint8_t* data, size_t size) override {
        while (error == 0 && size > 0) {
            const ssize_t written = ::write(fd_, data, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                error = written < 0 ? errno : EIO;
                break;
            }
            data += written;
            size -= static_cast<size_t>(written);
        }
        return error == 0;
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
    if (!committed_)
        Discard();
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

SaveResult AtomicFile::Fail(int error) {
    Discard();
    return {false, target_, fromUtf8(std::strerror(error))};
}

SaveResult AtomicFile::Open() {
    static std::atomic<unsigned> counter{0};
    const std::string name = target_.filename().string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = "." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
                                      std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
        const std::filesystem::path path = target_.parent_path() / temporary;
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temporary_ = path;
            sink_ = std::make_unique<FdSink>(fd_);
            // A replaced file keeps its permissions.
            struct stat existing {};
            if (::stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
                ::fchmod(fd_, existing.st_mode & 07777);
            return {};
        }
        if (errno != EEXIST)
            return Fail(errno);
    }
    return Fail(EEXIST);
}

ByteSink& AtomicFile::sink() {
    static RefusingSink refusing;
    if (!sink_ || fd_ < 0)
        return refusing;
    return *sink_;
}

SaveResult AtomicFile::Finish() {
    if (fd_ < 0)
        return Fail(EBADF);
    if (sink_->error != 0)
        return Fail(sink_->error);
    if (::fsync(fd_) != 0)
        return Fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        return Fail(errno);
    finished_ = true;
    return {};
}

SaveResult AtomicFile::Commit() {
    if (!finished_ || temporary_.empty())
        return Fail(EBADF);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        return Fail(errno);
    temporary_.clear();
    committed_ = true;
    // Make the rename itself durable; the data is already synced, so a failure here is not reported.
    std::filesystem::path folder = target_.parent_path();
    if (folder.empty())
        folder = ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

SaveResult WriteFileAtomically(const std::filesystem::path& target,
                               const std::function<bool(ByteSink&)>& write) {
    AtomicFile file(target);
    SaveResult result = file.Open();
    if (!result.ok)
        return result;
    const bool written = write(file.sink());
    result = file.Finish();
    if (result.ok && !written)
        return {false, target, fromUtf8(std::strerror(EIO))};
    return result.ok ? file.Commit() : result;
}

SaveResult SaveDocument(const RecordingDocument& document, const std::filesystem::path& chosen,
                        RecordingState& state) {
    const SavePaths paths = DerivePaths(chosen);
    AtomicFile record(paths.record);
    AtomicFile text(paths.text);
    SaveResult result = record.Open();
    if (result.ok)
        result = text.Open();
    if (!result.ok)
        return result;
    WriteTextExport(document, text.sink());
    WriteRecord(document, record.sink());
    result = text.Finish();
    if (result.ok)
        result = record.Finish();
    if (result.ok)
        result = record.Commit();
    if (result.ok)
        result = text.Commit();
    if (result.ok && &document == state.recordingDocument)
        state.dataSaved = true;
    return result;
}

} // namespace calvora
