#include "platform/sha256.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/fs.h"

#if SKIV_SHA256_OPENSSL
#include <openssl/evp.h>
#endif

namespace skiv {

#if SKIV_SHA256_OPENSSL

// The library's digest uses the processor's SHA instructions where present,
// several times faster than the portable rounds below.
struct Sha256::State {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    EVP_DigestInit_ex(m_state->ctx, EVP_sha256(), nullptr);
}

void Sha256::Update(const void* data, std::size_t size) {
    EVP_DigestUpdate(m_state->ctx, data, size);
}

Sha256::Digest Sha256::Finish() {
    Digest d{};
    unsigned n = 0;
    EVP_DigestFinal_ex(m_state->ctx, d.data(), &n);
    return d;
}

#else

namespace {

constexpr std::uint32_t kK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rot(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

}  // namespace

struct Sha256::State {
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::uint8_t block[64];
    std::size_t used = 0;
    std::uint64_t total = 0;

    void Compress(const std::uint8_t* p) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = std::uint32_t(p[4 * i]) << 24 | std::uint32_t(p[4 * i + 1]) << 16 |
                   std::uint32_t(p[4 * i + 2]) << 8 | p[4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            std::uint32_t s0 = Rot(w[i - 15], 7) ^ Rot(w[i - 15], 18) ^ (w[i - 15] >> 3);
            std::uint32_t s1 = Rot(w[i - 2], 17) ^ Rot(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6],
                      k = h[7];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t t1 =
                k + (Rot(e, 6) ^ Rot(e, 11) ^ Rot(e, 25)) + ((e & f) ^ (~e & g)) + kK[i] + w[i];
            std::uint32_t t2 =
                (Rot(a, 2) ^ Rot(a, 13) ^ Rot(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            k = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += k;
    }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {}

void Sha256::Update(const void* data, std::size_t size) {
    State& s = *m_state;
    const auto* p = static_cast<const std::uint8_t*>(data);
    s.total += size;
    while (size > 0) {
        std::size_t n = std::min(size, sizeof s.block - s.used);
        std::memcpy(s.block + s.used, p, n);
        s.used += n, p += n, size -= n;
        if (s.used == sizeof s.block) {
            s.Compress(s.block);
            s.used = 0;
        }
    }
}

Sha256::Digest Sha256::Finish() {
    State& s = *m_state;
    const std::uint64_t bits = s.total * 8;
    const std::uint8_t one = 0x80, zero = 0;
    Update(&one, 1);
    while (s.used != 56)
        Update(&zero, 1);
    std::uint8_t len[8];
    for (int i = 0; i < 8; ++i)
        len[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Update(len, 8);
    Digest d{};
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            d[4 * i + j] = static_cast<std::uint8_t>(s.h[i] >> (24 - 8 * j));
    return d;
}

#endif

Sha256::~Sha256() = default;

std::string Sha256::Hex(const Digest& digest) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(64);
    for (std::uint8_t b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string Sha256::HexOf(const void* data, std::size_t size) {
    Sha256 h;
    h.Update(data, size);
    return Hex(h.Finish());
}

bool IsSha256Hex(const std::string& text) {
    if (text.size() != 64)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::optional<std::string> Sha256OfFile(const std::string& path) {
    fs::UniqueFile f = fs::OpenRegularRead(path);
    if (!f)
        return std::nullopt;
    Sha256 sha;
    std::vector<char> buf(64 * 1024);
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0)
        sha.Update(buf.data(), n);
    if (std::ferror(f.get()))
        return std::nullopt;
    return sha.FinalHex();
}

}  // namespace skiv
