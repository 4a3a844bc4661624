#include "service/reply_buffer.h"

#include <cstring>
#include <utility>

#include "platform/z_od.h"

namespace skiv {

ReplyBuffer::~ReplyBuffer() {
    if (m_block)
        Z_OD_FNC_free(m_block);
}

ReplyBuffer::ReplyBuffer(ReplyBuffer&& other) noexcept
    : m_block(std::exchange(other.m_block, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)) {}

bool ReplyBuffer::Append(const char* data, std::size_t size) {
    if (size == 0)
        return true;
    if (size > kMaxReply - m_size)
        return false;
    if (m_size + size + 1 > m_capacity) {
        // Geometric growth keeps a long reply linear; the new block is
        // zero-filled, so the text stays terminated.
        std::size_t capacity = m_capacity ? m_capacity : 8193;
        while (capacity < m_size + size + 1)
            capacity *= 2;
        auto* block = static_cast<char*>(Z_OD_FNC_calloc(capacity, 1));
        if (!block)
            return false;
        if (m_block) {
            std::memcpy(block, m_block, m_size);
            Z_OD_FNC_free(m_block);
        }
        m_block = block;
        m_capacity = capacity;
    }
    std::memcpy(m_block + m_size, data, size);
    m_size += size;
    m_block[m_size] = '\0';
    return true;
}

}  // namespace skiv
