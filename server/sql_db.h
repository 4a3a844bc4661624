#pragma once
// The seam between the stores and their database engine: a connection, a
// prepared statement with typed binds and columns, a transaction that
// rolls back unless committed, and a pool that runs a unit of work with
// retries. Two engines sit behind it: an embedded SQLite file (the
// default) and a PostgreSQL server reached through libpq.
//
// SQL is written once, in the dialect both engines share: parameters as
// ?1, ?2 ... (the PostgreSQL side rewrites them to $1, $2 ...), upserts as
// ON CONFLICT, new keys read back with RETURNING. Where the schemas differ
// (case-blind IDs, generated keys) the stores keep one text per engine.
//
// Every owner is move-only: exactly one object closes a connection or
// finishes a statement. Every failure throws SqlError.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace skiv::server {

enum class SqlEngine { Sqlite, Postgres };

class SqlError : public std::runtime_error {
public:
    enum class Kind {
        Fault,     // a wrong statement, a constraint, a disk fault: running it again will not help
        Conflict,  // a serialization failure or deadlock: the whole unit may run again
        Lost,      // the connection broke before the outcome was decided: reconnect and run again
    };
    SqlError(const std::string& what, int code, Kind kind = Kind::Fault)
        : std::runtime_error(what), m_code(code), m_kind(kind) {}
    int code() const { return m_code; }
    Kind kind() const { return m_kind; }

private:
    int m_code;
    Kind m_kind;
};
// The name the SQLite-only code knew.
using SqliteError = SqlError;

// True for "postgresql://..." and "postgres://..." targets; anything else
// names a SQLite file.
bool IsPostgresUrl(std::string_view target);

namespace sql_detail {

class StatementImpl {
public:
    virtual ~StatementImpl() = default;
    virtual void Bind(int index, std::string_view text) = 0;
    virtual void Bind(int index, std::int64_t value) = 0;
    virtual void BindNull(int index) = 0;
    virtual bool Step() = 0;
    virtual void Reset() = 0;
    virtual std::int64_t Int(int column) const = 0;
    virtual std::string Text(int column) const = 0;
    virtual bool IsNull(int column) const = 0;
};

class ConnectionImpl {
public:
    virtual ~ConnectionImpl() = default;
    virtual SqlEngine engine() const = 0;
    virtual void Exec(const char* sql) = 0;
    virtual std::unique_ptr<StatementImpl> Prepare(std::string_view sql) = 0;
    virtual int Changes() const = 0;
    // SQLite takes the write lock at once (two writers never deadlock
    // upgrading); PostgreSQL runs the unit as if alone.
    virtual const char* BeginSql() const = 0;
};

std::unique_ptr<ConnectionImpl> OpenSqlite(const std::string& path);
std::unique_ptr<ConnectionImpl> OpenPostgres(const std::string& url);

}  // namespace sql_detail

class Statement;

// One connection. SQLite files are opened in WAL mode with foreign keys on
// and a busy timeout, so the administration commands can run beside a
// live service. A connection is not safe to use from two threads at once;
// SqlPool hands each to one unit of work at a time.
class Database {
public:
    // A postgresql:// URL or a SQLite file path (created when absent).
    explicit Database(const std::string& target);
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    SqlEngine engine() const { return m_impl->engine(); }
    // Runs statements that take no parameters and return no rows.
    void Exec(const char* sql) { m_impl->Exec(sql); }
    // Compiles one statement; the statement must not outlive the database.
    Statement Prepare(std::string_view sql);
    // Rows touched by the last INSERT/UPDATE/DELETE.
    int Changes() const { return m_impl->Changes(); }

private:
    friend class Transaction;
    friend class SqlPool;
    std::unique_ptr<sql_detail::ConnectionImpl> m_impl;
    bool m_outer = false;     // SqlPool::Run holds a transaction open around the unit
    bool m_rollback = false;  // a Transaction inside that unit ended without Commit
};

