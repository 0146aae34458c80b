#include "logging/sqlite_database.h"

#include "protocol/text.h"

#include <sqlite3.h>

#include <utility>

namespace calvora {

namespace {

std::u16string MessageOf(sqlite3* db, int code) {
    const char* text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    return fromUtf8(text != nullptr ? text : "unknown SQLite error");
}

} // namespace

Outcome<SqliteDatabase> SqliteDatabase::Open(const std::filesystem::path& path, Mode mode) {
    sqlite3* db = nullptr;
    const int flags =
        (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
        SQLITE_OPEN_NOMUTEX;
    const int code = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (code != SQLITE_OK) {
        std::u16string reason = MessageOf(db, code);
        sqlite3_close(db);
        return Failure(std::move(reason));
    }
    // Another program reading or checkpointing the file holds its lock for moments only.
    sqlite3_busy_timeout(db, 2000);
    sqlite3_extended_result_codes(db, 1);
    return SqliteDatabase(db);
}

SqliteDatabase::SqliteDatabase(SqliteDatabase&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {
}

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept {
    if (this != &other) {
        sqlite3_close(db_);
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

SqliteDatabase::~SqliteDatabase() {
    sqlite3_close(db_);
}

Outcome<void> SqliteDatabase::Execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::u16string reason = fromUtf8(message != nullptr ? message : "unknown SQLite error");
        sqlite3_free(message);
        return Failure(std::move(reason));
    }
    return {};
}

std::u16string SqliteDatabase::LastError() const {
    return MessageOf(db_, SQLITE_ERROR);
}

Outcome<SqliteStatement> SqliteStatement::Prepare(const SqliteDatabase& db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db.handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(statement);
        return Failure(db.LastError());
    }
    return SqliteStatement(db.handle(), statement);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(other.db_), statement_(std::exchange(other.statement_, nullptr)) {
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(statement_);
        db_ = other.db_;
        statement_ = std::exchange(other.statement_, nullptr);
    }
    return *this;
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(statement_);
}

void SqliteStatement::Bind(int index, int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
}

void SqliteStatement::Bind(int index, double value) {
    sqlite3_bind_double(statement_, index, value);
}

void SqliteStatement::Bind(int index, std::u16string_view text) {
    const std::string utf8 = toUtf8(text);
    sqlite3_bind_text(statement_, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::Bind(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::BindNull(int index) {
    sqlite3_bind_null(statement_, index);
}

Outcome<SqliteStatement::Stepped> SqliteStatement::Step() {
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW)
        return Stepped::Row;
    if (code == SQLITE_DONE)
        return Stepped::Done;
    std::u16string reason = MessageOf(db_, code);
    sqlite3_reset(statement_);
    return Failure(std::move(reason));
}

Outcome<void> SqliteStatement::Run() {
    const Outcome<Stepped> stepped = Step();
    sqlite3_reset(statement_);
    if (!stepped)
        return stepped.failure();
    return {};
}

void SqliteStatement::Reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

bool SqliteStatement::IsNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

int64_t SqliteStatement::Int(int column) const {
    return sqlite3_column_int64(statement_, column);
}

double SqliteStatement::Real(int column) const {
    return sqlite3_column_double(statement_, column);
}

std::u16string SqliteStatement::Text16(int column) const {
    return fromUtf8(Text(column));
}

std::string SqliteStatement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text != nullptr ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                           : std::string();
}

} // namespace calvora
