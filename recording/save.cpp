#include "recording/save.h"

#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "recording/text_export.h"

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

Outcome<void> SaveDocument(const RecordingDocument& document, const std::filesystem::path& chosen,
                           RecordingState& state) {
    const SavePaths paths = DerivePaths(chosen);
    AtomicFile record(paths.record);
    AtomicFile text(paths.text);
    Outcome<void> result = record.Open();
    if (result)
        result = text.Open();
    if (result && record.SameFileAs(text))
        result = CannotSave(paths.text, u"the same file as " + fromUtf8(paths.record.string()));
    if (!result)
        return result;
    WriteTextExport(document, text.sink());
    WriteRecord(document, record.sink());
    result = text.Finish();
    if (result)
        result = record.Finish();
    if (result)
        result = CommitPair(record, text);
    if (result && &document == state.recordingDocument)
        state.dataSaved = true;
    return result;
}

namespace {
bool CreateExclusively(const std::filesystem::path& path, int& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno;
        return false;
    }
    ::close(fd);
    return true;
}

// Removes a claimed file unless something else than the empty claim is there now.
void GiveBack(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
        ::unlink(path.c_str());
}
} // namespace

Outcome<SavePaths> SaveDocumentUnderNewName(const RecordingDocument& document,
                                            const std::filesystem::path& base, RecordingState& state) {
    for (int number = 1; number < 10000; ++number) {
        std::filesystem::path candidate = base;
        if (number > 1)
            candidate += " (" + std::to_string(number) + ")";
        const SavePaths paths = {std::filesystem::path(candidate) += ".recorder",
                                 std::filesystem::path(candidate) += ".csv"};
        int error = 0;
        if (!CreateExclusively(paths.record, error)) {
            if (error == EEXIST)
                continue;
            return CannotSave(paths.record, fromUtf8(std::strerror(error)));
        }
        if (!CreateExclusively(paths.text, error)) {
            GiveBack(paths.record);
            if (error == EEXIST)
                continue;
            return CannotSave(paths.text, fromUtf8(std::strerror(error)));
        }
        const Outcome<void> saved = SaveDocument(document, paths.record, state);
        if (!saved) {
            GiveBack(paths.record);
            GiveBack(paths.text);
            return saved.failure();
        }
        return paths;
    }
    return CannotSave(std::filesystem::path(base) += ".recorder", fromUtf8(std::strerror(EEXIST)));
}

} // namespace calvora
