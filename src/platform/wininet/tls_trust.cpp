#include "platform/wininet/tls_trust.h"

#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/wininet/curl_handles.h"

namespace skiv::wininet::detail {

namespace {

bool AppendFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!in.good() && !in.eof()) {
        return false;
    }
    out->append(text.str());
    if (!out->empty() && out->back() != '\n') {
        out->push_back('\n');
    }
    return true;
}

}  // namespace

std::string SystemCaBundlePath() {
    CurlEasy probe(curl_easy_init());
    char* path = nullptr;
    if (probe && curl_easy_getinfo(probe.get(), CURLINFO_CAINFO, &path) == CURLE_OK &&
        path != nullptr) {
        return path;
    }
    return "/etc/ssl/certs/ca-certificates.crt";
}

std::shared_ptr<const std::string> BuildTrustBundle(const std::string& system_bundle,
                                                    const std::string& extra_ca_file) {
    auto bundle = std::make_shared<std::string>();
    if (!system_bundle.empty()) {
        AppendFile(system_bundle, bundle.get());
    }
    if (!extra_ca_file.empty()) {
        AppendFile(extra_ca_file, bundle.get());
    }
    return bundle;
}

std::shared_ptr<const std::string> TrustBundleFromEnvironment() {
    const char* extra = std::getenv("SKIVADDON_CA_FILE");
    if (extra == nullptr || *extra == '\0') {
        return nullptr;
    }
    return BuildTrustBundle(SystemCaBundlePath(), extra);
}

x509_store_st* SharedTrustStore(const std::string& bundle) {
    struct StoreFree {
        void operator()(X509_STORE* s) const { X509_STORE_free(s); }
    };
    // The list's own reference goes when the entry does, at the latest
    // when the process exits; connections hold references of their own.
    struct Parsed {
        std::string bundle;
        std::unique_ptr<X509_STORE, StoreFree> store;
    };
    // A process sees one or two bundles (the environment's, a test's);
    // the oldest goes when a few more come.
    static constexpr std::size_t kKept = 4;
    static std::mutex lock;
    static std::vector<Parsed> parsed;
    std::lock_guard guard(lock);
    for (const Parsed& p : parsed) {
        if (p.bundle == bundle) {
            X509_STORE_up_ref(p.store.get());
            return p.store.get();
        }
    }
    X509_STORE* store = X509_STORE_new();
    BIO* in = BIO_new_mem_buf(bundle.data(), static_cast<int>(bundle.size()));
    int added = 0;
    if (store != nullptr && in != nullptr) {
        while (X509* cert = PEM_read_bio_X509(in, nullptr, nullptr, nullptr)) {
            added += X509_STORE_add_cert(store, cert) == 1 ? 1 : 0;
            X509_free(cert);
        }
    }
    BIO_free(in);
    if (added == 0) {
        X509_STORE_free(store);
        return nullptr;
    }
    if (parsed.size() == kKept)
        parsed.erase(parsed.begin());
    parsed.push_back({bundle, std::unique_ptr<X509_STORE, StoreFree>(store)});
    X509_STORE_up_ref(store);
    return store;
}

}  // namespace skiv::wininet::detail
