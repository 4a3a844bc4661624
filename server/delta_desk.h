#pragma once
// What the delta exchanges do, apart from HTTP: find the member behind a
// session capability, answer which pieces a manifest needs, check and
// store a piece, commit an upload as the member's current version, and
// list and describe the stored versions. Every call is safe from any
// thread and may block (database, fsync): the front runs them on its disk
// pool.
//
// Upload tokens are bound to their member and live for uploadSeconds after
// the "missing" answer; until then the pieces they list are never
// collected.

#include <cstdint>
#include <optional>
#include <string>

#include "member_store.h"
#include "package_shelf.h"
#include "version_store.h"

namespace skiv::server {

struct DeltaAnswer {
    int status = 200;
    std::string body;
    std::string note;  // for the request log
};

class DeltaDesk {
public:
    DeltaDesk(MemberStore& members, VersionStore& versions, std::int64_t maxPackageBytes,
              std::int64_t uploadSeconds = 6 * 3600);

    // The member whose live session holds the capability.
    std::optional<std::string> Member(const std::string& capability);

    // POST missing: "upload <token>\n" and one hash per line, or 4xx.
    DeltaAnswer Missing(const std::string& member, const std::string& manifestText);
    // PUT piece/<sha>?upload=<token>: the size the upload's manifest gives
    // the piece, or nullopt when the token or the piece is unknown to it.
    std::optional<VersionStore::PieceRef> ExpectPiece(const std::string& member,
                                                      const std::string& token,
                                                      const std::string& sha);
    // Checks the received bytes against their hash and size; 201 when
    // stored, 422 (nothing kept) when they differ.
    DeltaAnswer StorePiece(const VersionStore::PieceRef& expected, const std::string& sha,
                           IncomingFile file);
    // POST commit/<token>: a tag reply with the classic upload's numbers.
    // fileType 0 keeps the type of the previous version.
    // origin: where the client says the set was saved, recorded with it.
    DeltaAnswer Commit(const std::string& member, const std::string& token, int fileType,
                       const SetOrigin& origin = {});
    DeltaAnswer Versions(const std::string& member);
    DeltaAnswer ManifestOf(const std::string& member, const std::string& n);
    std::optional<StoredPackage> Piece(const std::string& member, const std::string& sha);

    PackageShelf& shelf() { return m_versions.shelf(); }
    std::int64_t maxPackageBytes() const { return m_maxPackage; }

private:
    MemberStore& m_members;
    VersionStore& m_versions;
    const std::int64_t m_maxPackage;
    const std::int64_t m_uploadSeconds;
};

namespace text {
inline constexpr const char* kDeltaUnknownUpload =
    "저장 요청이 만료되었거나 확인할 수 없습니다. 다시 저장하세요.";
inline constexpr const char* kDeltaPieceMissing =
    "일부 조각이 전송되지 않아 저장하지 못했습니다. 다시 저장하세요.";
inline constexpr const char* kDeltaMismatch =
    "전송된 내용이 목록과 일치하지 않아 저장하지 못했습니다.";
}  // namespace text

}  // namespace skiv::server
