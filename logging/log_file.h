// The continuous log file (".calvlog"): an SQLite database in WAL mode that any SQLite tool can read. One
// file holds the readings of one or more meters, each reading, gap and summary bucket tied to its meter.
//
//   meta(key TEXT PRIMARY KEY, value TEXT)            model, started_utc, application, receiver, stopped_utc
//   meter(id, name, receiver)                         ids from 1, in the order the meters were given
//   state(id, function, mode, unit, divisor, full_scale, low_limit, flags)   shared by the meters
//   sample(id INTEGER PRIMARY KEY, t, count, state, meter)   t: UTC ms; count NULL for an overload; ids
//                                                     from 1 in receive order over every meter
//   gap(id, start_ms, end_ms, reason, before_sample, meter)  end_ms NULL while the gap lasts; before_sample
//                                                     counts the meter's own readings
//   summary(meter, bucket, first_ms, last_ms, min, max, first, last, count, last_id)   every 256 of a
//                                                     meter's readings (its last bucket stored before it is
//                                                     full), for a fast first chart without reading them
//   view readings(time_utc, value, unit, function, mode, full_scale, meter, meter_name)   in receive order
//   view gaps(start_utc, end_utc, reason, meter_name)
//
// Files of the first format (user_version 1) have one receiver and no meter table (nor meter columns); they
// read as a log of one meter named "Multimeter".
//
// The file's application id (offset 68 of its header, "CALV") tells it from other SQLite files.
#pragma once

#include "logging/log_document.h"
#include "logging/log_set.h"
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
inline constexpr int32_t kLogSchemaVersion = 2;

// "2026-12-09T08:15:02.125Z".
std::string FormatIsoUtc(int64_t utcMs);
// ISO 8601 date and time: "2026-12-09T08:15:02Z", "...02.125Z", "...+01:00", a blank instead of the
// "T"; without a zone it is local time. Empty when the text is no such time.
std::optional<int64_t> ParseIsoTime(std::string_view text);

// Creates the tables and views in a new, empty database and writes `meta` and the meters (at least one).
Outcome<void> CreateLogSchema(SqliteDatabase& db, const std::map<std::string, std::string>& meta,
                              const std::vector<LogMeterFacts>& meters);

// One meter of a log's overview: its gaps and the stored summary of its readings.
struct LogMeterOverview {
    LogMeterFacts facts;
    std::vector<LogGap> gaps;
    std::vector<LogBucket> buckets; // the last one may hold fewer than 256 readings
    uint64_t readingCount = 0;
};

// What opening a log reads before its readings: facts, states, and each meter's gaps and summary.
struct LogOverview {
    std::map<std::string, std::string> meta;
    std::vector<LogState> states;
    std::vector<LogMeterOverview> meters;
    uint64_t readingCount = 0; // every meter's together
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
    // The meters in their order (the file's meter ids 1, 2 ...); `meta` gives an old file's receiver.
    Outcome<std::vector<LogMeterFacts>> ReadMeters(const std::map<std::string, std::string>& meta);
    Outcome<std::vector<LogState>> ReadStates();
    // Each of the `meters` meters' gaps, in the order they opened.
    Outcome<std::vector<std::vector<LogGap>>> ReadGaps(size_t meters);
    // The last reading's number over every meter.
    Outcome<uint64_t> ReadCount();
    // The readings after number `afterSample` (at most `limit`), in order, each appended to its meter's log
    // in `logs` (by meter; a null one skips that meter's readings) without telling the listeners. Moves
    // `afterSample` on to the last one read; returns how many were read. States must be in the logs already.
    Outcome<uint64_t> ReadReadings(uint64_t& afterSample, uint64_t limit,
                                   const std::vector<LogDocument*>& logs);
    // The file's format: 1 for a log of one receiver without meters, 2 since.
    int formatVersion() const { return version_; }

private:
    friend class LogFollower;
    LogFileReader(std::unique_ptr<SqliteDatabase> db, int version);
    std::unique_ptr<SqliteDatabase> db_;
    int version_;
};

// Reads the whole log: facts, states, and each meter's gaps and readings. Each meter's log is titled with
// its name; the one meter of a log of one receiver with the file's name.
Outcome<LogSet> LoadLogSet(const std::filesystem::path& path);
// Reads the log's first meter (the only one of a log of one receiver), titled with the file's name.
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
    // Follows from the reading after number `afterSample` (what a loader has read already).
    explicit LogFollower(std::filesystem::path path, uint64_t afterSample = 0)
        : path_(std::move(path)), afterSample_(afterSample) {}
    // Appends new readings to their meters' logs (telling the listeners), takes new states, gaps and
    // facts. A meter the set lacks is added, titled with its name.
    Outcome<LogChanges> Poll(LogSet& set);
    // The same for the log's first meter only.
    Outcome<LogChanges> Poll(LogDocument& log);
    uint64_t afterSample() const { return afterSample_; }

private:
    Outcome<LogChanges> Poll(LogSet& set, bool firstOnly);

    std::filesystem::path path_;
    std::unique_ptr<LogFileReader> reader_;
    uint64_t afterSample_;
};

} // namespace calvora
