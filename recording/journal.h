// The crash journal of a live recording: every recorded sample is appended to a file in the user's
// state folder, so a crash, a power cut or a killed session loses at most the last moments of it. The
// file goes when the recording is saved or deliberately discarded; one left behind is offered for
// recovery at the next start.
//
// Threads: Record, Begin, Adopt, Sync and Remove belong to the owner's thread (the user-interface
// thread). Record only copies the sample into memory; a background thread writes and syncs it within
// kJournalSyncPeriod, so the recording hand-off never waits for the disk.
#pragma once

#include "protocol/outcome.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace calvora {

class RecordingDocument;

inline constexpr std::chrono::milliseconds kJournalSyncPeriod{250};

// $XDG_STATE_HOME/calvora, or ~/.local/state/calvora when it is unset or not absolute.
std::filesystem::path JournalFolder();

// One sample as the journal keeps it.
struct JournalSample {
    float value = 0;
    float fullScale = 0;
    int32_t lowLimit = 0;
    std::u16string_view functionName;
    std::u16string_view mode;
    std::u16string_view unit;
    std::u16string_view timeText;
};

class Journal {
public:
    explicit Journal(std::filesystem::path folder = JournalFolder());
    // Writes what is pending and closes the file but keeps it: only Remove says the samples are safe.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Row 0 starts a new journal file (the recording's first sample; the previous file of this journal
    // is removed, its samples were replaced). Further rows are appended in order.
    void Record(const RecordingDocument& document, uint32_t row);
    void Record(uint32_t row, const JournalSample& sample);

    // Takes over a file left by another session (after RecoverJournal), so that Remove or the next
    // recording removes it. False when this journal has a file already or another session holds it.
    bool Adopt(const std::filesystem::path& path);
    // Writes and syncs what is pending now; fails as kept() does.
    Outcome<void> Sync();
    // The recording was saved or discarded: stops journaling it and removes the file.
    void Remove();

    // The file of the current recording; empty when there is none.
    std::filesystem::path path() const;
    // Samples handed to Record since the file was started.
    uint32_t samples() const { return samples_; }
    // Success while every sample so far is kept; once the file could not be created or written, the
    // failure "Cannot keep the journal <file>: <reason>" (the recording goes on in memory only).
    Outcome<void> kept() const;

private:
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    bool Begin();
    void Close();
    void FlushLoop();
    // Writes `bytes` at the end of the file and syncs it; on failure cuts the file back to its last
    // complete record and marks the journal failed. Caller holds fileMutex_.
    bool WriteOut(const std::vector<uint8_t>& bytes);
    void Fail(int error);

    std::filesystem::path folder_;

    mutable std::mutex fileMutex_; // fd_, path_, written_, error_
    int fd_ = -1;
    std::filesystem::path path_;
    uint64_t written_ = 0;
    std::u16string error_;

    std::mutex pendingMutex_; // pending_, stop_
    std::condition_variable wake_;
    std::vector<uint8_t> pending_;
    bool stop_ = false;
    std::thread flusher_;

    uint32_t samples_ = 0;
    std::atomic<bool> failed_{false};
};

// A journal left by a session that ended without saving its recording.
struct LeftJournal {
    std::filesystem::path path;
    std::filesystem::file_time_type written; // its last write: about when the session ended
    uint32_t samples = 0;                    // complete samples it holds
    std::string program;                     // the program that wrote it; empty when its name does not say
};

// A recovered or discarded journal is kept this long (from then), in case it is needed after all.
inline constexpr std::chrono::hours kEndedJournalKept{24 * 30};

// The journals in `folder` that no running session holds, newest first. On the way, journals without a
// single complete sample are removed (there is nothing to offer) and so are journals recovered or
// discarded longer than kEndedJournalKept ago.
std::vector<LeftJournal> ListLeftJournals(const std::filesystem::path& folder = JournalFolder());

// The oldest of ListLeftJournals; nullopt when there is none.
std::optional<std::filesystem::path> FindLeftJournal(const std::filesystem::path& folder = JournalFolder());

// Every complete sample of the journal at `path` as an unsaved "RealTime Panel" document. A torn last
// record (the crash came in the middle of a write) is left out. Fails when the file cannot be read, is
// not a journal or holds no sample. The file is not touched.
Outcome<RecordingDocument> RecoverJournal(const std::filesystem::path& path);

enum class JournalEnd { Recovered, Discarded };
// The journal's samples were saved elsewhere, or the user does not want them: it is renamed to
// NAME.journal.recovered or NAME.journal.discarded, no longer offered, and removed by ListLeftJournals
// once kEndedJournalKept has passed. A file whose name does not end in ".journal" is left as it is.
Outcome<void> EndJournal(const std::filesystem::path& path, JournalEnd end);

// The user chose not to recover: EndJournal(path, JournalEnd::Discarded).
void DiscardJournal(const std::filesystem::path& path);

// Holds a left journal while it is recovered, as a running session holds its own: ListLeftJournals,
// other sessions and other recoveries pass over it meanwhile.
class JournalHold {
public:
    // Fails with the system's reason, or "in use by a running recording".
    static Outcome<JournalHold> Take(const std::filesystem::path& path);
    ~JournalHold();
    JournalHold(JournalHold&& other) noexcept;
    JournalHold& operator=(JournalHold&& other) noexcept;

private:
    explicit JournalHold(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// For the fuzzer and the tests: RecoverJournal on bytes in memory.
Outcome<RecordingDocument> RecoverJournalBytes(std::string_view bytes);

} // namespace calvora
