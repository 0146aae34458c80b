#include "logging/log_file.h"

#include "chart/time_axis.h"
#include "logging/sqlite_database.h"
#include "protocol/text.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <limits>

namespace calvora {

namespace {

constexpr int64_t kDayMs = 86'400'000;

// The time of a sample column as ISO 8601 UTC with milliseconds, in SQL.
#define CALVORA_ISO_TIME(column)                                                                             \
    "strftime('%Y-%m-%dT%H:%M:%S', " column " / 1000, 'unixepoch') || printf('.%03dZ', " column " % 1000)"

// clang-format off
constexpr const char* kSchema =
    "BEGIN;"
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT);"
    "CREATE TABLE meter(id INTEGER PRIMARY KEY, name TEXT NOT NULL, receiver TEXT NOT NULL);"
    "CREATE TABLE state(id INTEGER PRIMARY KEY, function TEXT NOT NULL, mode TEXT NOT NULL, unit TEXT NOT NULL,"
    " divisor INTEGER NOT NULL, full_scale REAL NOT NULL, low_limit REAL NOT NULL, flags INTEGER NOT NULL);"
    "CREATE TABLE sample(id INTEGER PRIMARY KEY, t INTEGER NOT NULL, count INTEGER, state INTEGER NOT NULL,"
    " meter INTEGER NOT NULL);"
    "CREATE TABLE gap(id INTEGER PRIMARY KEY, start_ms INTEGER NOT NULL, end_ms INTEGER, reason TEXT NOT NULL,"
    " before_sample INTEGER NOT NULL, meter INTEGER NOT NULL);"
    "CREATE TABLE summary(meter INTEGER NOT NULL, bucket INTEGER NOT NULL, first_ms INTEGER NOT NULL,"
    " last_ms INTEGER NOT NULL, min REAL, max REAL, first REAL, last REAL, count INTEGER NOT NULL,"
    " last_id INTEGER NOT NULL,"
    " PRIMARY KEY(meter, bucket));"
    // The first seven columns as logs of one receiver had them (users' queries rely on their order); the
    // meter's name comes last.
    "CREATE VIEW readings(time_utc, value, unit, function, mode, full_scale, meter, meter_name) AS "
    "SELECT " CALVORA_ISO_TIME("s.t") ", s.count * 1.0 / st.divisor, st.unit, st.function, st.mode,"
    " st.full_scale, (SELECT value FROM meta WHERE key = 'model'), m.name"
    " FROM sample AS s JOIN state AS st ON st.id = s.state JOIN meter AS m ON m.id = s.meter ORDER BY s.id;"
    "CREATE VIEW gaps(start_utc, end_utc, reason, meter_name) AS "
    "SELECT " CALVORA_ISO_TIME("g.start_ms") ", CASE WHEN g.end_ms IS NULL THEN NULL"
    " ELSE " CALVORA_ISO_TIME("g.end_ms") " END, g.reason, m.name"
    " FROM gap AS g JOIN meter AS m ON m.id = g.meter ORDER BY g.id;";
// clang-format on

#undef CALVORA_ISO_TIME

float NullableFloat(const SqliteStatement& row, int column) {
    return row.IsNull(column) ? std::numeric_limits<float>::quiet_NaN()
                              : static_cast<float>(row.Real(column));
}

Failure<NoKind> Damaged(const std::u16string& reason) {
    return Failure(u"The log file is damaged: " + reason);
}

// Runs a prepared query row by row; `take` reads each row and returns a failure to stop there. A query
// that cannot be prepared or stepped means a damaged file.
template <typename Take> Outcome<void> EachRow(Outcome<SqliteStatement>& query, Take&& take) {
    if (!query)
        return Damaged(query.reason());
    for (;;) {
        const auto stepped = query.value().Step();
        if (!stepped)
            return Damaged(stepped.reason());
        if (stepped.value() == SqliteStatement::Stepped::Done)
            return {};
        if (Outcome<void> taken = take(query.value()); !taken)
            return taken;
    }
}

// Reads the 2-digit (or 3, 4 ...) number at text[at], advancing `at`. Fails on anything else.
bool Number(std::string_view text, size_t& at, size_t digits, int& out) {
    if (at + digits > text.size())
        return false;
    out = 0;
    for (size_t i = 0; i < digits; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + (c - '0');
    }
    at += digits;
    return true;
}

} // namespace

