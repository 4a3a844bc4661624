#pragma once
// The text that describes one stored version: the package's size and
// SHA-256, its archive's entry count and unpacked bytes, who saved it, and
// the ordered list of pieces (complete gzip members) whose concatenation is
// the package. Clients send it to start a delta upload; the service keeps
// it per version and hands it back unchanged.
//
//   skiv-manifest 1
//   package <bytes> <sha256>
//   files <entries> <unpacked bytes>      (-1 -1: not known)
//   changed <files changed, -1 unknown>
//   computer <percent-encoded UTF-8>
//   piece <sha256> <bytes> <shared|private>   (one per piece, in order)

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skiv::server {

struct ManifestPiece {
    std::string sha;  // 64 lower-case hex
    std::int64_t bytes = 0;
    bool shared = false;
};

struct Manifest {
    std::int64_t packageBytes = 0;
    std::string packageSha;
    std::int64_t entries = -1;
    std::int64_t unpackedBytes = -1;
    std::int64_t changed = -1;
    std::string computer;  // as sent: percent-encoded
    std::vector<ManifestPiece> pieces;
};

// Limits a manifest must keep: the text, the pieces, the computer name.
inline constexpr std::size_t kMaxManifestBytes = 4u << 20;
inline constexpr std::size_t kMaxManifestPieces = 1u << 16;
inline constexpr std::size_t kMaxComputerBytes = 256;

// Parses and checks a manifest: lines in the order above, LF line ends,
// every number in range, piece sizes that add up to the package size, one
// size per piece hash. nullopt with a one-line reason in `error`.
std::optional<Manifest> ParseManifest(std::string_view text, std::string& error);
std::string FormatManifest(const Manifest& manifest);

bool IsSha256Hex(std::string_view text);

}  // namespace skiv::server
