#include "platform/mime.h"

#include <magic.h>

#include <cstring>

namespace skiv {

std::optional<std::wstring> SniffMimeType(const void* data, std::size_t size) {
    // A libmagic cookie is not safe to share between threads, and a sniff
    // happens once per uploaded file, so each call opens its own.
    magic_t cookie = ::magic_open(MAGIC_MIME_TYPE | MAGIC_ERROR);
    if (!cookie)
        return std::nullopt;
    std::optional<std::wstring> result;
    if (::magic_load(cookie, nullptr) == 0) {
        if (const char* type = ::magic_buffer(cookie, data, size)) {
            // MIME types are ASCII; widen byte by byte.
            result.emplace(type, type + std::strlen(type));
        }
    }
    ::magic_close(cookie);
    return result;
}

}  // namespace skiv