std::string FormatIsoUtc(int64_t utcMs) {
    const int64_t day = FloorDiv(utcMs, kDayMs);
    const int64_t inDay = utcMs - day * kDayMs;
    const CivilDate date = CivilFromDays(day);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", date.year, date.month, date.day,
                  static_cast<int>(inDay / 3'600'000), static_cast<int>(inDay / 60'000 % 60),
                  static_cast<int>(inDay / 1000 % 60), static_cast<int>(inDay % 1000));
    return text;
}

std::optional<int64_t> ParseIsoTime(std::string_view text) {
    size_t at = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    if (!Number(text, at, 4, year) || at >= text.size() || text[at++] != '-' || !Number(text, at, 2, month) ||
        at >= text.size() || text[at++] != '-' || !Number(text, at, 2, day))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
        ++at;
        if (!Number(text, at, 2, hour) || at >= text.size() || text[at++] != ':' ||
            !Number(text, at, 2, minute))
            return std::nullopt;
        if (at < text.size() && text[at] == ':') {
            ++at;
            if (!Number(text, at, 2, second))
                return std::nullopt;
            if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
                ++at;
                // Fractions finer than a millisecond are cut.
                int digits = 0;
                while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
                    if (digits < 3)
                        millisecond = millisecond * 10 + (text[at] - '0');
                    ++digits;
                    ++at;
                }
                if (digits == 0)
                    return std::nullopt;
                for (; digits < 3; ++digits)
                    millisecond *= 10;
            }
        }
    }
    if (hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    const int64_t civil = DaysFromCivil({year, month, day});
    if (CivilFromDays(civil).day != day)
        return std::nullopt; // 31 June and the like
    const int64_t wallMs = ((civil * 24 + hour) * 60 + minute) * 60'000 + second * 1000 + millisecond;
    if (at == text.size()) {
        // No zone: the local clock, as the user reads the chart and the list.
        std::tm local{};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        local.tm_isdst = -1;
        const std::time_t seconds = std::mktime(&local);
        if (seconds == static_cast<std::time_t>(-1) && !(year == 1969 && month == 12 && day == 31))
            return std::nullopt;
        return int64_t{seconds} * 1000 + millisecond;
    }
    if (text[at] == 'Z' && at + 1 == text.size())
        return wallMs;
    if (text[at] != '+' && text[at] != '-')
        return std::nullopt;
    const int sign = text[at++] == '-' ? -1 : 1;
    int offsetHours = 0;
    int offsetMinutes = 0;
    if (!Number(text, at, 2, offsetHours))
        return std::nullopt;
    if (at < text.size() && text[at] == ':')
        ++at;
    if (at < text.size() && !Number(text, at, 2, offsetMinutes))
        return std::nullopt;
    if (at != text.size() || offsetHours > 23 || offsetMinutes > 59)
        return std::nullopt;
    return wallMs - sign * (offsetHours * 3'600'000 + offsetMinutes * 60'000);
}

Outcome<void> CreateLogSchema(SqliteDatabase& db, const std::map<std::string, std::string>& meta,
                              const std::vector<LogMeterFacts>& meters) {
    if (meters.empty())
        return Failure(u"A log needs at least one meter.");
    char pragmas[160];
    std::snprintf(pragmas, sizeof pragmas, "PRAGMA application_id = %d; PRAGMA user_version = %d;",
                  kLogApplicationId, kLogSchemaVersion);
    if (auto done = db.Execute(pragmas); !done)
        return done;
    // WAL: readers (another program, the same one following) never block the writer, and a crash leaves
    // the file as it was at the last commit without a recovery step of ours.
    if (auto done = db.Execute("PRAGMA journal_mode = WAL;"); !done)
        return done;
    if (auto done = db.Execute(kSchema); !done) {
        (void)db.Execute("ROLLBACK;");
        return done;
    }
    const auto rollBack = [&db](Outcome<void> failed) {
        (void)db.Execute("ROLLBACK;");
        return failed;
    };
    Outcome<SqliteStatement> insert =
        SqliteStatement::Prepare(db, "INSERT INTO meta(key, value) VALUES(?1, ?2)");
    if (!insert)
        return rollBack(insert.failure());
    for (const auto& [key, value] : meta) {
        insert.value().Bind(1, std::string_view(key));
        insert.value().Bind(2, std::string_view(value));
        if (auto done = insert.value().Run(); !done)
            return rollBack(done);
    }
    Outcome<SqliteStatement> meter =
        SqliteStatement::Prepare(db, "INSERT INTO meter(id, name, receiver) VALUES(?1, ?2, ?3)");
    if (!meter)
        return rollBack(meter.failure());
    for (size_t k = 0; k < meters.size(); ++k) {
        meter.value().Bind(1, static_cast<int64_t>(k + 1));
        meter.value().Bind(2, std::string_view(meters[k].name));
        meter.value().Bind(3, std::string_view(meters[k].receiver));
        if (auto done = meter.value().Run(); !done)
            return rollBack(done);
    }
    return db.Execute("COMMIT;");
}

// ------------------------------------------------------------------------------------------ reader

LogFileReader::LogFileReader(std::unique_ptr<SqliteDatabase> db, int version)
    : db_(std::move(db)), version_(version) {
}

LogFileReader::~LogFileReader() = default;

bool LooksLikeLogFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::array<char, 72> header{};
    if (!in.read(header.data(), header.size()))
        return false;
    static constexpr char kMagic[] = "SQLite format 3";
    if (std::string_view(header.data(), 16) != std::string_view(kMagic, 16))
        return false;
    const auto byte = [&](int i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(header[static_cast<size_t>(i)]));
    };
    const uint32_t id = byte(68) << 24 | byte(69) << 16 | byte(70) << 8 | byte(71);
    return id == static_cast<uint32_t>(kLogApplicationId);
}

