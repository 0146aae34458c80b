// The continuous log file (".calvlog"): an SQLite database in WAL mode that any SQLite tool can read.
//
//   meta(key TEXT PRIMARY KEY, value TEXT)            model, started_utc, application, receiver, stopped_utc
//   state(id, function, mode, unit, divisor, full_scale, low_limit, flags)
//   sample(id INTEGER PRIMARY KEY, t, count, state)   t: UTC ms; count NULL for an overload; ids from 1
//   gap(id, start_ms, end_ms, reason, before_sample)  end_ms NULL while the gap lasts
//   summary(bucket, first_ms, last_ms, min, max, first, last)   every 256 samples, for a fast first chart
//   view readings(time_utc, value, unit, function, mode, full_scale, meter)   in receive order
//   view gaps(start_utc, end_utc, reason)
//
// The file's application id (offset 68 of its header, "CALV") tells it from other SQLite files.
#pragma once

#include "logging/log_document.h"
#include "protocol/outcome.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calvora {

class SqliteDatabase;

inline constexpr std::string_view kLogExtension = ".calvlog";
inline constexpr int32_t kLogApplicationId = 0x43414C56; // "CALV"
inline constexpr int32_t kLogSchemaVersion = 1;

// "2026-12-09T08:15:02.125Z".
std::string FormatIsoUtc(int64_t utcMs);
// ISO 8601 date and time: "2026-12-09T08:15:02Z", "...02.125Z", "...+01:00", a blank instead of the
// "T"; without a zone it is local time. Empty when the text is no such time.
std::optional<int64_t> ParseIsoTime(std::string_view text);

// Creates the tables and views in a new, empty database and writes `meta`.
Outcome<void> CreateLogSchema(SqliteDatabase& db, const std::map<std::string, std::string>& meta);

// What opening a log reads before its readings: facts, states, gaps and the stored summary.
struct LogOverview {
    std::map<std::string, std::string> meta;
    std::vector<LogState> states;
    std::vector<LogGap> gaps;
    std::vector<LogBucket> buckets; // the last one may hold fewer than 256 readings
    uint64_t readingCount = 0;
    // The writer has stopped: the file holds "stopped_utc".
    bool finished() const { return meta.count("stopped_utc") != 0; }
};

// A log file opened for reading, also while another program still writes it.
class LogFileReader {
public:
    // Fails with a reason the user can read: not a Calvora log, a damaged file, a newer format.
    static Outcome<std::unique_ptr<LogFileReader>> Open(const std::filesystem::path& path);
    ~LogFileReader();

    Outcome<LogOverview> ReadOverview();
    // Reads between these two see the file as it was at the first: states and the readings that use them
    // agree while another program goes on writing.
    Outcome<void> BeginSnapshot();
    void EndSnapshot();
    Outcome<std::map<std::string, std::string>> ReadMeta();
    Outcome<std::vector<LogState>> ReadStates();
    Outcome<std::vector<LogGap>> ReadGaps();
    Outcome<uint64_t> ReadCount();
    // The readings from index `first` on (at most `limit`), in order, appended to `log` without telling
    // its listeners; returns how many were read. States must be in `log` already.
    Outcome<uint64_t> ReadReadings(uint64_t first, uint64_t limit, LogDocument& log);

private:
    friend class LogFollower;
    explicit LogFileReader(std::unique_ptr<SqliteDatabase> db);
    std::unique_ptr<SqliteDatabase> db_;
};

// Reads the whole log: facts, states, gaps and every reading.
Outcome<std::unique_ptr<LogDocument>> LoadLogFile(const std::filesystem::path& path);

// True when the file begins like a log: SQLite's header with the log's application id.
bool LooksLikeLogFile(const std::filesystem::path& path);

// What a poll of a followed log found.
struct LogChanges {
    uint64_t readings = 0;
    bool gapsOrFacts = false;
    bool any() const { return readings > 0 || gapsOrFacts; }
};

// Follows a log another program is still writing: each Poll appends what was committed since.
class LogFollower {
public:
    explicit LogFollower(std::filesystem::path path) : path_(std::move(path)) {}
    // Appends new readings (telling the listeners), takes new states, gaps and facts.
    Outcome<LogChanges> Poll(LogDocument& log);

private:
    std::filesystem::path path_;
    std::unique_ptr<LogFileReader> reader_;
};

} // namespace calvora
