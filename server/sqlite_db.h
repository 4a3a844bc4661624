#pragma once
// Thin owners of SQLite handles. Both are move-only: exactly one object
// closes a connection or finalizes a statement. Every failure throws
// SqliteError carrying SQLite's own message, so callers cannot forget to
// check a result code.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace skiv::server {

class SqliteError : public std::runtime_error {
public:
    SqliteError(const std::string& what, int code) : std::runtime_error(what), m_code(code) {}
    int code() const { return m_code; }

private:
    int m_code;
};

class Statement;

// One connection. Opened in WAL mode with foreign keys on and a busy
// timeout, so the administration commands can run beside a live service.
// A connection is not safe to use from two threads at once; the owner
// serialises access (see MemberStore).
class Database {
public:
    // Opens or creates the file. Throws SqliteError.
    explicit Database(const std::string& path);
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    // Runs statements that take no parameters and return no rows (schema,
    // BEGIN/COMMIT). Throws SqliteError.
    void Exec(const char* sql);
    // Compiles one statement; the statement must not outlive the database.
    Statement Prepare(std::string_view sql);
    // Rows touched by the last INSERT/UPDATE/DELETE.
    int Changes() const;

    sqlite3* handle() const { return m_db; }

private:
    void Close() noexcept;
    sqlite3* m_db = nullptr;
};

// One prepared statement. Parameters are 1-based as in SQLite; columns are
// 0-based. Step() returns true while a row is available.
class Statement {
public:
    Statement(sqlite3* db, sqlite3_stmt* stmt) : m_db(db), m_stmt(stmt) {}
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    Statement& Bind(int index, std::string_view text);
    Statement& Bind(int index, std::int64_t value);
    Statement& BindNull(int index);

    // Advances; true when a row is ready, false when done. Throws on error.
    bool Step();
    // Steps to completion, expecting no rows.
    void Run();
    // Clears bindings and rewinds, so the statement can run again.
    void Reset();

    std::int64_t Int(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

private:
    void Finalize() noexcept;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
};

// Begins an IMMEDIATE transaction (the write lock is taken at once, so two
// writers never deadlock upgrading) and rolls back on destruction unless
// Commit() ran.
class Transaction {
public:
    explicit Transaction(Database& db);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();
    void Commit();

private:
    Database& m_db;
    bool m_done = false;
};

}  // namespace skiv::server