Outcome<std::unique_ptr<LogFileReader>> LogFileReader::Open(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return Failure(error ? fromUtf8(error.message()) : std::u16string(u"not a regular file"));
    if (!LooksLikeLogFile(path))
        return Failure(u"This is not a Calvora log file.");
    Outcome<SqliteDatabase> db = SqliteDatabase::Open(path, SqliteDatabase::Mode::ReadOnly);
    if (!db)
        return db.failure();
    auto owned = std::make_unique<SqliteDatabase>(std::move(db).value());
    // Mapped pages spare a copy of every page read; a day's log is read in one pass.
    (void)owned->Execute("PRAGMA mmap_size = 1073741824;");
    Outcome<SqliteStatement> version = SqliteStatement::Prepare(*owned, "PRAGMA user_version");
    if (!version)
        return Damaged(version.reason());
    const auto row = version.value().Step();
    if (!row)
        return Damaged(row.reason());
    const int64_t found = row.value() == SqliteStatement::Stepped::Row ? version.value().Int(0) : 1;
    if (found > kLogSchemaVersion)
        return Failure(u"The log was written by a newer version of Calvora.");
    return std::unique_ptr<LogFileReader>(new LogFileReader(std::move(owned), found >= 2 ? 2 : 1));
}

Outcome<std::map<std::string, std::string>> LogFileReader::ReadMeta() {
    Outcome<SqliteStatement> query = SqliteStatement::Prepare(*db_, "SELECT key, value FROM meta");
    std::map<std::string, std::string> meta;
    const Outcome<void> read = EachRow(query, [&](const SqliteStatement& row) -> Outcome<void> {
        meta[row.Text(0)] = row.Text(1);
        return {};
    });
    if (!read)
        return read.failure();
    return meta;
}

