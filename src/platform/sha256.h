#pragma once
// SHA-256 (FIPS 180-4) over a stream of bytes, portable and without a
// crypto library, so the client checks a downloaded package the same way
// on every platform.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace skiv {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t size);
    // The digest; the object must not be updated afterwards.
    std::array<std::uint8_t, 32> Final();
    // The digest as 64 lower-case hex digits.
    std::string FinalHex();

private:
    void Block(const std::uint8_t* p);
    std::array<std::uint32_t, 8> m_h;
    std::array<std::uint8_t, 64> m_buf{};
    std::size_t m_used = 0;
    std::uint64_t m_total = 0;
};

// The hex digest of a whole file, read in chunks; nullopt when it cannot
// be opened or read.
std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace skiv
