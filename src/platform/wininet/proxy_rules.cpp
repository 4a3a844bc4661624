#include "platform/wininet/proxy_rules.h"

#include <cstdlib>

#include "platform/wininet/header_list.h"

namespace skiv::wininet::detail {

namespace {

std::string Env(const char* lower, const char* upper) {
    for (const char* name : {lower, upper}) {
        const char* value = name != nullptr ? std::getenv(name) : nullptr;
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

}  // namespace

bool MatchesNoProxy(std::string_view list, std::string_view host) {
    while (!list.empty()) {
        const auto end = list.find_first_of(", \t");
        std::string_view entry = list.substr(0, end);
        list.remove_prefix(end == list.npos ? list.size() : end + 1);
        if (entry == "*") {
            return true;
        }
        if (entry.starts_with('.')) {
            entry.remove_prefix(1);
        }
        if (entry.empty() || host.size() < entry.size()) {
            continue;
        }
        // The host itself, or a name under it.
        const std::size_t at = host.size() - entry.size();
        if (HeaderList::EqualNames(host.substr(at), entry) && (at == 0 || host[at - 1] == '.')) {
            return true;
        }
    }
    return false;
}

std::string ProxyFromEnvironment(bool secure, std::string_view host) {
    std::string proxy = secure ? Env("https_proxy", "HTTPS_PROXY") : Env("http_proxy", nullptr);
    if (proxy.empty()) {
        proxy = Env("all_proxy", "ALL_PROXY");
    }
    if (proxy.empty() || MatchesNoProxy(Env("no_proxy", "NO_PROXY"), host)) {
        return {};
    }
    return proxy;
}

}  // namespace skiv::wininet::detail