Outcome<std::vector<LogMeterFacts>>
LogFileReader::ReadMeters(const std::map<std::string, std::string>& meta) {
    if (version_ < 2) {
        const auto receiver = meta.find("receiver");
        return std::vector<LogMeterFacts>{
            {std::string(kDefaultMeterName), receiver == meta.end() ? std::string() : receiver->second}};
    }
    Outcome<SqliteStatement> query =
        SqliteStatement::Prepare(*db_, "SELECT id, name, receiver FROM meter ORDER BY id");
    std::vector<LogMeterFacts> meters;
    const Outcome<void> read = EachRow(query, [&](const SqliteStatement& row) -> Outcome<void> {
        if (row.Int(0) != static_cast<int64_t>(meters.size() + 1))
            return Damaged(u"its meters are out of order");
        meters.push_back({row.Text(1), row.Text(2)});
        return {};
    });
    if (!read)
        return read.failure();
    if (meters.empty())
        return Damaged(u"it names no meter");
    return meters;
}

Outcome<std::vector<LogState>> LogFileReader::ReadStates() {
    Outcome<SqliteStatement> query = SqliteStatement::Prepare(
        *db_,
        "SELECT id, function, mode, unit, divisor, full_scale, low_limit, flags FROM state ORDER BY id");
    std::vector<LogState> states;
    const Outcome<void> read = EachRow(query, [&](const SqliteStatement& row) -> Outcome<void> {
        if (row.Int(0) != static_cast<int64_t>(states.size()) || states.size() >= LogDocument::kMaxStates)
            return Damaged(u"its reading states are out of order");
        LogState state;
        state.functionName = row.Text16(1);
        state.mode = row.Text16(2);
        state.unit = row.Text16(3);
        const int64_t divisor = row.Int(4);
        if (divisor < 1 || divisor > 1'000'000)
            return Damaged(u"a reading state has an impossible divisor");
        state.divisor = static_cast<int32_t>(divisor);
        state.fullScale = row.Real(5);
        state.lowLimit = row.Real(6);
        state.flags = static_cast<uint32_t>(row.Int(7));
        states.push_back(std::move(state));
        return {};
    });
    if (!read)
        return read.failure();
    return states;
}

Outcome<std::vector<std::vector<LogGap>>> LogFileReader::ReadGaps(size_t meters) {
    Outcome<SqliteStatement> query = SqliteStatement::Prepare(
        *db_, version_ < 2 ? "SELECT start_ms, end_ms, reason, before_sample, 1 FROM gap ORDER BY id"
                           : "SELECT start_ms, end_ms, reason, before_sample, meter FROM gap ORDER BY id");
    std::vector<std::vector<LogGap>> gaps(meters);
    const Outcome<void> read = EachRow(query, [&](const SqliteStatement& row) -> Outcome<void> {
        const int64_t meter = row.Int(4);
        if (meter < 1 || static_cast<uint64_t>(meter) > meters)
            return Damaged(u"a gap names a meter the file does not hold");
        LogGap gap;
        gap.startMs = row.Int(0);
        if (!row.IsNull(1))
            gap.endMs = row.Int(1);
        gap.reason = row.Text16(2);
        gap.before = static_cast<uint64_t>(std::max<int64_t>(row.Int(3), 0));
        gaps[static_cast<size_t>(meter - 1)].push_back(std::move(gap));
        return {};
    });
    if (!read)
        return read.failure();
    return gaps;
}

Outcome<uint64_t> LogFileReader::ReadCount() {
    Outcome<SqliteStatement> query = SqliteStatement::Prepare(*db_, "SELECT max(id) FROM sample");
    if (!query)
        return Damaged(query.reason());
    const auto row = query.value().Step();
    if (!row)
        return Damaged(row.reason());
    return static_cast<uint64_t>(std::max<int64_t>(query.value().Int(0), 0));
}

namespace {

// Appends the reading in columns t, count, state (from `first`) of `row` to `log`.
Outcome<void> AppendRow(const SqliteStatement& row, int first, LogDocument& log) {
    const std::vector<LogState>& states = log.states();
    const int64_t state = row.Int(first + 2);
    if (state < 0 || static_cast<size_t>(state) >= states.size())
        return Damaged(u"a reading names a state the file does not hold");
    const float value = row.IsNull(first + 1)
                            ? std::numeric_limits<float>::quiet_NaN()
                            : static_cast<float>(static_cast<int32_t>(row.Int(first + 1))) /
                                  static_cast<float>(states[static_cast<size_t>(state)].divisor);
    if (!log.AppendQuietly(row.Int(first), value, static_cast<uint16_t>(state)))
        return Failure(u"There is not enough memory for the log's readings.");
    return {};
}

} // namespace

