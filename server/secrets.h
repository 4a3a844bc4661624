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

// HMAC-SHA-512-256 of `message` under `key` (any length; hashed to the
// key size), as hex.
std::string MacHex(std::string_view key, std::string_view message);

}  // namespace skiv::server
