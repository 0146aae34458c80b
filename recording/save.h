// Saving a document: the default name, the folder, the two file names derived from the chosen
// one, and writing both files so that a failure never destroys what was on disk before.
#pragma once

#include "recording/byte_sink.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace calvora {

class RecordingDocument;
class RecordingState;

// "Multimeter %y-%m-%d  %H.%M.%S" (two blanks) of the given local time.
std::u16string DefaultFileName(const std::tm& localTime);
std::u16string DefaultFileNameNow();

// The user's documents folder: XDG_DOCUMENTS_DIR from $XDG_CONFIG_HOME/user-dirs.dirs
// (~/.config when unset), else $HOME/Documents.
std::filesystem::path DocumentsFolder();
// DocumentsFolder() / "Multimeter", created (one level, failure ignored) when missing.
std::filesystem::path PrepareSaveFolder();

struct SavePaths {
    std::filesystem::path record; // base + ".recorder"
    std::filesystem::path text;   // base + ".csv"
};
// The base is the chosen path without its file name's last extension: data.xls gives data.recorder
// and data.csv, run.1.recorder gives run.1.*. A dot in a folder name is not an extension.
SavePaths DerivePaths(const std::filesystem::path& chosen);

struct SaveResult {
    bool ok = true;
    std::filesystem::path file; // the file that could not be written
    std::u16string reason;      // the system's reason
    // "Cannot save <file>: <reason>" for a message box or standard error.
    std::u16string message() const;
};

// Writes a temporary file beside `target` and renames it over the target once it is complete and
// on disk. Until Commit() the target is untouched; destroying an uncommitted file removes the
// temporary file.
class AtomicFile {
public:
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    SaveResult Open();
    ByteSink& sink();
    // Flushes, syncs and closes the temporary file (the result of every write so far).
    SaveResult Finish();
    // Renames the finished temporary file over the target.
    SaveResult Commit();

private:
    class FdSink;
    SaveResult Fail(int error);
    void Discard();

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    bool finished_ = false;
    bool committed_ = false;
    std::unique_ptr<FdSink> sink_;
};

// One file written through AtomicFile by `write`.
SaveResult WriteFileAtomically(const std::filesystem::path& target,
                               const std::function<bool(ByteSink&)>& write);

// The Save command after the dialog: writes the text export and the record file derived from
// `chosen`; both are replaced only when both are complete. dataSaved is set only on success and
// only for the live recording document.
SaveResult SaveDocument(const RecordingDocument& document, const std::filesystem::path& chosen,
                        RecordingState& state);

} // namespace calvora
