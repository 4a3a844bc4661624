#pragma once
// SHA-256 of byte streams: the names of pieces and packages on the wire and
// in the local piece cache. Fed in any number of steps; Finish once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace skiv {

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    Digest Finish();

    // 64 lower-case hex digits.
    static std::string Hex(const Digest& digest);
    static std::string HexOf(const void* data, std::size_t size);
    // Finish as 64 lower-case hex digits.
    std::string FinalHex() { return Hex(Finish()); }

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// True for 64 lower-case hex digits, the only form a piece name takes.
bool IsSha256Hex(const std::string& text);

// The digest of a whole regular file as 64 hex digits; nullopt when it
// cannot be opened or read to its end.
std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace skiv
