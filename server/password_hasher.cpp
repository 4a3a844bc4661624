#include "password_hasher.h"

#include <sodium.h>

#include <stdexcept>

#include "secrets.h"

namespace skiv::server {

PasswordHasher::PasswordHasher(HashCost cost) : m_cost(cost) {
    if (cost.opsLimit < crypto_pwhash_OPSLIMIT_MIN || cost.opsLimit > crypto_pwhash_OPSLIMIT_MAX)
        throw std::invalid_argument("Argon2id pass count out of range");
    if (cost.memoryBytes < crypto_pwhash_MEMLIMIT_MIN ||
        cost.memoryBytes > crypto_pwhash_MEMLIMIT_MAX)
        throw std::invalid_argument("Argon2id memory size out of range");
    // The dummy's password is random and forgotten at once.
    m_dummyHash = Hash(RandomHex(16));
}

std::string PasswordHasher::Hash(std::string_view password) const {
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), m_cost.opsLimit,
                          m_cost.memoryBytes) != 0)
        throw std::runtime_error("password hashing ran out of memory");
    return std::string(out);
}

bool PasswordHasher::Verify(const std::string& storedHash, std::string_view password) const {
    if (storedHash.size() >= crypto_pwhash_STRBYTES)
        return false;
    return crypto_pwhash_str_verify(storedHash.c_str(), password.data(), password.size()) == 0;
}

void PasswordHasher::BurnTime(std::string_view password) const {
    (void)Verify(m_dummyHash, password);
}

bool PasswordHasher::NeedsRehash(const std::string& storedHash) const {
    return crypto_pwhash_str_needs_rehash(storedHash.c_str(), m_cost.opsLimit,
                                          m_cost.memoryBytes) != 0;
}

}  // namespace skiv::server
