#pragma once
// The service's certificate and its TLS settings. When no certificate is
// given, the first start makes a private certificate authority and a
// server certificate signed by it in the data folder's tls/ sub-folder;
// later starts reuse them. Clients trust the CA file (ca.pem).
//
// The CA is limited by a name constraint to the hosts of the server
// certificate it signs, and its private key is thrown away as soon as that
// certificate is signed: kept beside the server key it would be readable
// by whoever reads the server key, and able to sign for as long as the CA
// lives. Without it, a stolen data folder yields nothing more than the
// server key already gives. The price: a renewal (a month before the
// server certificate expires, or when the service is reached by a new
// host) makes a new CA too, and clients on other computers must be given
// the new ca.pem (clients on this computer read the same file anew).

#include <openssl/types.h>

#include <string>
#include <vector>

namespace skiv::server {

struct TlsFiles {
    std::string certFile;  // server certificate (PEM)
    std::string keyFile;   // its private key (PEM, mode 0600)
    std::string caFile;    // the private CA (PEM); empty for a given certificate
    bool created = false;  // made by this call
};

// Makes or reuses tls/ca.pem, tls/server.pem and tls/server-key.pem under
// `tlsFolder`. The server certificate names localhost, 127.0.0.1 and ::1
// plus `extraHosts` (names or IP addresses). A server certificate that
// expires within a month, does not name every host, or does not match its
// key or the CA is made anew with a new CA. A CA key left by an earlier
// version is deleted. Throws std::runtime_error with OpenSSL's reason.
TlsFiles EnsureTlsMaterial(const std::string& tlsFolder,
                           const std::vector<std::string>& extraHosts);

// The service's TLS policy on a server context: TLS 1.2 and 1.3 only; TLS
// 1.2 only with ECDHE key exchange and AES-GCM or ChaCha20-Poly1305 (no
// CBC, no SHA-1 suites); TLS 1.3's suites as the library has them (all
// AEAD); no renegotiation. Throws std::runtime_error when OpenSSL refuses.
void ApplyTlsPolicy(SSL_CTX* ctx);

}  // namespace skiv::server
