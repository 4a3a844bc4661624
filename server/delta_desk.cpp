#include "delta_desk.h"

#include <charconv>
#include <ctime>
#include <exception>

#include "member_desk.h"
#include "secrets.h"
#include "tag_reply.h"

namespace skiv::server {

namespace {

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

DeltaAnswer Text(int status, std::string body, std::string note = {}) {
    return DeltaAnswer{status, std::move(body), std::move(note)};
}

}  // namespace

DeltaDesk::DeltaDesk(MemberStore& members, VersionStore& versions, std::int64_t maxPackageBytes,
                     std::int64_t uploadSeconds)
    : m_members(members),
      m_versions(versions),
      m_maxPackage(maxPackageBytes),
      m_uploadSeconds(uploadSeconds) {}

std::optional<std::string> DeltaDesk::Member(const std::string& capability) {
    return m_members.MemberForCapability(capability, Now());
}

DeltaAnswer DeltaDesk::Missing(const std::string& member, const std::string& manifestText) {
    std::string error;
    std::optional<Manifest> m = ParseManifest(manifestText, error);
    if (!m)
        return Text(400, error + "\n", "manifest refused: " + error);
    if (m->packageBytes > m_maxPackage)
        return Text(413, "package larger than the service accepts\n", "manifest too large");
    const std::string token = RandomHex(16);
    const std::int64_t now = Now();
    std::vector<std::string> missing =
        m_versions.BeginUpload(member, *m, manifestText, token, now + m_uploadSeconds, now);
    std::string body = "upload " + token + "\n";
    for (const auto& sha : missing)
        body += sha + "\n";
    return Text(200, std::move(body),
                std::to_string(missing.size()) + " of " + std::to_string(m->pieces.size()) +
                    " pieces missing");
}

std::optional<VersionStore::PieceRef> DeltaDesk::ExpectPiece(const std::string& member,
                                                             const std::string& token,
                                                             const std::string& sha) {
    return m_versions.UploadPiece(member, token, sha, Now());
}

DeltaAnswer DeltaDesk::StorePiece(const VersionStore::PieceRef& expected, const std::string& sha,
                                  IncomingFile file) {
    if (file.size() != expected.bytes)
        return Text(422, "piece size differs from the manifest\n", "piece refused: size");
    if (file.Sha256() != sha)
        return Text(422, "piece bytes do not match their hash\n", "piece refused: hash");
    m_versions.PutPiece(std::move(file), expected.name);
    return Text(201, "stored\n");
}

DeltaAnswer DeltaDesk::Commit(const std::string& member, const std::string& token, int fileType,
                              const SetOrigin& origin) {
    auto refuse = [](UploadError e, const char* message, const std::string& why) {
        return Text(200, ErrorReply(static_cast<int>(e), message),
                    "commit error " + std::to_string(static_cast<int>(e)) + " (" + why + ")");
    };
    VersionStore::CommitResult r;
    try {
        r = m_versions.Commit(member, token, fileType, Now());
    } catch (const std::exception& e) {
        return refuse(UploadError::StorageFault, text::kStorageFault, e.what());
    }
    switch (r) {
        case VersionStore::CommitResult::Ok:
            // The set is stored; an origin that cannot be recorded only
            // costs the question before a cross-flavor install.
            try {
                m_members.RecordOrigin(member, origin);
            } catch (const std::exception&) {
            }
            return Text(200, UploadSuccessReply(), "commit error 0");
        case VersionStore::CommitResult::UnknownUpload:
            return refuse(UploadError::Malformed, text::kDeltaUnknownUpload, "unknown upload");
        case VersionStore::CommitResult::PieceMissing:
            return refuse(UploadError::Malformed, text::kDeltaPieceMissing, "piece missing");
        case VersionStore::CommitResult::Mismatch:
            break;
    }
    return refuse(UploadError::Malformed, text::kDeltaMismatch, "package hash or size differs");
}

DeltaAnswer DeltaDesk::Versions(const std::string& member) {
    return Text(200, m_versions.VersionList(member));
}

DeltaAnswer DeltaDesk::ManifestOf(const std::string& member, const std::string& n) {
    int number = 0;
    auto [p, ec] = std::from_chars(n.data(), n.data() + n.size(), number);
    if (ec != std::errc() || p != n.data() + n.size() || number < 1)
        return Text(404, "no such version\n");
    std::optional<std::string> text = m_versions.ManifestText(member, number);
    if (!text)
        return Text(404, "no such version\n");
    return Text(200, std::move(*text));
}

std::optional<StoredPackage> DeltaDesk::Piece(const std::string& member, const std::string& sha) {
    if (!IsSha256Hex(sha))
        return std::nullopt;
    return m_versions.OpenMemberPiece(member, sha);
}

}  // namespace skiv::server
