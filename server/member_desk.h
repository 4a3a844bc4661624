#pragma once
// What the service does for members, apart from HTTP: log in, check an
// upload's member and key, store a package, find a package to download,
// register. Every call is safe from many threads at once (the store and
// the shelf serialise what they must; the hasher holds no mutable state).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "member_store.h"
#include "package_shelf.h"
#include "password_hasher.h"
#include "version_store.h"

namespace skiv::server {

struct DeskPolicy {
    std::string publicUrl;  // "https://host:port", no trailing slash
    std::int64_t maxPackageBytes = 64ll << 20;
    LoginLimits logins;
    RegistrationLimits registrations;
    std::int64_t sessionSeconds = 86400;
    int keepSessions = 8;  // live logins per member (several computers)
};

// ID rules shared by the registration page and the administration
// commands: 3 to 32 ASCII letters, digits, '_' or '-'.
bool ValidMemberId(std::string_view id);
constexpr std::size_t kMinPasswordBytes = 8;
constexpr std::size_t kMaxPasswordBytes = 1024;

class UploadGate;

class MemberDesk {
public:
    MemberDesk(MemberStore& store, PackageShelf& shelf, const PasswordHasher& hasher,
               DeskPolicy policy);

    // The tag reply for a login with these form values (nullopt = the field
    // was missing) from `clientAddress` (the peer's IP address as text),
    // by which failed attempts are throttled.
    std::string Login(const std::optional<std::string>& id,
                      const std::optional<std::string>& password, std::string_view clientAddress);

    enum class Registration {
        Added,
        InvalidId,
        PasswordTooShort,
        PasswordTooLong,
        Taken,
        TooMany,  // the address made too many registrations lately
    };
    // Throws on a store fault. Taken and Added take the same time (the
    // password is hashed first either way), so only the answer the form
    // must give tells that an ID exists.
    Registration Register(const std::string& id, const std::string& password,
                          std::string_view clientAddress);
    // Spends a single-use secret (a registration form token) valid until
    // `expiresAt`; false when it was spent before. Throws on a store fault.
    bool SpendOnce(std::string_view secret, std::int64_t expiresAt);

    // True when the member exists, is not suspended and `key` belongs to
    // one of its live logins.
    bool UploadAllowed(const std::string& id, const std::string& key);
    // Stores the received file as the member's new current version.
    // Throws std::runtime_error on a storage fault; the old version is then
    // still current.
    void StorePackage(const std::string& id, IncomingFile file, int fileType);

    enum class Download { Ok, Forbidden, NothingStored };
    // Checks the capability against the member and finds the pieces of its
    // current version.
    Download OpenDownload(const std::string& id, const std::string& capability,
                          std::optional<VersionStore::Stream>& package);

    // Sets the address put into upload and download URLs. Only before the
    // service starts serving (not synchronised with requests).
    void SetPublicUrl(std::string url) { m_policy.publicUrl = std::move(url); }
    // Makes logins put an upload pass into the upload address. Only before
    // the service starts serving; the gate must outlive the desk.
    void SetUploadGate(const UploadGate* gate) { m_gate = gate; }
    // The package store; required before packages are stored or fetched.
    // Only before the service starts serving.
    void SetVersions(VersionStore* versions) { m_versions = versions; }
    VersionStore& versions();
    const DeskPolicy& policy() const { return m_policy; }
    PackageShelf& shelf() { return m_shelf; }

private:
    std::string LoginChecked(const std::string& id, const std::string& password,
                             std::string_view clientAddress);

    MemberStore& m_store;
    PackageShelf& m_shelf;
    const PasswordHasher& m_hasher;
    DeskPolicy m_policy;
    const UploadGate* m_gate = nullptr;
    VersionStore* m_versions = nullptr;
};

// The member-facing messages of the tag replies.
namespace text {
inline constexpr const char* kLoginMalformed = "로그인 요청 형식이 올바르지 않습니다.";
inline constexpr const char* kServiceFault =
    "서비스에 일시적인 문제가 있습니다. 잠시 후 다시 시도하세요.";
inline constexpr const char* kBadCredentials = "아이디 또는 비밀번호가 올바르지 않습니다.";
inline constexpr const char* kSuspended = "사용이 정지된 아이디입니다. 관리자에게 문의하세요.";
inline constexpr const char* kLocked =
    "로그인 실패가 여러 번 반복되어 잠시 로그인할 수 없습니다. 나중에 다시 시도하세요.";
inline constexpr const char* kUploadMalformed = "업로드 요청 형식이 올바르지 않습니다.";
inline constexpr const char* kUploadEmpty = "빈 파일은 저장할 수 없습니다.";
inline constexpr const char* kStorageFault = "서비스 저장소에 문제가 있어 저장하지 못했습니다.";
inline constexpr const char* kTooLarge = "파일 크기가 허용된 최대 크기를 넘었습니다.";
inline constexpr const char* kNotAuthorised = "회원 인증에 실패했습니다. 다시 로그인하세요.";
}  // namespace text

}  // namespace skiv::server
