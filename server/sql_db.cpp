#include "sql_db.h"

#include <algorithm>
#include <random>
#include <thread>
#include <utility>

namespace skiv::server {

bool IsPostgresUrl(std::string_view target) {
    return target.substr(0, 13) == "postgresql://" || target.substr(0, 11) == "postgres://";
}

Database::Database(const std::string& target)
    : m_impl(IsPostgresUrl(target) ? sql_detail::OpenPostgres(target)
                                   : sql_detail::OpenSqlite(target)) {}

Database::Database(Database&& other) noexcept
    : m_impl(std::move(other.m_impl)), m_outer(other.m_outer), m_rollback(other.m_rollback) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        m_impl = std::move(other.m_impl);
        m_outer = other.m_outer;
        m_rollback = other.m_rollback;
    }
    return *this;
}

Database::~Database() = default;

Statement Database::Prepare(std::string_view sql) {
    return Statement(m_impl->Prepare(sql));
}

Transaction::Transaction(Database& db) : m_db(db), m_nested(db.m_outer) {
    if (!m_nested)
        m_db.Exec(m_db.m_impl->BeginSql());
}

Transaction::~Transaction() {
    if (m_done)
        return;
    if (m_nested) {
        m_db.m_rollback = true;
        return;
    }
    try {
        m_db.Exec("ROLLBACK");
    } catch (...) {
        // A failed rollback leaves the engine to roll back when the
        // connection closes; nothing more can be done from a destructor.
    }
}

void Transaction::Commit() {
    if (!m_nested)
        m_db.Exec("COMMIT");
    m_done = true;
}

SqlPool::SqlPool(std::string target, int size)
    : m_target(std::move(target)),
      m_engine(IsPostgresUrl(m_target) ? SqlEngine::Postgres : SqlEngine::Sqlite),
      m_size(m_engine == SqlEngine::Sqlite ? 1 : std::max(1, size)) {
    // Opened now, so a wrong target or a missing server fails the start
    // rather than the first request.
    m_idle.push_back(std::make_unique<Database>(m_target));
}

SqlPool::~SqlPool() = default;

std::unique_ptr<Database> SqlPool::Acquire() {
    std::unique_lock lock(m_mutex);
    m_freed.wait(
        lock, [&] { return !m_idle.empty() || m_lent + static_cast<int>(m_idle.size()) < m_size; });
    ++m_lent;
    if (m_idle.empty())
        return nullptr;  // a free slot: the caller opens a connection
    std::unique_ptr<Database> db = std::move(m_idle.back());
    m_idle.pop_back();
    return db;
}

void SqlPool::Release(std::unique_ptr<Database> db, bool keep) {
    {
        std::lock_guard lock(m_mutex);
        --m_lent;
        if (db && keep)
            m_idle.push_back(std::move(db));
    }
    m_freed.notify_one();
}

namespace {

void Pause(SqlError::Kind kind, int attempt) {
    thread_local std::minstd_rand jitter{std::random_device{}()};
    std::chrono::milliseconds wait;
    if (kind == SqlError::Kind::Conflict) {
        // Two units that collided should not collide again in step; the
        // window doubles, so a crowd of writers on the same rows thins out
        // instead of colliding again and again (up to about 3 s in all).
        wait = std::chrono::milliseconds(1 + jitter() % std::min(5 << std::min(attempt, 6), 200));
    } else {
        wait = SqlPool::kFirstPause * (1 << std::min(attempt, 4));
    }
    std::this_thread::sleep_for(wait);
}

}  // namespace

void SqlPool::RunUnit(const std::function<void(Database&)>& unit) {
    for (int attempt = 0;; ++attempt) {
        std::unique_ptr<Database> db = Acquire();
        bool keep = true;
        try {
            if (!db)
                db = std::make_unique<Database>(m_target);
            if (m_engine == SqlEngine::Sqlite) {
                unit(*db);
            } else {
                db->Exec(db->m_impl->BeginSql());
                db->m_outer = true;
                db->m_rollback = false;
                try {
                    unit(*db);
                } catch (...) {
                    db->m_outer = false;
                    try {
                        db->Exec("ROLLBACK");
                    } catch (...) {
                        keep = false;
                    }
                    throw;
                }
                db->m_outer = false;
                if (db->m_rollback) {
                    db->Exec("ROLLBACK");
                } else {
                    try {
                        db->Exec("COMMIT");
                    } catch (const SqlError& e) {
                        if (e.kind() != SqlError::Kind::Lost)
                            throw;
                        keep = false;
                        throw SqlError(std::string("connection lost at commit: ") + e.what(),
                                       e.code(), SqlError::Kind::Fault);
                    }
                }
            }
            Release(std::move(db), keep);
            return;
        } catch (const SqlError& e) {
            const bool lost = e.kind() == SqlError::Kind::Lost;
            Release(std::move(db), keep && !lost);
            const int attempts = lost ? kLostAttempts : kConflictAttempts;
            if (e.kind() == SqlError::Kind::Fault || attempt + 1 >= attempts)
                throw;
            Pause(e.kind(), attempt);
        } catch (...) {
            Release(std::move(db), keep);
            throw;
        }
    }
}

}  // namespace skiv::server
