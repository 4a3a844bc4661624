#include "sqlite_db.h"

#include <sqlite3.h>

#include <utility>

namespace skiv::server {

namespace {

[[noreturn]] void Fail(sqlite3* db, int rc, const char* what) {
    std::string msg = what;
    msg += ": ";
    msg += db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw SqliteError(msg, rc);
}

}  // namespace

Database::Database(const std::string& path) {
    int rc =
        sqlite3_open_v2(path.c_str(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = "cannot open database " + path + ": " +
                          (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
        Close();
        throw SqliteError(msg, rc);
    }
    sqlite3_busy_timeout(m_db, 5000);
    sqlite3_extended_result_codes(m_db, 1);
    try {
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=FULL");
        Exec("PRAGMA foreign_keys=ON");
    } catch (...) {
        Close();
        throw;
    }
}

Database::Database(Database&& other) noexcept : m_db(std::exchange(other.m_db, nullptr)) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        Close();
        m_db = std::exchange(other.m_db, nullptr);
    }
    return *this;
}

Database::~Database() {
    Close();
}

void Database::Close() noexcept {
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void Database::Exec(const char* sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::string msg = std::string("sql failed: ") + (err ? err : sqlite3_errstr(rc));
        sqlite3_free(err);
        throw SqliteError(msg, rc);
    }
}

Statement Database::Prepare(std::string_view sql) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v3(m_db, sql.data(), static_cast<int>(sql.size()), 0, &stmt, nullptr);
    if (rc != SQLITE_OK)
        Fail(m_db, rc, "prepare");
    return Statement(m_db, stmt);
}

int Database::Changes() const {
    return sqlite3_changes(m_db);
}

Statement::Statement(Statement&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)), m_stmt(std::exchange(other.m_stmt, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        Finalize();
        m_db = std::exchange(other.m_db, nullptr);
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

Statement::~Statement() {
    Finalize();
}

void Statement::Finalize() noexcept {
    if (m_stmt)
        sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
}

Statement& Statement::Bind(int index, std::string_view text) {
    int rc =
        sqlite3_bind_text64(m_stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK)
        Fail(m_db, rc, "bind");
    return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
    int rc = sqlite3_bind_int64(m_stmt, index, value);
    if (rc != SQLITE_OK)
        Fail(m_db, rc, "bind");
    return *this;
}

Statement& Statement::BindNull(int index) {
    int rc = sqlite3_bind_null(m_stmt, index);
    if (rc != SQLITE_OK)
        Fail(m_db, rc, "bind");
    return *this;
}

bool Statement::Step() {
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    Fail(m_db, rc, "step");
}

void Statement::Run() {
    while (Step()) {
    }
}

void Statement::Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::string Statement::Text(int column) const {
    const unsigned char* p = sqlite3_column_text(m_stmt, column);
    int n = sqlite3_column_bytes(m_stmt, column);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n))
             : std::string();
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& db) : m_db(db) {
    m_db.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!m_done) {
        try {
            m_db.Exec("ROLLBACK");
        } catch (...) {
            // A failed rollback leaves SQLite to roll back on close; nothing
            // more can be done from a destructor.
        }
    }
}

void Transaction::Commit() {
    m_db.Exec("COMMIT");
    m_done = true;
}

}  // namespace skiv::server
