#include "member_store.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>

#include "secrets.h"

namespace skiv::server {

namespace {

// The whole schema as a fresh file gets it. An older file is first brought
// through the steps below by the constructor, in one transaction with the
// schema, so a file is never seen half changed.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS members (
    id            TEXT PRIMARY KEY COLLATE NOCASE,
    password_hash TEXT NOT NULL,
    suspended     INTEGER NOT NULL DEFAULT 0,
    created_at    INTEGER NOT NULL,
    file_size     INTEGER NOT NULL DEFAULT 0,
    file_type     INTEGER NOT NULL DEFAULT 0,
    saved_at      INTEGER,
    package_name  TEXT,
    package_sha256  TEXT,
    package_entries INTEGER NOT NULL DEFAULT -1,
    package_bytes   INTEGER NOT NULL DEFAULT -1
);
CREATE TABLE IF NOT EXISTS sessions (
    member_id         TEXT NOT NULL COLLATE NOCASE REFERENCES members(id) ON DELETE CASCADE,
    key_digest        TEXT NOT NULL,
    capability_digest TEXT NOT NULL,
    issued_at         INTEGER NOT NULL,
    expires_at        INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS sessions_by_member ON sessions(member_id);
CREATE TABLE IF NOT EXISTS login_throttle (
    scope         TEXT PRIMARY KEY COLLATE NOCASE,
    failures      INTEGER NOT NULL,
    blocked_until INTEGER NOT NULL DEFAULT 0,
    last_failure  INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS registration_posts (
    address TEXT NOT NULL COLLATE NOCASE,
    at      INTEGER NOT NULL,
    added   INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS registration_posts_by_address ON registration_posts(address, at);
CREATE TABLE IF NOT EXISTS spent_tokens (
    digest     TEXT PRIMARY KEY,
    expires_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS settings (
    name  TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS sessions_by_capability ON sessions(capability_digest);
-- The package store (version_store.h): every stored piece file, each
-- member's versions with their ordered pieces, and delta uploads in flight
-- with the pieces they will need.
CREATE TABLE IF NOT EXISTS pieces (
    name  TEXT PRIMARY KEY,
    bytes INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS versions (
    id            INTEGER PRIMARY KEY AUTOINCREMENT,
    member_id     TEXT NOT NULL COLLATE NOCASE REFERENCES members(id) ON DELETE CASCADE,
    saved_at      INTEGER NOT NULL,
    file_type     INTEGER NOT NULL,
    package_bytes INTEGER NOT NULL,
    package_sha   TEXT NOT NULL,
    entries       INTEGER NOT NULL,
    unpacked      INTEGER NOT NULL,
    changed       INTEGER NOT NULL,
    computer      TEXT NOT NULL,
    manifest      TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS versions_by_member ON versions(member_id, id);
CREATE TABLE IF NOT EXISTS version_pieces (
    version_id INTEGER NOT NULL REFERENCES versions(id) ON DELETE CASCADE,
    seq        INTEGER NOT NULL,
    name       TEXT NOT NULL,
    bytes      INTEGER NOT NULL,
    PRIMARY KEY (version_id, seq)
);
CREATE INDEX IF NOT EXISTS version_pieces_by_name ON version_pieces(name);
CREATE TABLE IF NOT EXISTS delta_uploads (
    token      TEXT PRIMARY KEY,
    member_id  TEXT NOT NULL COLLATE NOCASE REFERENCES members(id) ON DELETE CASCADE,
    manifest   TEXT NOT NULL,
    expires_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS delta_upload_pieces (
    token TEXT NOT NULL REFERENCES delta_uploads(token) ON DELETE CASCADE,
    name  TEXT NOT NULL,
    bytes INTEGER NOT NULL,
    PRIMARY KEY (token, name)
);
CREATE INDEX IF NOT EXISTS delta_upload_pieces_by_name ON delta_upload_pieces(name);
)sql";
// Version 2 added the package store's tables; a version 1 file's packages
// are taken into it by VersionStore::Recover.
constexpr std::int64_t kSchemaVersion = 2;

// Kept beside the members table rather than in it, so files of every
// version gain it by creation alone.
constexpr const char* kOriginSchema = R"sql(
CREATE TABLE IF NOT EXISTS set_origins (
    member_id    TEXT PRIMARY KEY COLLATE NOCASE REFERENCES members(id) ON DELETE CASCADE,
    flavor       TEXT NOT NULL,
    game_version TEXT NOT NULL
);
)sql";

// Version 1 had no record of what a stored package holds.
constexpr const char* kFromVersion1 = R"sql(
ALTER TABLE members ADD COLUMN package_sha256 TEXT;
ALTER TABLE members ADD COLUMN package_entries INTEGER NOT NULL DEFAULT -1;
ALTER TABLE members ADD COLUMN package_bytes INTEGER NOT NULL DEFAULT -1;
)sql";

// Version 0 kept live member keys and capabilities as they were, and hard
// per-ID locks. Both tables go; their rows are not worth converting (the
// members simply log in again).
constexpr const char* kFromVersion0 = R"sql(
DROP TABLE IF EXISTS sessions;
DROP TABLE IF EXISTS login_failures;
)sql";

// Throttle rows of scopes nobody has failed in for a day (an hour for one
// ID from one address, so a member's own typos fade soon) are forgotten,
// and the table keeps at most kMaxThrottleRows unblocked rows, so guessing
// random IDs cannot grow it without bound. IDs and addresses are cut to
// kThrottleKeyBytes (far longer than any valid ID or address).
constexpr std::int64_t kFailureMemorySeconds = 86400;
constexpr std::int64_t kPairMemorySeconds = 3600;
constexpr std::int64_t kMaxThrottleRows = 100000;
constexpr std::size_t kThrottleKeyBytes = 64;

// The part of a client address that throttling counts: an IPv6 client
// usually holds a whole /64, so that prefix is one address here; an
// IPv4-mapped address is its IPv4 address.
std::string AddressKey(std::string_view address) {
    std::string text(address.substr(0, kThrottleKeyBytes));
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) != 1)
        return text;
    char out[INET6_ADDRSTRLEN] = "";
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        ::inet_ntop(AF_INET, &v6.s6_addr[12], out, sizeof out);
        return out;
    }
    std::memset(&v6.s6_addr[8], 0, 8);
    ::inet_ntop(AF_INET6, &v6, out, sizeof out);
    return std::string(out) + "/64";
}

std::string IdKey(std::string_view loginId) {
    return std::string(loginId.substr(0, kThrottleKeyBytes));
}

std::int64_t Backoff(std::int64_t failures, int limit, const LoginLimits& limits) {
    std::int64_t wait = limits.backoffSeconds;
    for (std::int64_t i = limit; i < failures && wait < limits.maxBackoffSeconds; ++i)
        wait *= 2;
    return std::min(wait, limits.maxBackoffSeconds);
}

struct ThrottleRow {
    std::int64_t failures = 0;
    std::int64_t blockedUntil = 0;
};

ThrottleRow ReadThrottle(Database& db, const std::string& scope) {
    auto s = db.Prepare("SELECT failures, blocked_until FROM login_throttle WHERE scope = ?1");
    s.Bind(1, scope);
    ThrottleRow row;
    if (s.Step()) {
        row.failures = s.Int(0);
        row.blockedUntil = s.Int(1);
    }
    return row;
}

// One more failure; at the limit and beyond, the scope backs off.
void CountFailure(Database& db, const std::string& scope, std::int64_t now, int limit,
                  const LoginLimits& limits) {
    auto s = db.Prepare(
        "INSERT INTO login_throttle (scope, failures, last_failure) VALUES (?1, 1, ?2) "
        "ON CONFLICT(scope) DO UPDATE SET failures = failures + 1, last_failure = ?2 "
        "RETURNING failures");
    s.Bind(1, scope).Bind(2, now);
    const std::int64_t failures = s.Step() ? s.Int(0) : 0;
    s.Run();
    if (failures >= limit) {
        db.Prepare("UPDATE login_throttle SET blocked_until = ?2 WHERE scope = ?1")
            .Bind(1, scope)
            .Bind(2, now + Backoff(failures, limit, limits))
            .Run();
    }
}

// Undoes one CountFailure. Below the limit again, the scope is not blocked;
// at or above it the block stays, as the scope's other failures earned it.
void TakeBackFailure(Database& db, const std::string& scope, int limit) {
    db.Prepare(
          "UPDATE login_throttle SET failures = max(failures - 1, 0), "
          "blocked_until = CASE WHEN failures - 1 < ?2 THEN 0 ELSE blocked_until END "
          "WHERE scope = ?1")
        .Bind(1, scope)
        .Bind(2, std::int64_t{limit})
        .Run();
    // A scope back at no failures needs no row (every success made one).
    db.Prepare("DELETE FROM login_throttle WHERE scope = ?1 AND failures = 0").Bind(1, scope).Run();
}

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
    if (!s.IsNull(8)) {
        m.packageSha256 = s.Text(8);
        m.packageEntries = s.Int(9);
        m.packageBytes = s.Int(10);
    }
    return m;
}

constexpr const char* kMemberColumns =
    "SELECT id, password_hash, suspended, created_at, file_size, file_type, saved_at, "
    "package_name, package_sha256, package_entries, package_bytes FROM members ";

}  // namespace

