// Writing a file so that no failure, crash or interrupt leaves half of it under its name.
//
// A regular file, or a name not taken yet, is written to a temporary file with a short name beside it,
// synced, and renamed over it. A symbolic link is followed to the file it names, which is replaced in
// its own folder, so the link stays a link. A FIFO, a character device and standard output ("-",
// /dev/stdout, /dev/fd/N) cannot be replaced and are written directly. A folder, a block device or a
// socket is refused before anything is written.
//
// While a temporary file exists it is listed for SIGINT, SIGTERM and SIGHUP: a program that does not
// handle those signals itself removes it (and puts back a file replaced half way through a pair, see
// CommitKeepingPrevious) before the signal ends it.
#pragma once

#include "protocol/outcome.h"
#include "recording/byte_sink.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace calvora {

// "Cannot save <file>: <reason>", the failure of every write below, for a message box or standard error.
Failure<> CannotSave(const std::filesystem::path& file, std::u16string_view reason);

class AtomicFile {
public:
    // `target` "-" is standard output.
    explicit AtomicFile(std::filesystem::path target);
    // Removes an uncommitted temporary file; a previous file kept aside is dropped (the commit stands).
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Follows links, refuses what cannot be written, and opens the temporary file (or the FIFO, device
    // or descriptor). The target itself is not touched yet.
    Outcome<void> Open();
    ByteSink& sink();
    // Flushes, syncs and closes (the outcome of every write so far).
    Outcome<void> Finish();
    // Renames the finished temporary file over the target.
    Outcome<void> Commit();
    // Commit for the first file of a pair: the replaced file (or the fact that there was none) is kept
    // until DropPrevious, so that RestorePrevious can undo the commit if the second file fails.
    Outcome<void> CommitKeepingPrevious();
    void RestorePrevious();
    void DropPrevious();

    // True for a FIFO, a character device or a descriptor: nothing to rename, nothing to undo.
    bool writesDirectly() const { return direct_; }
    // Whether two opened files would end up as the same file.
    bool SameFileAs(const AtomicFile& other) const;

private:
    class FdSink;
    Failure<> Fail(int error);
    Failure<> FailWith(std::u16string_view reason);
    Outcome<void> OpenDirect(const char* path, int descriptor);
    int KeepPreviousAside();
    void Discard();

    std::filesystem::path target_;
    std::string name_;      // of the file really written, in folder_
    int folder_ = -1;       // the folder of the file really written
    std::string temporary_; // in folder_
    std::string previous_;  // the replaced file kept aside, in folder_
    int fd_ = -1;
    int cleanupSlot_ = -1;  // temporary_ listed for the signal handler
    int previousSlot_ = -1; // how to undo the commit on a signal
    bool direct_ = false;
    bool finished_ = false;
    bool committed_ = false;
    bool keptPrevious_ = false;
    dev_t device_ = 0; // identity: folder (or direct file) and name
    ino_t inode_ = 0;
    std::unique_ptr<FdSink> sink_;
};

// Commits two finished files as one: when the second cannot be put in place, the first file's old
// content is put back.
Outcome<void> CommitPair(AtomicFile& first, AtomicFile& second);

// One file written through AtomicFile by `write`.
Outcome<void> WriteFileAtomically(const std::filesystem::path& target,
                                  const std::function<bool(ByteSink&)>& write);
// The same for bytes in memory.
Outcome<void> WriteFileAtomically(const std::filesystem::path& target, std::string_view content);

// mkdir -p; returns whether the directory exists afterwards.
bool CreateDirectories(const std::string& path);

// The call that makes a written file durable (fsync). Tests put in one that fails, to see what a
// failing disk does to a save; returns the call it replaces.
using SyncCall = int (*)(int fd);
SyncCall ReplaceSyncCall(SyncCall call);

} // namespace calvora
