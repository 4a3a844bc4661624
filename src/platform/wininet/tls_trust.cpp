#include "platform/wininet/tls_trust.h"

#include <curl/curl.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

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

}  // namespace skiv::wininet::detail
