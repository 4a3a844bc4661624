// Gzip members with libdeflate.

#include <libdeflate.h>

#include "archive/gzip_member.h"

namespace skiv {

struct GzipMemberCompressor::State {
    libdeflate_compressor* c = nullptr;
};

GzipMemberCompressor::GzipMemberCompressor(int level) : m_state(std::make_unique<State>()) {
    m_state->c = libdeflate_alloc_compressor(level);
}

GzipMemberCompressor::~GzipMemberCompressor() {
    if (m_state->c)
        libdeflate_free_compressor(m_state->c);
}

bool GzipMemberCompressor::ok() const {
    return m_state->c != nullptr;
}

std::vector<std::uint8_t> GzipMemberCompressor::Compress(const std::uint8_t* data,
                                                         std::size_t size) {
    if (!m_state->c)
        return {};
    std::vector<std::uint8_t> out(libdeflate_gzip_compress_bound(m_state->c, size));
    out.resize(libdeflate_gzip_compress(m_state->c, data, size, out.data(), out.size()));
    return out;
}

std::uint32_t GzipCrc32(const std::uint8_t* data, std::size_t size) {
    return libdeflate_crc32(0, data, size);
}

}  // namespace skiv
