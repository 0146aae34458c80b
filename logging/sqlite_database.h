// A thin owner of an SQLite connection and its prepared statements, so every path that leaves a function
// closes what it opened, and failures come back as Outcomes with SQLite's own words.
#pragma once

#include "protocol/outcome.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace calvora {

class SqliteDatabase {
public:
    enum class Mode { ReadOnly, ReadWriteCreate };
    static Outcome<SqliteDatabase> Open(const std::filesystem::path& path, Mode mode);

    SqliteDatabase(SqliteDatabase&& other) noexcept;
    SqliteDatabase& operator=(SqliteDatabase&& other) noexcept;
    ~SqliteDatabase();

    sqlite3* handle() const { return db_; }
    // Runs one or more statements that return no rows.
    Outcome<void> Execute(const char* sql);
    // SQLite's message for the last failure on this connection.
    std::u16string LastError() const;

private:
    explicit SqliteDatabase(sqlite3* db) : db_(db) {}
    sqlite3* db_ = nullptr;
};

class SqliteStatement {
public:
    static Outcome<SqliteStatement> Prepare(const SqliteDatabase& db, const char* sql);

    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    ~SqliteStatement();

    void Bind(int index, int64_t value);
    void Bind(int index, double value);
    void Bind(int index, std::u16string_view text);
    void Bind(int index, std::string_view text);
    void BindNull(int index);
    enum class Stepped { Row, Done };
    // A row, or the end; a failure when SQLite reports one.
    Outcome<Stepped> Step();
    // Runs a statement that returns no row and makes it ready for the next run.
    Outcome<void> Run();
    void Reset();

    bool IsNull(int column) const;
    int64_t Int(int column) const;
    double Real(int column) const;
    std::u16string Text16(int column) const;
    std::string Text(int column) const;

private:
    SqliteStatement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
};

} // namespace calvora
