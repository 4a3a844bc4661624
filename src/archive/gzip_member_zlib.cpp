// Gzip members with zlib, for builds without libdeflate.

#include <zlib.h>

#include "archive/gzip_member.h"

namespace skiv {

struct GzipMemberCompressor::State {
    int level = 6;
};

GzipMemberCompressor::GzipMemberCompressor(int level) : m_state(std::make_unique<State>()) {
    m_state->level = level;
}

GzipMemberCompressor::~GzipMemberCompressor() = default;

bool GzipMemberCompressor::ok() const {
    return true;
}

std::vector<std::uint8_t> GzipMemberCompressor::Compress(const std::uint8_t* data,
                                                         std::size_t size) {
    z_stream z{};
    // windowBits 15 + 16: a gzip header and trailer around the deflate data.
    if (deflateInit2(&z, m_state->level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(size)) + 32);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int r = deflate(&z, Z_FINISH);
    const std::size_t n = out.size() - z.avail_out;
    deflateEnd(&z);
    if (r != Z_STREAM_END)
        return {};
    out.resize(n);
    return out;
}

std::uint32_t GzipCrc32(const std::uint8_t* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32(0L, data, static_cast<uInt>(size)));
}

}  // namespace skiv