namespace {

std::string OriginWord(const std::string& value) {
    if (value.size() > 64)
        return {};
    for (char c : value) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-';
        if (!ok)
            return {};
    }
    return value;
}

}  // namespace

SetOrigin MakeSetOrigin(const std::string& flavor, const std::string& gameVersion) {
    SetOrigin origin{OriginWord(flavor), OriginWord(gameVersion)};
    if (origin.flavor.empty())
        origin.gameVersion.clear();
    return origin;
}

MemberStore::MemberStore(const std::string& path) : m_db(path) {
    Transaction tx(m_db);
    auto read = m_db.Prepare("PRAGMA user_version");
    const std::int64_t version = read.Step() ? read.Int(0) : 0;
    read.Run();
    if (version < 1)
        m_db.Exec(kFromVersion0);
    // An older file has the members table without the package record.
    bool hasMembers = false;
    if (version < 2) {
        auto t =
            m_db.Prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'members'");
        hasMembers = t.Step();
        t.Run();
    }
    if (hasMembers)
        m_db.Exec(kFromVersion1);
    m_db.Exec(kSchema);
    m_db.Exec(kOriginSchema);
    if (version != kSchemaVersion)
        m_db.Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    tx.Commit();
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

bool MemberStore::BeginLoginAttempt(const std::string& loginId, std::string_view address,
                                    std::int64_t now, const LoginLimits& limits) {
    const std::string addressKey = AddressKey(address);
    const std::string pairScope = "p " + addressKey + " " + IdKey(loginId);
    const std::string addressScope = "a " + addressKey;
    const std::string idScope = "i " + IdKey(loginId);
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    m_db.Prepare(
            "DELETE FROM login_throttle WHERE blocked_until < ?3 AND (last_failure < ?1 OR "
            "(last_failure < ?2 AND scope LIKE 'p %'))")
        .Bind(1, now - kFailureMemorySeconds)
        .Bind(2, now - kPairMemorySeconds)
        .Bind(3, now)
        .Run();
    auto count = m_db.Prepare("SELECT count(*) FROM login_throttle");
    const std::int64_t rows = count.Step() ? count.Int(0) : 0;
    count.Run();
    if (rows >= kMaxThrottleRows) {
        m_db.Prepare(
                "DELETE FROM login_throttle WHERE rowid IN (SELECT rowid FROM login_throttle "
                "WHERE blocked_until < ?1 ORDER BY last_failure LIMIT ?2)")
            .Bind(1, now)
            .Bind(2, rows - kMaxThrottleRows + 3)
            .Run();
    }
    const ThrottleRow pair = ReadThrottle(m_db, pairScope);
    const ThrottleRow from = ReadThrottle(m_db, addressScope);
    const ThrottleRow id = ReadThrottle(m_db, idScope);
    if (pair.blockedUntil > now || from.blockedUntil > now)
        return false;
    if (id.blockedUntil > now && from.failures > 0)
        return false;
    CountFailure(m_db, pairScope, now, limits.pairFailures, limits);
    CountFailure(m_db, addressScope, now, limits.addressFailures, limits);
    CountFailure(m_db, idScope, now, limits.idFailures, limits);
    tx.Commit();
    return true;
}

void MemberStore::LoginSucceeded(const std::string& loginId, std::string_view address,
                                 const LoginLimits& limits) {
    const std::string addressKey = AddressKey(address);
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    TakeBackFailure(m_db, "p " + addressKey + " " + IdKey(loginId), limits.pairFailures);
    TakeBackFailure(m_db, "a " + addressKey, limits.addressFailures);
    TakeBackFailure(m_db, "i " + IdKey(loginId), limits.idFailures);
    tx.Commit();
}

std::optional<std::int64_t> MemberStore::BeginRegistration(std::string_view address,
                                                           std::int64_t now,
                                                           const RegistrationLimits& limits) {
    const std::string addressKey = AddressKey(address);
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    m_db.Prepare("DELETE FROM registration_posts WHERE at <= ?1")
        .Bind(1, now - limits.windowSeconds)
        .Run();
    auto s = m_db.Prepare(
        "SELECT count(*), coalesce(sum(added), 0) FROM registration_posts WHERE address = ?1");
    s.Bind(1, addressKey);
    const bool any = s.Step();
    const std::int64_t posts = any ? s.Int(0) : 0;
    const std::int64_t added = any ? s.Int(1) : 0;
    s.Run();
    if (posts >= limits.posts || added >= limits.accounts)
        return std::nullopt;
    m_db.Prepare("INSERT INTO registration_posts (address, at, added) VALUES (?1, ?2, 1)")
        .Bind(1, addressKey)
        .Bind(2, now)
        .Run();
    const std::int64_t slot = sqlite3_last_insert_rowid(m_db.handle());
    tx.Commit();
    return slot;
}

void MemberStore::RegistrationNotAdded(std::int64_t slot) {
    std::lock_guard lock(m_mutex);
    m_db.Prepare("UPDATE registration_posts SET added = 0 WHERE rowid = ?1").Bind(1, slot).Run();
}

bool MemberStore::SpendToken(const std::string& tokenDigest, std::int64_t expiresAt,
                             std::int64_t now) {
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    m_db.Prepare("DELETE FROM spent_tokens WHERE expires_at < ?1").Bind(1, now).Run();
    m_db.Prepare(
            "INSERT INTO spent_tokens (digest, expires_at) VALUES (?1, ?2) "
            "ON CONFLICT(digest) DO NOTHING")
        .Bind(1, tokenDigest)
        .Bind(2, expiresAt)
        .Run();
    const bool fresh = m_db.Changes() == 1;
    tx.Commit();
    return fresh;
}

void MemberStore::AddSession(const std::string& id, const SessionGrant& grant, std::int64_t now,
                             int keep) {
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    m_db.Prepare("DELETE FROM sessions WHERE expires_at <= ?1").Bind(1, now).Run();
    m_db.Prepare(
            "INSERT INTO sessions (member_id, key_digest, capability_digest, issued_at, "
            "expires_at) VALUES (?1, ?2, ?3, ?4, ?5)")
        .Bind(1, id)
        .Bind(2, SecretDigest(grant.memberKey))
        .Bind(3, SecretDigest(grant.capability))
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
    const std::string digest = SecretDigest(secret);
    std::lock_guard lock(m_mutex);
    auto s = m_db.Prepare(sql);
    s.Bind(1, id).Bind(2, now);
    bool match = false;
    while (s.Step()) {
        // Every row is compared, so the answer's timing does not tell
        // which session (if any) matched.
        match = ConstantTimeEqual(s.Text(0), digest) || match;
    }
    return match;
}

bool MemberStore::MemberKeyValid(const std::string& id, const std::string& key, std::int64_t now) {
    return SecretValid(
        "SELECT key_digest FROM sessions JOIN members ON members.id = sessions.member_id "
        "WHERE sessions.member_id = ?1 AND expires_at > ?2 AND members.suspended = 0",
        id, key, now);
}

bool MemberStore::CapabilityValid(const std::string& id, const std::string& capability,
                                  std::int64_t now) {
    return SecretValid(
        "SELECT capability_digest FROM sessions JOIN members ON members.id = sessions.member_id "
        "WHERE sessions.member_id = ?1 AND expires_at > ?2 AND members.suspended = 0",
        id, capability, now);
}

std::optional<std::string> MemberStore::MemberForCapability(const std::string& capability,
                                                            std::int64_t now) {
    std::lock_guard lock(m_mutex);
    // Looked up by the digest: the capability carries 256 random bits, so
    // an index search by its hash tells a guesser nothing of the secret.
    auto s = m_db.Prepare(
        "SELECT sessions.member_id FROM sessions JOIN members ON members.id = sessions.member_id "
        "WHERE capability_digest = ?1 AND expires_at > ?2 AND members.suspended = 0");
    s.Bind(1, SecretDigest(capability)).Bind(2, now);
    if (!s.Step())
        return std::nullopt;
    return s.Text(0);
}

std::string MemberStore::RecordPackage(const std::string& id, const std::string& packageName,
                                       std::int64_t size, int fileType, std::int64_t now,
                                       const std::string& sha256, std::int64_t entries,
                                       std::int64_t bytes) {
    std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    auto old = m_db.Prepare("SELECT package_name FROM members WHERE id = ?1");
    old.Bind(1, id);
    if (!old.Step())
        throw SqliteError("member vanished: " + id, SQLITE_NOTFOUND);
    std::string previous = old.Text(0);
    old.Run();
    auto update = m_db.Prepare(
        "UPDATE members SET package_name = ?2, file_size = ?3, file_type = ?4, saved_at = ?5, "
        "package_sha256 = ?6, package_entries = ?7, package_bytes = ?8 WHERE id = ?1");
    update.Bind(1, id)
        .Bind(2, packageName)
        .Bind(3, size)
        .Bind(4, std::int64_t{fileType})
        .Bind(5, now);
    if (sha256.empty())
        update.BindNull(6);
    else
        update.Bind(6, sha256);
    update.Bind(7, entries).Bind(8, bytes).Run();
    tx.Commit();
    return previous;
}

void MemberStore::RecordOrigin(const std::string& id, const SetOrigin& origin) {
    std::lock_guard lock(m_mutex);
    if (origin.flavor.empty()) {
        m_db.Prepare("DELETE FROM set_origins WHERE member_id = ?1").Bind(1, id).Run();
        return;
    }
    m_db.Prepare(
            "INSERT INTO set_origins (member_id, flavor, game_version) VALUES (?1, ?2, ?3) "
            "ON CONFLICT(member_id) DO UPDATE SET flavor = ?2, game_version = ?3")
        .Bind(1, id)
        .Bind(2, origin.flavor)
        .Bind(3, origin.gameVersion)
        .Run();
}

SetOrigin MemberStore::FindOrigin(const std::string& id) {
    std::lock_guard lock(m_mutex);
    auto s = m_db.Prepare("SELECT flavor, game_version FROM set_origins WHERE member_id = ?1");
    s.Bind(1, id);
    if (!s.Step())
        return {};
    return {s.Text(0), s.Text(1)};
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