Outcome<uint64_t> LogFileReader::ReadReadings(uint64_t& afterSample, uint64_t limit,
                                              const std::vector<LogDocument*>& logs) {
    Outcome<SqliteStatement> query = SqliteStatement::Prepare(
        *db_, version_ < 2
                  ? "SELECT id, t, count, state, 1 FROM sample WHERE id > ?1 ORDER BY id LIMIT ?2"
                  : "SELECT id, t, count, state, meter FROM sample WHERE id > ?1 ORDER BY id LIMIT ?2");
    if (query) {
        query.value().Bind(1, static_cast<int64_t>(afterSample));
        query.value().Bind(2, static_cast<int64_t>(std::min<uint64_t>(limit, INT64_MAX)));
    }
    uint64_t read = 0;
    const Outcome<void> done = EachRow(query, [&](const SqliteStatement& row) -> Outcome<void> {
        const int64_t meter = row.Int(4);
        if (meter < 1 || static_cast<uint64_t>(meter) > logs.size())
            return Damaged(u"a reading names a meter the file does not hold");
        if (LogDocument* log = logs[static_cast<size_t>(meter - 1)]) {
            if (Outcome<void> appended = AppendRow(row, 1, *log); !appended)
                return appended;
            ++read;
        }
        afterSample = static_cast<uint64_t>(row.Int(0));
        return {};
    });
    if (!done)
        return done.failure();
    return read;
}

Outcome<void> LogFileReader::BeginSnapshot() {
    if (auto begun = db_->Execute("BEGIN;"); !begun)
        return Damaged(begun.reason());
    return {};
}

void LogFileReader::EndSnapshot() {
    (void)db_->Execute("COMMIT;");
}

