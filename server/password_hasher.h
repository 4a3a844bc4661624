#pragma once
// Argon2id password hashing (libsodium's crypto_pwhash_str). The cost is
// set per service start; hashes made with other costs still verify, and
// NeedsRehash() says when a stored hash should be renewed after a
// successful login.
//
// Verify() and BurnTime() take the same time for the same cost, so an
// unknown member ID can be answered after the same work as a wrong
// password.

#include <cstddef>
#include <string>
#include <string_view>

namespace skiv::server {

struct HashCost {
    unsigned long long opsLimit = 2;      // Argon2id passes
    std::size_t memoryBytes = 64u << 20;  // 64 MiB
};

class PasswordHasher {
public:
    // Throws std::invalid_argument when the cost is outside libsodium's
    // bounds. Makes the dummy hash used by BurnTime() (one hash at start).
    explicit PasswordHasher(HashCost cost);

    // "$argon2id$..." text; throws std::runtime_error when memory is short.
    std::string Hash(std::string_view password) const;
    // False for a wrong password or a malformed stored hash.
    bool Verify(const std::string& storedHash, std::string_view password) const;
    // Verifies `password` against a hash no password matches.
    void BurnTime(std::string_view password) const;
    bool NeedsRehash(const std::string& storedHash) const;

    const HashCost& cost() const { return m_cost; }

private:
    HashCost m_cost;
    std::string m_dummyHash;
};

}  // namespace skiv::server
