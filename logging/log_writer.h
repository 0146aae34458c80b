// Writes a continuous log's file on a thread of its own. The caller hands each reading over at once (a copy
// under a lock, nothing more); the thread commits whatever has gathered every 200 ms and at close, each
// commit synced to the disk, so a crash, a kill or a power cut loses at most the last quarter second and a
// slow disk never holds up the program.
#pragma once

#include "logging/log_document.h"
#include "logging/log_set.h"
#include "protocol/outcome.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace calvora {

class SqliteDatabase;

class LogWriter {
public:
    static constexpr std::chrono::milliseconds kCommitInterval{200};

    // Creates the file, which must not exist yet, with its tables, `meta` and the meters whose readings it
    // takes (meter 0, 1 ... below), and starts the thread.
    static Outcome<std::unique_ptr<LogWriter>> Create(const std::filesystem::path& path,
                                                      const std::map<std::string, std::string>& meta,
                                                      const std::vector<LogMeterFacts>& meters);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // State `id` of the log's states (shared by its meters); added before the first reading that uses it.
    void AddState(uint16_t id, const LogState& state);
    // Meter `meter`'s next reading; `value` is what the summary keeps of it (NaN for an overload).
    void Append(size_t meter, int64_t timeMs, std::optional<int32_t> count, uint16_t state, float value);
    // Gap number `index` of the file (in the order the gaps of every meter opened) as it is now; `gap.before`
    // counts the meter's own readings.
    void PutGap(size_t index, size_t meter, const LogGap& gap);
    void PutMeta(const std::string& key, const std::string& value);

    // Commits what is left, folds the write-ahead log into the file and closes it. The first failure of
    // the writer, if any. Later calls return the same.
    Outcome<void> Close();
    // Writing has stopped on this failure (a full disk, a file that went away); fine until then.
    Outcome<void> health() const;
    // Readings in the file: every meter's, or one meter's.
    uint64_t committedReadings() const { return committed_.load(); }
    uint64_t committedReadings(size_t meter) const;
    // The file and its write-ahead log together.
    uintmax_t fileBytes() const;
    const std::filesystem::path& path() const { return path_; }

private:
    struct Reading {
        size_t meter;
        int64_t timeMs;
        std::optional<int32_t> count;
        uint16_t state;
        float value;
    };
    struct Batch {
        std::vector<std::pair<uint16_t, LogState>> states;
        std::vector<Reading> readings;
        struct Gap {
            size_t index;
            size_t meter;
            LogGap gap;
        };
        std::vector<Gap> gaps;
        std::vector<std::pair<std::string, std::string>> meta;
        bool empty() const { return states.empty() && readings.empty() && gaps.empty() && meta.empty(); }
    };
    class Statements;

    // The thread's own: a meter's readings written so far and the summary bucket being filled.
    struct MeterProgress {
        uint64_t written = 0;
        LogBucket bucket;
        uint64_t lastId = 0;  // the file's number of its last reading
        bool changed = false; // its bucket took readings in the batch being committed
    };

    LogWriter(std::filesystem::path path, std::unique_ptr<SqliteDatabase> db, size_t meters);
    void Run();
    Outcome<void> Commit(Batch& batch);
    void Fail(const std::u16string& reason);

    std::filesystem::path path_;
    std::unique_ptr<SqliteDatabase> db_;
    std::unique_ptr<Statements> statements_;
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Batch pending_;
    bool closing_ = false;
    std::optional<std::u16string> failure_;
    bool closed_ = false;

    std::atomic<uint64_t> committed_{0};
    std::vector<uint64_t> committedByMeter_; // under mutex_
    // The thread's own: readings written so far over every meter, and each meter's progress.
    uint64_t written_ = 0;
    std::vector<MeterProgress> meters_;
};

} // namespace calvora
