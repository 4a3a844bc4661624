#pragma once
// The service's certificate. When none is given, the first start makes a
// private certificate authority and a server certificate signed by it in
// the data folder's tls/ sub-folder; later starts reuse them. Clients
// trust the CA file (ca.pem), never the server certificate directly, so
// the server certificate can be renewed without touching the clients.

#include <string>
#include <vector>

namespace skiv::server {

struct TlsFiles {
    std::string certFile;  // server certificate (PEM)
    std::string keyFile;   // its private key (PEM, mode 0600)
    std::string caFile;    // the private CA (PEM); empty for a given certificate
    bool created = false;  // made by this call
};

// Makes or reuses tls/ca.pem, tls/ca-key.pem, tls/server.pem and
// tls/server-key.pem under `tlsFolder`. The server certificate names
// localhost, 127.0.0.1 and ::1 plus `extraHosts` (names or IP
// addresses). A server certificate that expires within a month or does
// not name every host is made anew with the same CA. Throws
// std::runtime_error with OpenSSL's reason.
TlsFiles EnsureTlsMaterial(const std::string& tlsFolder,
                           const std::vector<std::string>& extraHosts);

}  // namespace skiv::server
