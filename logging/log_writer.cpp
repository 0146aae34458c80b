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
        auto sample = SqliteStatement::Prepare(
            db, "INSERT INTO sample(id, t, count, state, meter) VALUES(?1, ?2, ?3, ?4, ?5)");
        auto gap = SqliteStatement::Prepare(db, "INSERT OR REPLACE INTO gap(id, start_ms, end_ms, reason, "
                                                "before_sample, meter) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        auto summary = SqliteStatement::Prepare(
            db, "INSERT OR REPLACE INTO summary(meter, bucket, first_ms, last_ms, min, max, first, last, "
                "count, last_id) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
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
                                                      const std::map<std::string, std::string>& meta,
                                                      const std::vector<LogMeterFacts>& meters) {
    std::error_code error;
    if (std::filesystem::exists(path, error))
        return Failure(u"The file already exists.");
    Outcome<SqliteDatabase> opened = SqliteDatabase::Open(path, SqliteDatabase::Mode::ReadWriteCreate);
    if (!opened)
        return opened.failure();
    auto db = std::make_unique<SqliteDatabase>(std::move(opened).value());
    Outcome<void> created = CreateLogSchema(*db, meta, meters);
    if (created)
        created = db->Execute("PRAGMA synchronous = FULL;");
    if (!created) {
        db.reset();
        std::filesystem::remove(path, error);
        return created.failure();
    }
    std::unique_ptr<LogWriter> writer(new LogWriter(path, std::move(db), meters.size()));
    auto statements = Statements::Prepare(*writer->db_);
    if (!statements)
        return statements.failure();
    writer->statements_ = std::move(statements).value();
    writer->thread_ = std::thread(&LogWriter::Run, writer.get());
    return writer;
}

LogWriter::LogWriter(std::filesystem::path path, std::unique_ptr<SqliteDatabase> db, size_t meters)
    : path_(std::move(path)), db_(std::move(db)), committedByMeter_(meters, 0), meters_(meters) {
}

LogWriter::~LogWriter() {
    (void)Close();
}

void LogWriter::AddState(uint16_t id, const LogState& state) {
    const std::lock_guard lock(mutex_);
    pending_.states.emplace_back(id, state);
}

void LogWriter::Append(size_t meter, int64_t timeMs, std::optional<int32_t> count, uint16_t state,
                       float value) {
    const std::lock_guard lock(mutex_);
    // The meters are fixed when the file is made; a reading of no such meter has nowhere to go.
    if (meter < committedByMeter_.size())
        pending_.readings.push_back({meter, timeMs, count, state, value});
}

void LogWriter::PutGap(size_t index, size_t meter, const LogGap& gap) {
    const std::lock_guard lock(mutex_);
    if (meter < committedByMeter_.size())
        pending_.gaps.push_back({index, meter, gap});
}

uint64_t LogWriter::committedReadings(size_t meter) const {
    const std::lock_guard lock(mutex_);
    return meter < committedByMeter_.size() ? committedByMeter_[meter] : 0;
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
    const std::vector<MeterProgress> metersBefore = meters_;
    auto undo = [&](const Outcome<void>& failed) {
        written_ = writtenBefore;
        meters_ = metersBefore;
        return fail(failed);
    };
    // A meter's bucket as it is now: whole, or the readings it has taken so far.
    auto putBucket = [&sql](size_t meterIndex, const MeterProgress& meter) {
        const LogBucket& bucket = meter.bucket;
        sql.summary.Bind(1, static_cast<int64_t>(meterIndex + 1));
        sql.summary.Bind(2, static_cast<int64_t>((meter.written - 1) / kLogBucketReadings));
        sql.summary.Bind(3, bucket.firstMs);
        sql.summary.Bind(4, bucket.lastMs);
        if (bucket.range.empty()) {
            sql.summary.BindNull(5);
            sql.summary.BindNull(6);
        } else {
            sql.summary.Bind(5, static_cast<double>(bucket.range.min));
            sql.summary.Bind(6, static_cast<double>(bucket.range.max));
        }
        BindFloat(sql.summary, 7, bucket.first);
        BindFloat(sql.summary, 8, bucket.last);
        sql.summary.Bind(9, int64_t{bucket.count});
        sql.summary.Bind(10, static_cast<int64_t>(meter.lastId));
        return sql.summary.Run();
    };
    for (const Reading& reading : batch.readings) {
        MeterProgress& meter = meters_[reading.meter];
        const auto meterId = static_cast<int64_t>(reading.meter + 1);
        sql.sample.Bind(1, static_cast<int64_t>(written_ + 1));
        sql.sample.Bind(2, reading.timeMs);
        if (reading.count)
            sql.sample.Bind(3, int64_t{*reading.count});
        else
            sql.sample.BindNull(3);
        sql.sample.Bind(4, int64_t{reading.state});
        sql.sample.Bind(5, meterId);
        if (auto done = sql.sample.Run(); !done)
            return undo(done);
        ++written_;
        LogBucket& bucket = meter.bucket;
        if (bucket.count == 0) {
            bucket.firstMs = reading.timeMs;
            bucket.first = reading.value;
        }
        bucket.lastMs = reading.timeMs;
        bucket.last = reading.value;
        bucket.range.Add(reading.value);
        ++bucket.count;
        ++meter.written;
        meter.lastId = written_;
        meter.changed = true;
        if (bucket.count == kLogBucketReadings) {
            if (auto done = putBucket(reading.meter, meter); !done)
                return undo(done);
            bucket = LogBucket{};
            meter.changed = false;
        }
    }
    // Each meter's bucket not yet full is stored too, so the summary always stands for every reading.
    for (size_t m = 0; m < meters_.size(); ++m) {
        if (!meters_[m].changed)
            continue;
        if (auto done = putBucket(m, meters_[m]); !done)
            return undo(done);
        meters_[m].changed = false;
    }
    for (const Batch::Gap& put : batch.gaps) {
        const LogGap& gap = put.gap;
        sql.gap.Bind(1, static_cast<int64_t>(put.index + 1));
        sql.gap.Bind(2, gap.startMs);
        if (gap.endMs)
            sql.gap.Bind(3, *gap.endMs);
        else
            sql.gap.BindNull(3);
        sql.gap.Bind(4, std::u16string_view(gap.reason));
        sql.gap.Bind(5, static_cast<int64_t>(gap.before));
        sql.gap.Bind(6, static_cast<int64_t>(put.meter + 1));
        if (auto done = sql.gap.Run(); !done)
            return undo(done);
    }
    for (const auto& [key, value] : batch.meta) {
        sql.meta.Bind(1, std::string_view(key));
        sql.meta.Bind(2, std::string_view(value));
        if (auto done = sql.meta.Run(); !done)
            return undo(done);
    }
    if (auto done = db_->Execute("COMMIT;"); !done)
        return undo(done);
    committed_ = written_;
    const std::lock_guard lock(mutex_);
    for (size_t m = 0; m < meters_.size(); ++m)
        committedByMeter_[m] = meters_[m].written;
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