Outcome<LogOverview> LogFileReader::ReadOverview() {
    // One snapshot, also while another program commits.
    if (auto begun = db_->Execute("BEGIN;"); !begun)
        return Damaged(begun.reason());
    struct EndRead {
        SqliteDatabase& db;
        ~EndRead() { (void)db.Execute("COMMIT;"); }
    } endRead{*db_};

    LogOverview overview;
    auto meta = ReadMeta();
    if (!meta)
        return meta.failure();
    overview.meta = std::move(meta).value();
    auto meters = ReadMeters(overview.meta);
    if (!meters)
        return meters.failure();
    for (LogMeterFacts& facts : meters.value())
        overview.meters.push_back({std::move(facts), {}, {}, 0});
    auto states = ReadStates();
    if (!states)
        return states.failure();
    overview.states = std::move(states).value();
    auto gaps = ReadGaps(overview.meters.size());
    if (!gaps)
        return gaps.failure();
    for (size_t m = 0; m < overview.meters.size(); ++m)
        overview.meters[m].gaps = std::move(gaps.value()[m]);
    auto count = ReadCount();
    if (!count)
        return count.failure();
    const uint64_t lastSample = count.value();

    // A file of the first format numbers its one meter's readings from 1: a bucket's last is 256 * (b + 1).
    Outcome<SqliteStatement> query = SqliteStatement::Prepare(
        *db_, version_ < 2
                  ? "SELECT 1, bucket, first_ms, last_ms, min, max, first, last, 256, (bucket + 1) * 256"
                    " FROM summary ORDER BY bucket"
                  : "SELECT meter, bucket, first_ms, last_ms, min, max, first, last, count, last_id"
                    " FROM summary ORDER BY meter, bucket");
    if (!query)
        return Damaged(query.reason());
    SqliteStatement& row = query.value();
    // Each meter's last reading its stored buckets stand for, and whether its last bucket is not yet full.
    std::vector<uint64_t> summarisedTo(overview.meters.size(), 0);
    std::vector<bool> partial(overview.meters.size(), false);
    std::vector<uint64_t> fullTo(overview.meters.size(), 0);
    uint64_t summarised = 0;
    for (;;) {
        const auto stepped = row.Step();
        if (!stepped)
            return Damaged(stepped.reason());
        if (stepped.value() == SqliteStatement::Stepped::Done)
            break;
        const int64_t meter = row.Int(0);
        if (meter < 1 || static_cast<uint64_t>(meter) > overview.meters.size())
            continue;
        const auto m = static_cast<size_t>(meter - 1);
        std::vector<LogBucket>& buckets = overview.meters[m].buckets;
        // Only buckets in order are trusted, a bucket not yet full only as a meter's last; whatever follows
        // comes from the readings themselves.
        const int64_t lastId = row.Int(9);
        const int64_t readings = row.Int(8);
        if (row.Int(1) != static_cast<int64_t>(buckets.size()) || partial[m] || lastId < 1 ||
            static_cast<uint64_t>(lastId) > lastSample || static_cast<uint64_t>(lastId) <= summarisedTo[m] ||
            readings < 1 || readings > kLogBucketReadings)
            continue;
        LogBucket bucket;
        bucket.firstMs = row.Int(2);
        bucket.lastMs = row.Int(3);
        if (!row.IsNull(4)) {
            bucket.range.min = static_cast<float>(row.Real(4));
            bucket.range.max = static_cast<float>(row.Real(5));
        }
        bucket.first = NullableFloat(row, 6);
        bucket.last = NullableFloat(row, 7);
        bucket.count = static_cast<uint32_t>(readings);
        buckets.push_back(bucket);
        summarisedTo[m] = static_cast<uint64_t>(lastId);
        partial[m] = readings < kLogBucketReadings;
        if (!partial[m])
            fullTo[m] = static_cast<uint64_t>(lastId);
        summarised += static_cast<uint64_t>(readings);
    }
    // The writer stores every meter's summary with its readings, the last bucket of each even before it is
    // full: when the buckets stand for every reading the file holds, they are the overview. Otherwise the
    // readings after each meter's last full bucket are summarised here.
    if (summarised == lastSample && version_ >= 2) {
        for (LogMeterOverview& meter : overview.meters) {
            for (const LogBucket& bucket : meter.buckets)
                meter.readingCount += bucket.count;
            overview.readingCount += meter.readingCount;
        }
        return overview;
    }
    for (size_t m = 0; m < overview.meters.size(); ++m) {
        if (partial[m]) {
            overview.meters[m].buckets.pop_back();
            summarisedTo[m] = fullTo[m];
        }
    }

    // Each meter's readings after its last stored bucket, summarised here.
    for (size_t m = 0; m < overview.meters.size(); ++m) {
        LogMeterOverview& meter = overview.meters[m];
        LogDocument tail;
        tail.SetStates(overview.states);
        std::vector<LogDocument*> logs(overview.meters.size(), nullptr);
        logs[m] = &tail;
        uint64_t after = summarisedTo[m];
        const Outcome<uint64_t> read = ReadReadings(after, UINT64_MAX, logs);
        if (!read)
            return read.failure();
        const uint64_t stored = meter.buckets.size() * uint64_t{kLogBucketReadings};
        for (size_t i = 0; i < tail.readingCount(); i += kLogBucketReadings) {
            LogBucket bucket;
            const size_t end = std::min<size_t>(tail.readingCount(), i + kLogBucketReadings);
            bucket.firstMs = tail.timeMs(i);
            bucket.lastMs = tail.timeMs(end - 1);
            for (size_t k = i; k < end; ++k)
                bucket.range.Add(tail.value(k));
            bucket.first = tail.value(i);
            bucket.last = tail.value(end - 1);
            bucket.count = static_cast<uint32_t>(end - i);
            meter.buckets.push_back(bucket);
        }
        meter.readingCount = stored + tail.readingCount();
        overview.readingCount += meter.readingCount;
    }
    return overview;
}

