#pragma once
// The delta exchanges with a service that offers them (the "<delta>" tag of
// its login reply names their base address): a package travels as its
// manifest plus only the pieces the other side lacks.
//
// Save: PostMissing (the manifest; the service answers with an upload
// token and the pieces it lacks), PutPiece for each of those, Commit.
// Install: GetManifest, GetPiece for each piece not at hand. Versions lists
// what the service keeps, newest (1) first.
//
// Nothing is thrown out of here; each failure is logged and returned as a
// result code: HttpException when the transport fails, HttpStatus for a
// status the exchange does not expect, DeltaBadManifest for a reply that
// does not parse, DeltaPieceMismatch for a piece that is not what it claims.
// A save's refusals map to the classic upload's codes: 413 UploadTooLarge,
// 401 and 403 UploadNotAuthenticated.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/log_sink.h"
#include "platform/result_codes.h"

namespace skiv {

struct ManifestPiece {
    std::string sha256;
    std::int64_t bytes = 0;
    bool shared = false;
};

struct Manifest {
    std::int64_t packageBytes = 0;
    std::string packageSha256;
    std::int64_t files = 0;
    std::int64_t unpackedBytes = 0;
    std::int64_t changed = -1;  // files changed against the previous save; -1 unknown
    std::string computer;       // UTF-8
    std::vector<ManifestPiece> pieces;
};

// The manifest's text form (LF line ends, ASCII; the computer name
// percent-encoded) and its strict reading: false for anything else, pieces
// that do not add up to the package size included.
std::string FormatManifest(const Manifest& m);
bool ParseManifest(const std::string& text, Manifest& out);

struct VersionInfo {
    int number = 0;  // 1 = the current one
    std::int64_t time = 0;
    std::int64_t packageBytes = 0;
    std::int64_t files = 0;
    std::int64_t changed = -1;
    std::string computer;
};

class DeltaClient {
public:
    // base: the "<delta>" address, ending with '/'.
    explicit DeltaClient(std::string base, LogSink& log);
    ~DeltaClient();
    DeltaClient(const DeltaClient&) = delete;
    DeltaClient& operator=(const DeltaClient&) = delete;

    // Sends the manifest; token and missing receive the upload token and the
    // hashes of the pieces to send. A 4xx reply is logged with its reason.
    ResultCode PostMissing(const std::string& manifest, std::string& token,
                           std::vector<std::string>& missing);
    ResultCode PutPiece(const std::string& token, const std::string& sha256,
                        const std::vector<std::uint8_t>& bytes);
    // Commits the upload as a set of fileType (1 basic, 2 with Cache and
    // Fonts); the tag reply is judged as the classic upload's is.
    // flavor and gameVersion: where the set was saved (empty: not said).
    ResultCode Commit(const std::string& token, int fileType, const std::string& flavor = {},
                      const std::string& gameVersion = {});
    ResultCode Versions(std::vector<VersionInfo>& out);
    // Version n's manifest (n = 1 the current one); DeltaNoVersion on 404.
    ResultCode GetManifest(int n, Manifest& out);
    // The piece's bytes, checked against its size and hash.
    ResultCode GetPiece(const ManifestPiece& piece, std::vector<std::uint8_t>& out);

private:
    struct Connection;
    // One request; status and up to maxReply bytes of the reply body.
    ResultCode Request(const char* verb, const std::string& path, const void* body,
                       std::size_t size, std::uint32_t& status, std::string& reply,
                       std::size_t maxReply);

    std::string m_base;
    LogSink& m_log;
    std::unique_ptr<Connection> m_conn;
};

// Percent-encoding of the bytes outside [A-Za-z0-9._~-], and its reverse
// (false for a malformed escape).
std::string PercentEncode(const std::string& text);
bool PercentDecode(const std::string& text, std::string& out);

}  // namespace skiv
