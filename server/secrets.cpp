#include "secrets.h"

#include <sodium.h>

#include <stdexcept>
#include <vector>

namespace skiv::server {

void InitCrypto() {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
}

std::string RandomHex(std::size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    randombytes_buf(raw.data(), raw.size());
    std::string hex(bytes * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), raw.data(), raw.size());
    hex.pop_back();
    sodium_memzero(raw.data(), raw.size());
    return hex;
}

bool ConstantTimeEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    if (a.empty())
        return true;
    return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string SecretDigest(std::string_view secret) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(secret.data()),
                       secret.size());
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return std::string(hex);
}

std::string MacHex(std::string_view key, std::string_view message) {
    unsigned char k[crypto_auth_KEYBYTES];
    crypto_generichash(k, sizeof k, reinterpret_cast<const unsigned char*>(key.data()), key.size(),
                       nullptr, 0);
    unsigned char mac[crypto_auth_BYTES];
    crypto_auth(mac, reinterpret_cast<const unsigned char*>(message.data()), message.size(), k);
    sodium_memzero(k, sizeof k);
    char hex[crypto_auth_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, mac, sizeof mac);
    return std::string(hex);
}

}  // namespace skiv::server
