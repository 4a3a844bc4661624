#include "member_store.h"

#include <sqlite3.h>

#include "secrets.h"

namespace skiv::server {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS members (
    id            TEXT PRIMARY KEY COLLATE NOCASE,
    password_hash TEXT NOT NULL,
    suspended     INTEGER NOT NULL DEFAULT 0,
    created_at    INTEGER NOT NULL,
    file_size     INTEGER NOT NULL DEFAULT 0,
    file_type     INTEGER NOT NULL DEFAULT 0,
    saved_at      INTEGER,
    package_name  TEXT
);
CREATE TABLE IF NOT EXISTS sessions (
    member_id   TEXT NOT NULL COLLATE NOCASE REFERENCES members(id) ON DELETE CASCADE,
    member_key  TEXT NOT NULL,
    capability  TEXT NOT NULL,
    issued_at   INTEGER NOT NULL,
    expires_at  INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS sessions_by_member ON sessions(member_id);
CREATE TABLE IF NOT EXISTS login_failures (
    login_id     TEXT PRIMARY KEY COLLATE NOCASE,
    failures     INTEGER NOT NULL,
    locked_until INTEGER NOT NULL DEFAULT 0,
    last_failure INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS settings (
    name  TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
)sql";

// Failure counters of IDs nobody has typed for a day are forgotten, and
// the table keeps at most kMaxFailureRows unlocked counters, so guessing
// random IDs cannot grow it without bound. Keys are cut to
// kFailureKeyBytes (far longer than any valid ID).
constexpr std::int64_t kFailureMemorySeconds = 86400;
constexpr std::int64_t kMaxFailureRows = 100000;
constexpr std::size_t kFailureKeyBytes = 64;

MemberRecord ReadMember(const Statement& s) {
    MemberRecord m;
    m.id = s.Text(0);
    m.passwordHash = s.Text(1);
    m.suspended = s.Int(2) != 0;
    m.createdAt = s.Int(3);
    m.fileSize = s.Int(4);
    m.fileType = static_cast<int>(s.Int(5));
    if (!s.IsNull(6))
        m.savedAt = s.Int(6);
    m.packageName = s.Text(7);
    return m;
}

constexpr const char* kMemberColumns =
    "SELECT id, password_hash, suspended, created_at, file_size, file_type, saved_at, "
    "package_name FROM members ";

}  // namespace

MemberStore::MemberStore(const std::string& path) : m_db(path) {
    m_db.Exec(kSchema);
}

bool MemberStore::AddMember(const std::string& id, const std::string& passwordHash,
                            std::int64_t now) {
    std::lock_guard lock(m_mutex);
    auto s = m_db.Prepare(
        "INSERT INTO members (id, password_hash, created_at) VALUES (?1, ?2, ?3) "
        "ON CONFLICT(id) DO NOTHING");
    s.Bind(1, id).Bind(2, passwordHash).Bind(3, now).Run();
    return m_db.Changes() == 1;
}

std::optional<MemberRecord> MemberStore::FindMember(const std::string& id) {
    std::lock_guard lock(m_mutex);
    auto s = m_db.Prepare(std::string(kMemberColumns) + "WHERE id = ?1");
    s.Bind(1, id);
    if (!s.Step())
        return std::nullopt;
    return ReadMember(s);
}

std::vector<MemberRecord> MemberStore::ListMembers() {
    std::lock_guard lock(m_mutex);
    auto s = m_db.Prepare(std::string(kMemberColumns) + "ORDER BY id");
    std::vector<MemberRecord> out;
    while (s.Step())
        out.push_back(ReadMember(s));
    return out;
}

bool MemberStore::SetSuspended(const std::string& id, bool suspended) {
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    auto s = m_db.Prepare("UPDATE members SET suspended = ?2 WHERE id = ?1");
    s.Bind(1, id).Bind(2, std::int64_t{suspended ? 1 : 0}).Run();
    bool found = m_db.Changes() == 1;
    if (found && suspended)
        m_db.Prepare("DELETE FROM sessions WHERE member_id = ?1").Bind(1, id).Run();
    tx.Commit();
    return found;
}

void MemberStore::SetPasswordHash(const std::string& id, const std::string& passwordHash) {
    std::lock_guard lock(m_mutex);
    m_db.Prepare("UPDATE members SET password_hash = ?2 WHERE id = ?1")
        .Bind(1, id)
        .Bind(2, passwordHash)
        .Run();
}

std::int64_t MemberStore::LockedUntil(const std::string& loginId, std::int64_t now) {
    std::lock_guard lock(m_mutex);
    auto s = m_db.Prepare("SELECT locked_until FROM login_failures WHERE login_id = ?1");
    s.Bind(1, loginId.substr(0, kFailureKeyBytes));
    if (!s.Step())
        return 0;
    std::int64_t until = s.Int(0);
    return until > now ? until : 0;
}

void MemberStore::RecordFailure(const std::string& loginId, std::int64_t now, int maxFailures,
                                std::int64_t lockSeconds) {
    const std::string key = loginId.substr(0, kFailureKeyBytes);
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    m_db.Prepare("DELETE FROM login_failures WHERE last_failure < ?1 AND locked_until < ?2")
        .Bind(1, now - kFailureMemorySeconds)
        .Bind(2, now)
        .Run();
    auto count = m_db.Prepare("SELECT count(*) FROM login_failures");
    const std::int64_t rows = count.Step() ? count.Int(0) : 0;
    count.Run();
    if (rows >= kMaxFailureRows) {
        m_db.Prepare(
                "DELETE FROM login_failures WHERE rowid IN (SELECT rowid FROM login_failures "
                "WHERE locked_until < ?1 ORDER BY last_failure LIMIT ?2)")
            .Bind(1, now)
            .Bind(2, rows - kMaxFailureRows + 1)
            .Run();
    }
    auto s = m_db.Prepare(
        "INSERT INTO login_failures (login_id, failures, last_failure) VALUES (?1, 1, ?2) "
        "ON CONFLICT(login_id) DO UPDATE SET failures = failures + 1, last_failure = ?2 "
        "RETURNING failures");
    s.Bind(1, key).Bind(2, now);
    std::int64_t failures = s.Step() ? s.Int(0) : 0;
    s.Run();
    if (failures >= maxFailures) {
        m_db.Prepare(
                "UPDATE login_failures SET failures = 0, locked_until = ?2 WHERE login_id = ?1")
            .Bind(1, key)
            .Bind(2, now + lockSeconds)
            .Run();
    }
    tx.Commit();
}

void MemberStore::ClearFailures(const std::string& loginId) {
    std::lock_guard lock(m_mutex);
    m_db.Prepare("DELETE FROM login_failures WHERE login_id = ?1")
        .Bind(1, loginId.substr(0, kFailureKeyBytes))
        .Run();
}

void MemberStore::AddSession(const std::string& id, const SessionGrant& grant, std::int64_t now,
                             int keep) {
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    m_db.Prepare("DELETE FROM sessions WHERE expires_at <= ?1").Bind(1, now).Run();
    m_db.Prepare(
            "INSERT INTO sessions (member_id, member_key, capability, issued_at, expires_at) "
            "VALUES (?1, ?2, ?3, ?4, ?5)")
        .Bind(1, id)
        .Bind(2, grant.memberKey)
        .Bind(3, grant.capability)
        .Bind(4, now)
        .Bind(5, grant.expiresAt)
        .Run();
    m_db.Prepare(
            "DELETE FROM sessions WHERE member_id = ?1 AND rowid NOT IN "
            "(SELECT rowid FROM sessions WHERE member_id = ?1 ORDER BY rowid DESC LIMIT ?2)")
        .Bind(1, id)
        .Bind(2, std::int64_t{keep})
        .Run();
    tx.Commit();
}

bool MemberStore::SecretValid(const char* sql, const std::string& id, const std::string& secret,
                              std::int64_t now) {
    std::lock_guard lock(m_mutex);
    auto s = m_db.Prepare(sql);
    s.Bind(1, id).Bind(2, now);
    bool match = false;
    while (s.Step()) {
        // Every row is compared, so the answer's timing does not tell
        // which session (if any) matched.
        match = ConstantTimeEqual(s.Text(0), secret) || match;
    }
    return match;
}

bool MemberStore::MemberKeyValid(const std::string& id, const std::string& key, std::int64_t now) {
    return SecretValid(
        "SELECT member_key FROM sessions JOIN members ON members.id = sessions.member_id "
        "WHERE sessions.member_id = ?1 AND expires_at > ?2 AND members.suspended = 0",
        id, key, now);
}

bool MemberStore::CapabilityValid(const std::string& id, const std::string& capability,
                                  std::int64_t now) {
    return SecretValid(
        "SELECT capability FROM sessions JOIN members ON members.id = sessions.member_id "
        "WHERE sessions.member_id = ?1 AND expires_at > ?2 AND members.suspended = 0",
        id, capability, now);
}

std::string MemberStore::RecordPackage(const std::string& id, const std::string& packageName,
                                       std::int64_t size, int fileType, std::int64_t now) {
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    auto old = m_db.Prepare("SELECT package_name FROM members WHERE id = ?1");
    old.Bind(1, id);
    if (!old.Step())
        throw SqliteError("member vanished: " + id, SQLITE_NOTFOUND);
    std::string previous = old.Text(0);
    old.Run();
    m_db.Prepare(
            "UPDATE members SET package_name = ?2, file_size = ?3, file_type = ?4, saved_at = ?5 "
            "WHERE id = ?1")
        .Bind(1, id)
        .Bind(2, packageName)
        .Bind(3, size)
        .Bind(4, std::int64_t{fileType})
        .Bind(5, now)
        .Run();
    tx.Commit();
    return previous;
}

std::vector<std::string> MemberStore::PackageNames() {
    std::lock_guard lock(m_mutex);
    auto s = m_db.Prepare("SELECT package_name FROM members WHERE package_name IS NOT NULL");
    std::vector<std::string> out;
    while (s.Step())
        out.push_back(s.Text(0));
    return out;
}

std::string MemberStore::SettingOr(const std::string& name, const std::string& initial) {
    std::lock_guard lock(m_mutex);
    m_db.Prepare("INSERT INTO settings (name, value) VALUES (?1, ?2) ON CONFLICT DO NOTHING")
        .Bind(1, name)
        .Bind(2, initial)
        .Run();
    auto s = m_db.Prepare("SELECT value FROM settings WHERE name = ?1");
    s.Bind(1, name);
    return s.Step() ? s.Text(0) : initial;
}

}  // namespace skiv::server
