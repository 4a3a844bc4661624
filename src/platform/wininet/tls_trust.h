#pragma once
// Which certificate authorities HTTPS requests trust: the system store, plus
// the CA file named by SKIVADDON_CA_FILE when it is set (the member service
// makes its own CA; the client is pointed at it this way).

#include <memory>
#include <string>

struct x509_store_st;  // OpenSSL's X509_STORE

namespace skiv::wininet::detail {

// The PEM bundle for requests: null when no extra CA is configured (libcurl
// then uses the system store as it is), else the system bundle followed by
// the extra file. libcurl takes an in-memory bundle instead of, not besides,
// its file bundle, hence the concatenation. An unreadable extra file adds
// nothing, so it can only make verification stricter.
std::shared_ptr<const std::string> TrustBundleFromEnvironment();

// The same, with both files named explicitly (system_bundle may be empty
// to leave the system store out).
std::shared_ptr<const std::string> BuildTrustBundle(const std::string& system_bundle,
                                                    const std::string& extra_ca_file);

// The system bundle libcurl was built to use.
std::string SystemCaBundlePath();

// The bundle's certificates parsed into an OpenSSL X509_STORE, once per
// process for each distinct bundle (parsing the system store costs tens of
// milliseconds, which every new TLS connection would otherwise pay). The
// caller gets a reference of its own (SSL_CTX_set_cert_store takes it);
// null when nothing in the bundle parses. Thread-safe.
x509_store_st* SharedTrustStore(const std::string& bundle);

}  // namespace skiv::wininet::detail
