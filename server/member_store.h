#pragma once
// The service's records in one SQLite file (WAL): members, their login
// sessions (member key + download capability), login failure counters and
// the description of each member's stored package. The package bytes live
// in files (PackageShelf); this store only names the current file.
//
// Thread safety: every public call takes the store's mutex, so one
// instance serves the whole HTTP thread pool. Other processes (the
// administration commands) may use the same file at the same time.
//
// Member IDs compare without regard to ASCII case; the spelling given at
// registration is the one kept.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sqlite_db.h"

namespace skiv::server {

struct MemberRecord {
    std::string id;
    std::string passwordHash;
    bool suspended = false;
    std::int64_t createdAt = 0;
    std::int64_t fileSize = 0;            // bytes of the stored package, 0 when none
    int fileType = 0;                     // 0 nothing stored, 1 or 2
    std::optional<std::int64_t> savedAt;  // unix seconds of the last stored package
    std::string packageName;              // file name inside the shelf, empty when none
};

struct SessionGrant {
    std::string memberKey;
    std::string capability;
    std::int64_t expiresAt = 0;
};

class MemberStore {
public:
    // Opens or creates the database and its tables. Throws SqliteError.
    explicit MemberStore(const std::string& path);

    // False when the ID is taken (any case).
    bool AddMember(const std::string& id, const std::string& passwordHash, std::int64_t now);
    std::optional<MemberRecord> FindMember(const std::string& id);
    std::vector<MemberRecord> ListMembers();
    // False when no such member. Suspending also ends every session.
    bool SetSuspended(const std::string& id, bool suspended);
    void SetPasswordHash(const std::string& id, const std::string& passwordHash);

    // Lock-out bookkeeping, by the login ID as typed (known or not, so a
    // lock does not tell whether an ID exists).
    // Unix time until which the ID is locked, or 0.
    std::int64_t LockedUntil(const std::string& loginId, std::int64_t now);
    // Counts one failure; at `maxFailures` the ID is locked for
    // `lockSeconds` and the count starts again.
    void RecordFailure(const std::string& loginId, std::int64_t now, int maxFailures,
                       std::int64_t lockSeconds);
    void ClearFailures(const std::string& loginId);

    // Stores a new session and drops expired ones and all but the newest
    // `keep` sessions of the member.
    void AddSession(const std::string& id, const SessionGrant& grant, std::int64_t now, int keep);
    // Compare the offered secret with every live session of the member in
    // constant time.
    bool MemberKeyValid(const std::string& id, const std::string& key, std::int64_t now);
    bool CapabilityValid(const std::string& id, const std::string& capability, std::int64_t now);

    // Points the member at a new package file, in one transaction with its
    // size, type and date. Returns the file name it replaced (empty for
    // none). Throws SqliteError; then nothing changed.
    std::string RecordPackage(const std::string& id, const std::string& packageName,
                              std::int64_t size, int fileType, std::int64_t now);
    // Every package file name the store refers to.
    std::vector<std::string> PackageNames();

    // A named value created once (for example the registration form's
    // secret): returns the stored value, storing `initial` when absent.
    std::string SettingOr(const std::string& name, const std::string& initial);

private:
    bool SecretValid(const char* sql, const std::string& id, const std::string& secret,
                     std::int64_t now);

    std::mutex m_mutex;
    Database m_db;
};

}  // namespace skiv::server
