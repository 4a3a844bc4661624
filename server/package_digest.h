#pragma once
// What the service records of a package while its upload streams in: the
// SHA-256 of its bytes, and, read through the gzip stream as it passes,
// the archive's entry count (from its head) and its decompressed size. The
// client checks a download against these before it changes anything.
//
// Bytes that are not gzip are taken as the archive itself, as the client's
// decompression does. A stream that cannot be decompressed, is too short
// for the archive's head, or expands more than 32-fold, gives -1 for the
// count and the size (the digest is always recorded).

#include <cstdint>
#include <memory>
#include <string>

namespace skiv::server {

struct PackageDigest {
    std::string sha256;  // 64 lower-case hex digits
    std::int64_t entries = -1;
    std::int64_t bytes = -1;
};

class PackageDigester {
public:
    PackageDigester();
    ~PackageDigester();
    PackageDigester(const PackageDigester&) = delete;
    PackageDigester& operator=(const PackageDigester&) = delete;

    void Feed(const char* data, std::size_t size);
    PackageDigest Finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace skiv::server
