#pragma once
// The NUL-terminated reply text of an exchange, collected chunk by chunk in
// blocks of the reply allocator. Move-only owner of its block.

#include <cstddef>

namespace skiv {

class ReplyBuffer {
public:
    // Replies are short tag texts; anything beyond this is refused as an
    // allocation failure rather than grown without bound.
    static constexpr std::size_t kMaxReply = 4 * 1024 * 1024;

    ReplyBuffer() = default;
    ~ReplyBuffer();
    ReplyBuffer(ReplyBuffer&& other) noexcept;
    ReplyBuffer& operator=(ReplyBuffer&&) = delete;
    ReplyBuffer(const ReplyBuffer&) = delete;
    ReplyBuffer& operator=(const ReplyBuffer&) = delete;

    // Appends bytes; false when a block cannot be allocated (or the reply
    // would pass kMaxReply). The text stays NUL-terminated.
    bool Append(const char* data, std::size_t size);
    // The text, or null when no byte was received.
    const char* Text() const { return m_size ? m_block : nullptr; }
    std::size_t Size() const { return m_size; }

private:
    char* m_block = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;  // bytes of the block, the terminator included
};

}  // namespace skiv
