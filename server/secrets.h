#pragma once
// Random tokens and constant-time comparisons over libsodium. Call
// InitCrypto() once before anything else in this file.

#include <cstddef>
#include <string>
#include <string_view>

namespace skiv::server {

// Initialises libsodium; throws std::runtime_error when it cannot.
void InitCrypto();

// `bytes` bytes from the system CSPRNG, as lower-case hex (2 × bytes chars).
std::string RandomHex(std::size_t bytes);

// True when both strings are equal. The time taken depends on the lengths
// only, never on where the strings differ.
bool ConstantTimeEqual(std::string_view a, std::string_view b);

// SHA-256 of `secret` as lower-case hex: what the store keeps of a random
// key instead of the key itself (the keys carry 256 random bits, so a
// plain hash cannot be reversed by guessing).
std::string SecretDigest(std::string_view secret);

// HMAC-SHA-512-256 of `message` under `key` (any length; hashed to the
// key size), as hex.
std::string MacHex(std::string_view key, std::string_view message);

}  // namespace skiv::server