Outcome<LogSet> LoadLogSet(const std::filesystem::path& path) {
    LogSet set;
    set.title = path.filename().u16string();
    LogFollower follower(path);
    // The follower reads facts, meters, states, gaps and readings in one snapshot.
    const auto polled = follower.Poll(set);
    if (!polled)
        return polled.failure();
    if (set.meters.size() == 1)
        set.meters.front().log->title = path.filename().u16string();
    return set;
}

Outcome<std::unique_ptr<LogDocument>> LoadLogFile(const std::filesystem::path& path) {
    auto log = std::make_unique<LogDocument>();
    LogFollower follower(path);
    const auto polled = follower.Poll(*log);
    if (!polled)
        return polled.failure();
    log->title = path.filename().u16string();
    return log;
}

Outcome<LogChanges> LogFollower::Poll(LogDocument& log) {
    LogSet set;
    set.meta = log.meta();
    // The caller owns the log: the set only borrows it.
    set.meters.push_back({{}, std::shared_ptr<LogDocument>(std::shared_ptr<LogDocument>(), &log)});
    return Poll(set, true);
}

Outcome<LogChanges> LogFollower::Poll(LogSet& set) {
    return Poll(set, false);
}

Outcome<LogChanges> LogFollower::Poll(LogSet& set, bool firstOnly) {
    if (!reader_) {
        auto opened = LogFileReader::Open(path_);
        if (!opened)
            return opened.failure();
        reader_ = std::move(opened).value();
    }
    LogFileReader& file = *reader_;
    // Readings name states committed with or before them: read both in one snapshot.
    auto& db = *file.db_;
    if (auto begun = db.Execute("BEGIN;"); !begun)
        return Damaged(begun.reason());
    struct EndRead {
        SqliteDatabase& db;
        ~EndRead() { (void)db.Execute("COMMIT;"); }
    } endRead{db};

    auto meta = file.ReadMeta();
    if (!meta)
        return meta.failure();
    auto meters = file.ReadMeters(meta.value());
    if (!meters)
        return meters.failure();
    for (size_t m = 0; m < meters.value().size(); ++m) {
        if (m < set.meters.size()) {
            if (set.meters[m].facts.name.empty())
                set.meters[m].facts = meters.value()[m];
            continue;
        }
        if (firstOnly)
            break;
        auto log = std::make_shared<LogDocument>();
        log->title = fromUtf8(meters.value()[m].name);
        log->SetMeta(meta.value());
        set.meters.push_back({meters.value()[m], std::move(log)});
    }
    auto states = file.ReadStates();
    if (!states)
        return states.failure();
    std::vector<LogDocument*> logs(meters.value().size(), nullptr);
    std::vector<uint64_t> before(meters.value().size(), 0);
    for (size_t m = 0; m < logs.size() && m < set.meters.size(); ++m) {
        logs[m] = set.meters[m].log.get();
        if (states.value().size() > logs[m]->states().size())
            logs[m]->SetStates(states.value());
        before[m] = logs[m]->readingCount();
    }
    const Outcome<uint64_t> read = file.ReadReadings(afterSample_, UINT64_MAX, logs);
    if (!read)
        return read.failure();
    auto gaps = file.ReadGaps(logs.size());
    if (!gaps)
        return gaps.failure();

    LogChanges changes;
    changes.readings = read.value();
    const bool factsChanged = meta.value() != set.meta;
    if (factsChanged)
        set.meta = meta.value();
    for (size_t m = 0; m < logs.size(); ++m) {
        LogDocument* log = logs[m];
        if (log == nullptr)
            continue;
        if (log->readingCount() > before[m])
            log->AnnounceAppended(before[m], log->readingCount() - before[m]);
        if (gaps.value()[m] != log->gaps() || meta.value() != log->meta()) {
            log->SetGaps(std::move(gaps.value()[m]));
            log->SetMeta(meta.value());
            log->AnnounceGapsChanged();
            changes.gapsOrFacts = true;
        }
    }
    changes.gapsOrFacts = changes.gapsOrFacts || factsChanged;
    return changes;
}

} // namespace calvora
