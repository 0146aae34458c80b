#include "logging/log_writer.h"

#include "logging/log_file.h"
#include "logging/sqlite_database.h"
#include "protocol/text.h"

#include <cmath>

namespace calvora {

namespace {

void BindFloat(SqliteStatement& statement, int index, float value) {
    if (std::isnan(value))
        statement.BindNull(index);
    else
        statement.Bind(index, static_cast<double>(value));
}

} // namespace

class LogWriter::Statements {
public:
    static Outcome<std::unique_ptr<Statements>> Prepare(const SqliteDatabase& db) {
        auto state = SqliteStatement::Prepare(
            db, "INSERT OR REPLACE INTO state(id, function, mode, unit, divisor, "
                "full_scale, low_limit, flags) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        auto sample =
            SqliteStatement::Prepare(db, "INSERT INTO sample(id, t, count, state) VALUES(?1, ?2, ?3, ?4)");
        auto gap = SqliteStatement::Prepare(db, "INSERT OR REPLACE INTO gap(id, start_ms, end_ms, reason, "
                                                "before_sample) VALUES(?1, ?2, ?3, ?4, ?5)");
        auto summary =
            SqliteStatement::Prepare(db, "INSERT OR REPLACE INTO summary(bucket, first_ms, last_ms, min, "
                                         "max, first, last) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        auto meta = SqliteStatement::Prepare(db, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
        for (const auto* prepared : {&state, &sample, &gap, &summary, &meta}) {
            if (!*prepared)
                return prepared->failure();
        }
        return std::unique_ptr<Statements>(new Statements{std::move(state).value(), std::move(sample).value(),
                                                          std::move(gap).value(), std::move(summary).value(),
                                                          std::move(meta).value()});
    }

    SqliteStatement state;
    SqliteStatement sample;
    SqliteStatement gap;
    SqliteStatement summary;
    SqliteStatement meta;
};

Outcome<std::unique_ptr<LogWriter>> LogWriter::Create(const std::filesystem::path& path,
                                                      const std::map<std::string, std::string>& meta) {
    std::error_code error;
    if (std::filesystem::exists(path, error))
        return Failure(u"The file already exists.");
    Outcome<SqliteDatabase> opened = SqliteDatabase::Open(path, SqliteDatabase::Mode::ReadWriteCreate);
    if (!opened)
        return opened.failure();
    auto db = std::make_unique<SqliteDatabase>(std::move(opened).value());
    Outcome<void> created = CreateLogSchema(*db, meta);
    if (created)
        created = db->Execute("PRAGMA synchronous = FULL;");
    if (!created) {
        db.reset();
        std::filesystem::remove(path, error);
        return created.failure();
    }
    std::unique_ptr<LogWriter> writer(new LogWriter(path, std::move(db)));
    auto statements = Statements::Prepare(*writer->db_);
    if (!statements)
        return statements.failure();
    writer->statements_ = std::move(statements).value();
    writer->thread_ = std::thread(&LogWriter::Run, writer.get());
    return writer;
}

LogWriter::LogWriter(std::filesystem::path path, std::unique_ptr<SqliteDatabase> db)
    : path_(std::move(path)), db_(std::move(db)) {
}

LogWriter::~LogWriter() {
    (void)Close();
}

void LogWriter::AddState(uint16_t id, const LogState& state) {
    const std::lock_guard lock(mutex_);
    pending_.states.emplace_back(id, state);
}

void LogWriter::Append(int64_t timeMs, std::optional<int32_t> count, uint16_t state, float value) {
    const std::lock_guard lock(mutex_);
    pending_.readings.push_back({timeMs, count, state, value});
}

void LogWriter::PutGap(size_t index, const LogGap& gap) {
    const std::lock_guard lock(mutex_);
    pending_.gaps.emplace_back(index, gap);
}

void LogWriter::PutMeta(const std::string& key, const std::string& value) {
    const std::lock_guard lock(mutex_);
    pending_.meta.emplace_back(key, value);
}

Outcome<void> LogWriter::health() const {
    const std::lock_guard lock(mutex_);
    if (failure_)
        return Failure(*failure_);
    return {};
}

uintmax_t LogWriter::fileBytes() const {
    std::error_code error;
    uintmax_t bytes = 0;
    for (const char* suffix : {"", "-wal"}) {
        const uintmax_t size = std::filesystem::file_size(path_.string() + suffix, error);
        if (!error)
            bytes += size;
    }
    return bytes;
}

void LogWriter::Fail(const std::u16string& reason) {
    const std::lock_guard lock(mutex_);
    if (!failure_)
        failure_ = u"Cannot write the log " + path_.filename().u16string() + u": " + reason;
}

void LogWriter::Run() {
    for (;;) {
        Batch batch;
        bool closing = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kCommitInterval, [this] { return closing_; });
            std::swap(batch, pending_);
            closing = closing_;
        }
        if (!batch.empty() && health()) {
            if (const Outcome<void> done = Commit(batch); !done)
                Fail(done.reason());
        }
        if (closing)
            return;
    }
}

Outcome<void> LogWriter::Commit(Batch& batch) {
    if (auto begun = db_->Execute("BEGIN IMMEDIATE;"); !begun)
        return begun;
    auto fail = [this](const Outcome<void>& failed) {
        (void)db_->Execute("ROLLBACK;");
        return failed;
    };
    Statements& sql = *statements_;
    for (const auto& [id, state] : batch.states) {
        sql.state.Bind(1, int64_t{id});
        sql.state.Bind(2, std::u16string_view(state.functionName));
        sql.state.Bind(3, std::u16string_view(state.mode));
        sql.state.Bind(4, std::u16string_view(state.unit));
        sql.state.Bind(5, int64_t{state.divisor});
        sql.state.Bind(6, state.fullScale);
        sql.state.Bind(7, state.lowLimit);
        sql.state.Bind(8, int64_t{state.flags});
        if (auto done = sql.state.Run(); !done)
            return fail(done);
    }
    const uint64_t writtenBefore = written_;
    const LogBucket bucketBefore = bucket_;
    for (const Reading& reading : batch.readings) {
        sql.sample.Bind(1, static_cast<int64_t>(written_ + 1));
        sql.sample.Bind(2, reading.timeMs);
        if (reading.count)
            sql.sample.Bind(3, int64_t{*reading.count});
        else
            sql.sample.BindNull(3);
        sql.sample.Bind(4, int64_t{reading.state});
        if (auto done = sql.sample.Run(); !done) {
            written_ = writtenBefore;
            bucket_ = bucketBefore;
            return fail(done);
        }
        if (bucket_.count == 0) {
            bucket_.firstMs = reading.timeMs;
            bucket_.first = reading.value;
        }
        bucket_.lastMs = reading.timeMs;
        bucket_.last = reading.value;
        bucket_.range.Add(reading.value);
        ++bucket_.count;
        ++written_;
        if (bucket_.count == kLogBucketReadings) {
            sql.summary.Bind(1, static_cast<int64_t>(written_ / kLogBucketReadings - 1));
            sql.summary.Bind(2, bucket_.firstMs);
            sql.summary.Bind(3, bucket_.lastMs);
            if (bucket_.range.empty()) {
                sql.summary.BindNull(4);
                sql.summary.BindNull(5);
            } else {
                sql.summary.Bind(4, static_cast<double>(bucket_.range.min));
                sql.summary.Bind(5, static_cast<double>(bucket_.range.max));
            }
            BindFloat(sql.summary, 6, bucket_.first);
            BindFloat(sql.summary, 7, bucket_.last);
            if (auto done = sql.summary.Run(); !done) {
                written_ = writtenBefore;
                bucket_ = bucketBefore;
                return fail(done);
            }
            bucket_ = LogBucket{};
        }
    }
    for (const auto& [index, gap] : batch.gaps) {
        sql.gap.Bind(1, static_cast<int64_t>(index + 1));
        sql.gap.Bind(2, gap.startMs);
        if (gap.endMs)
            sql.gap.Bind(3, *gap.endMs);
        else
            sql.gap.BindNull(3);
        sql.gap.Bind(4, std::u16string_view(gap.reason));
        sql.gap.Bind(5, static_cast<int64_t>(gap.before));
        if (auto done = sql.gap.Run(); !done)
            return fail(done);
    }
    for (const auto& [key, value] : batch.meta) {
        sql.meta.Bind(1, std::string_view(key));
        sql.meta.Bind(2, std::string_view(value));
        if (auto done = sql.meta.Run(); !done)
            return fail(done);
    }
    if (auto done = db_->Execute("COMMIT;"); !done) {
        written_ = writtenBefore;
        bucket_ = bucketBefore;
        return fail(done);
    }
    committed_ = written_;
    return {};
}

Outcome<void> LogWriter::Close() {
    {
        const std::lock_guard lock(mutex_);
        if (closed_)
            return failure_ ? Outcome<void>(Failure(*failure_)) : Outcome<void>();
        closing_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    // The file on its own holds everything once the write-ahead log is folded in.
    if (health())
        (void)db_->Execute("PRAGMA wal_checkpoint(TRUNCATE);");
    statements_.reset();
    db_.reset();
    const std::lock_guard lock(mutex_);
    closed_ = true;
    return failure_ ? Outcome<void>(Failure(*failure_)) : Outcome<void>();
}

} // namespace calvora
