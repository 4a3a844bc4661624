#pragma once
// The service's records in one SQLite file (WAL) or on a PostgreSQL
// server (see sql_db.h): members, their login
// sessions (digests of member key + download capability), login and
// registration counters and the description of each member's stored
// package. The package bytes live in files (PackageShelf); this store only
// names the current file.
//
// Thread safety: every public call borrows a connection from the store's
// pool for one unit of work, so one instance serves the whole HTTP thread
// pool (side by side on PostgreSQL, in turn on SQLite). Other processes
// (the administration commands, other service instances) may use the same
// store at the same time: everything they must agree on is in it.
//
// Member IDs compare without regard to ASCII case; the spelling given at
// registration is the one kept.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sql_db.h"

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
    // What was recorded of that package at upload; an empty digest when
    // nothing was (a package stored before the service recorded it).
    std::string packageSha256;
    std::int64_t packageEntries = -1;
    std::int64_t packageBytes = -1;
};

// How many failed logins each scope takes before it backs off. A scope at
// or above its limit is refused for backoffSeconds, doubled for every
// further failure, at most maxBackoffSeconds; failures are forgotten a day
// after the last one (an hour for one ID from one address).
struct LoginLimits {
    int pairFailures = 5;      // one ID from one address
    int addressFailures = 30;  // any IDs from one address
    // One ID from all addresses. This only slows addresses that have
    // failures of their own, so a distributed guesser cannot shut the
    // member out from a clean address.
    int idFailures = 20;
    std::int64_t backoffSeconds = 60;
    std::int64_t maxBackoffSeconds = 900;
};

// Registrations one address may make per window: form posts that reach
// the account checks, and accounts actually added.
struct RegistrationLimits {
    int posts = 30;
    int accounts = 5;
    std::int64_t windowSeconds = 3600;
};

// Which game flavor a stored set was saved from, and the game's version
// there; both empty when the client did not say (older clients never do).
struct SetOrigin {
    std::string flavor;       // the flavor folder's name, e.g. "_classic_"
    std::string gameVersion;  // e.g. "1.15.2.55140"
};

// The origin a client claims, as it may be recorded: it goes back out in a
// tag reply, so only short words of letters, digits, '_', '.' and '-' are
// kept (anything else is dropped), and no version without a flavor.
SetOrigin MakeSetOrigin(const std::string& flavor, const std::string& gameVersion);

struct SessionGrant {
    std::string memberKey;
    std::string capability;
    std::int64_t expiresAt = 0;
};

// Creates the tables of a new store or brings an older one to the current
// schema: the numbered steps, in one transaction. Instances starting
// together on one PostgreSQL database take turns. Throws SqlError.
void MigrateStore(const std::string& target);

class MemberStore {
public:
    // Opens or creates the database and brings its tables to the current
    // schema. `target` is a SQLite file path or a postgresql:// URL;
    // `poolSize` connections at most (PostgreSQL). Throws SqlError.
    explicit MemberStore(const std::string& target, int poolSize = 8);

    // False when the ID is taken (any case).
    bool AddMember(const std::string& id, const std::string& passwordHash, std::int64_t now);
    std::optional<MemberRecord> FindMember(const std::string& id);
    std::vector<MemberRecord> ListMembers();
    // False when no such member. Suspending also ends every session.
    bool SetSuspended(const std::string& id, bool suspended);
    void SetPasswordHash(const std::string& id, const std::string& passwordHash);

    // Login throttling, by the login ID as typed (known or not, so a
    // refusal does not tell whether an ID exists) and the client's address.
    // Decides whether an attempt may have its password verified and, when
    // it may, counts it as a failure in the same transaction, so parallel
    // attempts never see a count that is too low. False: refused unverified.
    bool BeginLoginAttempt(const std::string& loginId, std::string_view address, std::int64_t now,
                           const LoginLimits& limits);
    // Takes back the count of an attempt whose password was right, and
    // only that one: clearing more would let the attempts of a burst that
    // were still in flight, or came after, be verified beyond the limits.
    void LoginSucceeded(const std::string& loginId, std::string_view address,
                        const LoginLimits& limits);

    // Registration bookkeeping per client address. Counts one form post,
    // pessimistically as an added account; nullopt (nothing counted) when the
    // address used up its posts or accounts of the window. The returned
    // slot is given back to RegistrationNotAdded when no account was made.
    std::optional<std::int64_t> BeginRegistration(std::string_view address, std::int64_t now,
                                                  const RegistrationLimits& limits);
    void RegistrationNotAdded(std::int64_t slot);
    // Marks a single-use token (by its digest) as spent until `expiresAt`;
    // false when it was spent already.
    bool SpendToken(const std::string& tokenDigest, std::int64_t expiresAt, std::int64_t now);

    // Stores a new session (only digests of its two secrets) and drops
    // expired ones and all but the newest `keep` sessions of the member.
    void AddSession(const std::string& id, const SessionGrant& grant, std::int64_t now, int keep);
    // Compare the digest of the offered secret with every live session of
    // the member in constant time.
    bool MemberKeyValid(const std::string& id, const std::string& key, std::int64_t now);
    bool CapabilityValid(const std::string& id, const std::string& capability, std::int64_t now);
    // The member whose live session holds `capability` (the delta
    // addresses carry no member ID); nullopt when none or suspended.
    std::optional<std::string> MemberForCapability(const std::string& capability, std::int64_t now);

    // Points the member at a new package file, in one transaction with its
    // size, type and date, and what was recorded of it at upload (its
    // SHA-256, empty when unknown; its archive's entry count and size,
    // -1 when unknown). Returns the file name it replaced (empty for
    // none). Throws SqliteError; then nothing changed.
    std::string RecordPackage(const std::string& id, const std::string& packageName,
                              std::int64_t size, int fileType, std::int64_t now,
                              const std::string& sha256 = {}, std::int64_t entries = -1,
                              std::int64_t bytes = -1);
    // Records where the member's current set came from; an empty flavor
    // forgets it (the set came from a client that does not tell).
    void RecordOrigin(const std::string& id, const SetOrigin& origin);
    // Empty fields when nothing is recorded.
    SetOrigin FindOrigin(const std::string& id);
    // Every package file name the store refers to.
    std::vector<std::string> PackageNames();

    // A named value created once (for example the registration form's
    // secret): returns the stored value, storing `initial` when absent.
    std::string SettingOr(const std::string& name, const std::string& initial);

private:
    bool SecretValid(const char* sql, const std::string& id, const std::string& secret,
                     std::int64_t now);

    SqlPool m_pool;
};

}  // namespace skiv::server
