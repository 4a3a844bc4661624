// The SQLite engine behind the seam in sql_db.h.

#include <sqlite3.h>

#include <utility>

#include "sql_db.h"

namespace skiv::server::sql_detail {

namespace {

// Every SQLite failure is a Fault: a writer has already waited out the
// busy timeout, and the file does not go away under its connection.
[[noreturn]] void Fail(sqlite3* db, int rc, const char* what) {
    std::string msg = what;
    msg += ": ";
    msg += db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw SqlError(msg, rc);
}

class SqliteStatement final : public StatementImpl {
public:
    SqliteStatement(sqlite3* db, sqlite3_stmt* stmt) : m_db(db), m_stmt(stmt) {}
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    ~SqliteStatement() override { sqlite3_finalize(m_stmt); }

    void Bind(int index, std::string_view text) override {
        int rc = sqlite3_bind_text64(m_stmt, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
        if (rc != SQLITE_OK)
            Fail(m_db, rc, "bind");
    }
    void Bind(int index, std::int64_t value) override {
        int rc = sqlite3_bind_int64(m_stmt, index, value);
        if (rc != SQLITE_OK)
            Fail(m_db, rc, "bind");
    }
    void BindNull(int index) override {
        int rc = sqlite3_bind_null(m_stmt, index);
        if (rc != SQLITE_OK)
            Fail(m_db, rc, "bind");
    }
    bool Step() override {
        int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        Fail(m_db, rc, "step");
    }
    void Reset() override {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    std::int64_t Int(int column) const override { return sqlite3_column_int64(m_stmt, column); }
    std::string Text(int column) const override {
        const unsigned char* p = sqlite3_column_text(m_stmt, column);
        int n = sqlite3_column_bytes(m_stmt, column);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n))
                 : std::string();
    }
    bool IsNull(int column) const override {
        return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
    }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt;
};

class SqliteConnection final : public ConnectionImpl {
public:
    explicit SqliteConnection(const std::string& path) {
        int rc = sqlite3_open_v2(path.c_str(), &m_db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (rc != SQLITE_OK) {
            std::string msg = "cannot open database " + path + ": " +
                              (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
            sqlite3_close_v2(m_db);
            throw SqlError(msg, rc);
        }
        sqlite3_busy_timeout(m_db, 5000);
        sqlite3_extended_result_codes(m_db, 1);
        try {
            Exec("PRAGMA journal_mode=WAL");
            Exec("PRAGMA synchronous=FULL");
            Exec("PRAGMA foreign_keys=ON");
        } catch (...) {
            sqlite3_close_v2(m_db);
            throw;
        }
    }
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;
    ~SqliteConnection() override { sqlite3_close_v2(m_db); }

    SqlEngine engine() const override { return SqlEngine::Sqlite; }
    void Exec(const char* sql) override {
        char* err = nullptr;
        int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &err);
        if (rc != SQLITE_OK) {
            std::string msg = std::string("sql failed: ") + (err ? err : sqlite3_errstr(rc));
            sqlite3_free(err);
            throw SqlError(msg, rc);
        }
    }
    std::unique_ptr<StatementImpl> Prepare(std::string_view sql) override {
        sqlite3_stmt* stmt = nullptr;
        int rc =
            sqlite3_prepare_v3(m_db, sql.data(), static_cast<int>(sql.size()), 0, &stmt, nullptr);
        if (rc != SQLITE_OK)
            Fail(m_db, rc, "prepare");
        return std::make_unique<SqliteStatement>(m_db, stmt);
    }
    int Changes() const override { return sqlite3_changes(m_db); }
    const char* BeginSql() const override { return "BEGIN IMMEDIATE"; }

private:
    sqlite3* m_db = nullptr;
};

}  // namespace

std::unique_ptr<ConnectionImpl> OpenSqlite(const std::string& path) {
    return std::make_unique<SqliteConnection>(path);
}

}  // namespace skiv::server::sql_detail
