#include "package_digest.h"

#include <sodium.h>
#include <zlib.h>

#include <cstring>

namespace skiv::server {

namespace {
// The archive's head: 512 reserved bytes, then the entry count (32-bit
// little-endian).
constexpr std::size_t kHeadBytes = 516;
// The decompression runs on the thread that reads the upload: a stream that
// expands far beyond what real add-on sets do (or beyond what the archive
// format can address) is not followed further, its count and size left
// unknown, so a crafted package costs no more than a bounded multiple of
// its own bytes.
constexpr std::int64_t kMaxRatio = 32;
constexpr std::int64_t kRatioSlack = std::int64_t(1) << 20;
constexpr std::int64_t kMaxArchiveBytes = 0x7fffffff;
}  // namespace

struct PackageDigester::State {
    crypto_hash_sha256_state sha;
    z_stream z{};
    bool zReady = false;
    bool sniffed = false;  // the first two bytes have been looked at
    bool gzip = false;
    bool broken = false;   // the gzip stream failed; size and count unknown
    bool between = false;  // a gzip member ended; another may follow
    unsigned char first[2] = {};
    std::size_t firstHave = 0;
    unsigned char head[kHeadBytes] = {};
    std::int64_t archiveBytes = 0;
    std::int64_t packageBytes = 0;  // compressed bytes fed so far

    void Archive(const unsigned char* p, std::size_t n) {
        if (archiveBytes < static_cast<std::int64_t>(kHeadBytes)) {
            const std::size_t take =
                std::min(n, kHeadBytes - static_cast<std::size_t>(archiveBytes));
            std::memcpy(head + archiveBytes, p, take);
        }
        archiveBytes += static_cast<std::int64_t>(n);
    }

    void Inflate(const unsigned char* p, std::size_t n) {
        unsigned char out[64 * 1024];
        z.next_in = const_cast<unsigned char*>(p);
        z.avail_in = static_cast<uInt>(n);
        while (!broken && z.avail_in > 0) {
            if (between) {
                // Bytes after a member: another member, as the client's
                // gzip reading continues into it.
                if (inflateReset(&z) != Z_OK) {
                    broken = true;
                    break;
                }
                between = false;
            }
            z.next_out = out;
            z.avail_out = sizeof out;
            const int rc = inflate(&z, Z_NO_FLUSH);
            Archive(out, sizeof out - z.avail_out);
            if (archiveBytes > kMaxArchiveBytes ||
                archiveBytes > kMaxRatio * packageBytes + kRatioSlack) {
                broken = true;
                break;
            }
            if (rc == Z_STREAM_END)
                between = true;
            else if (rc != Z_OK && rc != Z_BUF_ERROR)
                broken = true;
        }
    }

    void Data(const unsigned char* p, std::size_t n) {
        packageBytes += static_cast<std::int64_t>(n);
        if (!sniffed) {
            while (n > 0 && firstHave < 2) {
                first[firstHave++] = *p++;
                --n;
            }
            if (firstHave < 2)
                return;
            sniffed = true;
            gzip = first[0] == 0x1f && first[1] == 0x8b;
            if (gzip) {
                zReady = inflateInit2(&z, 16 + MAX_WBITS) == Z_OK;
                broken = !zReady;
                Inflate(first, 2);
            } else {
                Archive(first, 2);
            }
        }
        if (n == 0)
            return;
        if (gzip)
            Inflate(p, n);
        else
            Archive(p, n);
    }
};

PackageDigester::PackageDigester() : m_state(std::make_unique<State>()) {
    crypto_hash_sha256_init(&m_state->sha);
}

PackageDigester::~PackageDigester() {
    if (m_state->zReady)
        inflateEnd(&m_state->z);
}

void PackageDigester::Feed(const char* data, std::size_t size) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    crypto_hash_sha256_update(&m_state->sha, p, size);
    m_state->Data(p, size);
}

PackageDigest PackageDigester::Finish() {
    State& s = *m_state;
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&s.sha, digest);
    PackageDigest d;
    char hex[2 * crypto_hash_sha256_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    d.sha256 = hex;
    // A single byte is an archive of its own (shorter than a head).
    if (!s.sniffed && s.firstHave == 1)
        s.Archive(s.first, 1);
    // A gzip stream cut inside a member is not a whole package.
    const bool whole = !s.gzip || (!s.broken && s.between);
    if (whole && s.archiveBytes >= static_cast<std::int64_t>(kHeadBytes)) {
        const unsigned char* c = s.head + 512;
        d.entries =
            static_cast<std::int32_t>(std::uint32_t(c[0]) | std::uint32_t(c[1]) << 8 |
                                      std::uint32_t(c[2]) << 16 | std::uint32_t(c[3]) << 24);
        d.bytes = s.archiveBytes;
    }
    return d;
}

}  // namespace skiv::server
