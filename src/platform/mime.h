#pragma once
// MIME sniffing of file content (the file(1) database through libmagic).

#include <cstddef>
#include <optional>
#include <string>

namespace skiv {

// How many leading bytes of a file the sniffer looks at.
inline constexpr std::size_t kMimeSniffBytes = 256;

// The MIME type (no parameters such as charset) of the given bytes, as the
// sniffer reports it; nullopt when the sniffer cannot be used. Reads only
// the given bytes: callers hand it the start of a file and restore the
// file position themselves. Safe to call from any thread.
std::optional<std::wstring> SniffMimeType(const void* data, std::size_t size);

}  // namespace skiv
