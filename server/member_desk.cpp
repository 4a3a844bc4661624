#include "member_desk.h"

#include <ctime>
#include <exception>
#include <stdexcept>

#include "secrets.h"
#include "tag_reply.h"
#include "upload_gate.h"

namespace skiv::server {

namespace {

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string LoginFault(LoginError e, const char* message) {
    return ErrorReply(static_cast<int>(e), message);
}

}  // namespace

bool ValidMemberId(std::string_view id) {
    if (id.size() < 3 || id.size() > 32)
        return false;
    for (char c : id) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

MemberDesk::MemberDesk(MemberStore& store, PackageShelf& shelf, const PasswordHasher& hasher,
                       DeskPolicy policy)
    : m_store(store), m_shelf(shelf), m_hasher(hasher), m_policy(std::move(policy)) {}

std::string MemberDesk::Login(const std::optional<std::string>& id,
                              const std::optional<std::string>& password,
                              std::string_view clientAddress) {
    if (!id || !password || id->empty())
        return LoginFault(LoginError::Malformed, text::kLoginMalformed);
    try {
        return LoginChecked(*id, *password, clientAddress);
    } catch (const std::exception&) {
        return LoginFault(LoginError::ServiceFault, text::kServiceFault);
    }
}

std::string MemberDesk::LoginChecked(const std::string& id, const std::string& password,
                                     std::string_view clientAddress) {
    const std::int64_t now = Now();
    // Counted as a failure before the hash runs, so a burst of parallel
    // guesses gets no more verifications than the limits allow. A refused
    // attempt costs no hash: its answer says it was refused anyway.
    if (!m_store.BeginLoginAttempt(id, clientAddress, now, m_policy.logins))
        return LoginFault(LoginError::Refused, text::kLocked);
    std::optional<MemberRecord> member = m_store.FindMember(id);
    // The hash runs for unknown IDs too, so they answer no sooner than a
    // wrong password does.
    bool passwordOk = false;
    if (member) {
        passwordOk = m_hasher.Verify(member->passwordHash, password);
    } else {
        m_hasher.BurnTime(password);
    }
    // A suspended member gets the same answer, and the same count, for any
    // password: neither may tell a guesser that the password was right.
    if (member && member->suspended)
        return LoginFault(LoginError::Refused, text::kSuspended);
    if (!passwordOk)
        return LoginFault(LoginError::BadCredentials, text::kBadCredentials);
    m_store.LoginSucceeded(id, clientAddress, m_policy.logins);
    if (m_hasher.NeedsRehash(member->passwordHash))
        m_store.SetPasswordHash(member->id, m_hasher.Hash(password));

    SessionGrant grant{RandomHex(32), RandomHex(32), now + m_policy.sessionSeconds};
    m_store.AddSession(member->id, grant, now, m_policy.keepSessions);

    LoginValues v;
    if (!member->packageName.empty()) {
        v.fileSize = member->fileSize;
        v.fileType = member->fileType;
        if (member->savedAt)
            v.saveDate = FormatSaveDate(*member->savedAt);
        const SetOrigin origin = m_store.FindOrigin(member->id);
        v.flavor = origin.flavor;
        v.gameVersion = origin.gameVersion;
        if (!member->packageSha256.empty()) {
            v.packageCheck = member->packageSha256 + " " + std::to_string(member->packageEntries) +
                             " " + std::to_string(member->packageBytes);
        }
    }
    v.memberKey = grant.memberKey;
    v.uploadUrl = m_policy.publicUrl + "/skivaddon/upload.aspx";
    if (m_gate)
        v.uploadUrl += "?k=" + m_gate->Issue(member->id, grant.expiresAt);
    v.downloadUrl = m_policy.publicUrl + "/skivaddon/dl/" + grant.capability + "/";
    if (m_versions)
        v.deltaUrl = m_policy.publicUrl + "/skivaddon/delta/" + grant.capability + "/";
    return LoginSuccessReply(v);
}

MemberDesk::Registration MemberDesk::Register(const std::string& id, const std::string& password,
                                              std::string_view clientAddress) {
    std::optional<std::int64_t> slot =
        m_store.BeginRegistration(clientAddress, Now(), m_policy.registrations);
    if (!slot)
        return Registration::TooMany;
    Registration result = Registration::Taken;
    try {
        if (!ValidMemberId(id)) {
            result = Registration::InvalidId;
        } else if (password.size() < kMinPasswordBytes) {
            result = Registration::PasswordTooShort;
        } else if (password.size() > kMaxPasswordBytes) {
            result = Registration::PasswordTooLong;
        } else if (m_store.AddMember(id, m_hasher.Hash(password), Now())) {
            // The insert's uniqueness is the only check, so a taken ID costs
            // the same hash as a new one.
            return Registration::Added;
        }
    } catch (...) {
        m_store.RegistrationNotAdded(*slot);
        throw;
    }
    m_store.RegistrationNotAdded(*slot);
    return result;
}

bool MemberDesk::SpendOnce(std::string_view secret, std::int64_t expiresAt) {
    return m_store.SpendToken(SecretDigest(secret), expiresAt, Now());
}

bool MemberDesk::UploadAllowed(const std::string& id, const std::string& key) {
    if (id.empty() || key.empty())
        return false;
    return m_store.MemberKeyValid(id, key, Now());
}

VersionStore& MemberDesk::versions() {
    if (!m_versions)
        throw std::runtime_error("no package store");
    return *m_versions;
}

void MemberDesk::StorePackage(const std::string& id, IncomingFile file, int fileType,
                              const SetOrigin& origin, const PackageDigest& digest) {
    std::optional<MemberRecord> member = m_store.FindMember(id);
    if (!member)
        throw std::runtime_error("member vanished during upload: " + id);
    versions().StoreWhole(member->id, std::move(file), fileType, Now(),
                          {digest.sha256, digest.entries, digest.bytes});
    // The set is stored; an origin that cannot be recorded only costs the
    // question before a cross-flavor install.
    try {
        m_store.RecordOrigin(member->id, origin);
    } catch (const std::exception&) {
    }
}

MemberDesk::Download MemberDesk::OpenDownload(const std::string& id, const std::string& capability,
                                              std::optional<VersionStore::Stream>& package) {
    if (!m_store.CapabilityValid(id, capability, Now()))
        return Download::Forbidden;
    std::optional<MemberRecord> member = m_store.FindMember(id);
    if (!member)
        return Download::Forbidden;
    // A version replaced and collected between the look-up and the pins
    // is gone; the second look finds the new one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        package = versions().OpenVersion(member->id, 1);
        if (package)
            return package->whole ? Download::Ok : Download::Damaged;
    }
    return Download::NothingStored;
}

}  // namespace skiv::server
