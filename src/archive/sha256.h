#pragma once
// SHA-256 of byte streams: the names of pieces and packages on the wire and
// in the local piece cache. Fed in any number of steps; Finish once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
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

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// True for 64 lower-case hex digits, the only form a piece name takes.
bool IsSha256Hex(const std::string& text);

}  // namespace skiv