// One prepared statement. Parameters are 1-based; columns are 0-based.
// Step() returns true while a row is available.
class Statement {
public:
    explicit Statement(std::unique_ptr<sql_detail::StatementImpl> impl) : m_impl(std::move(impl)) {}
    Statement(Statement&&) noexcept = default;
    Statement& operator=(Statement&&) noexcept = default;

    Statement& Bind(int index, std::string_view text) {
        m_impl->Bind(index, text);
        return *this;
    }
    Statement& Bind(int index, const char* text) { return Bind(index, std::string_view(text)); }
    Statement& Bind(int index, const std::string& text) {
        return Bind(index, std::string_view(text));
    }
    Statement& Bind(int index, std::int64_t value) {
        m_impl->Bind(index, value);
        return *this;
    }
    Statement& BindNull(int index) {
        m_impl->BindNull(index);
        return *this;
    }

    // Advances; true when a row is ready, false when done.
    bool Step() { return m_impl->Step(); }
    // Steps to completion.
    void Run() {
        while (Step()) {
        }
    }
    // Clears bindings and rewinds, so the statement can run again.
    void Reset() { m_impl->Reset(); }

    std::int64_t Int(int column) const { return m_impl->Int(column); }
    std::string Text(int column) const { return m_impl->Text(column); }
    bool IsNull(int column) const { return m_impl->IsNull(column); }

private:
    std::unique_ptr<sql_detail::StatementImpl> m_impl;
};

// Begins a transaction and rolls back on destruction unless Commit() ran.
// Inside SqlPool::Run on PostgreSQL the unit already is one transaction:
// this one then only decides whether it commits.
class Transaction {
public:
    explicit Transaction(Database& db);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();
    void Commit();

private:
    Database& m_db;
    bool m_nested = false;
    bool m_done = false;
};

// Up to `size` connections to one target, opened when first needed. Run()
// lends one to a unit of work. A SQLite file gets one connection (its
// writers take turns anyway, and one connection keeps today's order of
// events); PostgreSQL gets `size`, so units run side by side.
//
// On PostgreSQL every unit is one SERIALIZABLE transaction. A unit that
// meets a serialization failure runs again; one whose connection broke
// runs again on a new connection, with growing pauses, a bounded number
// of times; then the last error is thrown for the caller's "busy" answer.
// A connection lost during COMMIT is not retried (the outcome is unknown)
// and throws a Fault. The unit must therefore be safe to run again: it
// does its work through `db` and keeps its results in locals.
class SqlPool {
public:
    SqlPool(std::string target, int size);
    SqlPool(const SqlPool&) = delete;
    SqlPool& operator=(const SqlPool&) = delete;
    ~SqlPool();

    SqlEngine engine() const { return m_engine; }
    const std::string& target() const { return m_target; }

    template <class F>
    auto Run(F&& unit) -> std::invoke_result_t<F&, Database&> {
        using R = std::invoke_result_t<F&, Database&>;
        if constexpr (std::is_void_v<R>) {
            RunUnit([&](Database& db) { unit(db); });
        } else {
            std::optional<R> out;
            RunUnit([&](Database& db) { out.emplace(unit(db)); });
            return std::move(*out);
        }
    }

    // Attempts for a unit whose connection broke, and the first pause.
    static constexpr int kLostAttempts = 8;
    static constexpr int kConflictAttempts = 24;
    static constexpr std::chrono::milliseconds kFirstPause{50};

private:
    void RunUnit(const std::function<void(Database&)>& unit);
    std::unique_ptr<Database> Acquire();
    void Release(std::unique_ptr<Database> db, bool keep);

    const std::string m_target;
    const SqlEngine m_engine;
    const int m_size;
    std::mutex m_mutex;
    std::condition_variable m_freed;
    std::vector<std::unique_ptr<Database>> m_idle;
    int m_lent = 0;
};

}  // namespace skiv::server
