#pragma once
// One piece of a package compressed as a complete gzip member, and the
// CRC-32 gzip uses. libdeflate where the build has it (several times
// faster than zlib at the same level), zlib otherwise (the Windows build);
// both give a member any gzip reader takes.
//
// Threads: one compressor per thread; Crc32 is a plain function.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace skiv {

class GzipMemberCompressor {
public:
    explicit GzipMemberCompressor(int level);
    ~GzipMemberCompressor();
    GzipMemberCompressor(const GzipMemberCompressor&) = delete;
    GzipMemberCompressor& operator=(const GzipMemberCompressor&) = delete;

    // False when the compressor could not be made (out of memory).
    bool ok() const;
    // The member holding data; empty on failure.
    std::vector<std::uint8_t> Compress(const std::uint8_t* data, std::size_t size);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

std::uint32_t GzipCrc32(const std::uint8_t* data, std::size_t size);

}  // namespace skiv
