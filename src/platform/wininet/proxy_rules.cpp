#include "platform/wininet/proxy_rules.h"

#include <fnmatch.h>

#include <cstdlib>
#include <vector>

#include "platform/wininet/header_list.h"

namespace skiv::wininet::detail {

namespace {

std::vector<std::string_view> Split(std::string_view list, std::string_view separators) {
    std::vector<std::string_view> parts;
    while (!list.empty()) {
        const auto end = list.find_first_of(separators);
        std::string_view part = list.substr(0, end);
        if (!part.empty()) {
            parts.push_back(part);
        }
        if (end == list.npos) {
            break;
        }
        list.remove_prefix(end + 1);
    }
    return parts;
}

std::string Env(const char* lower, const char* upper) {
    for (const char* name : {lower, upper}) {
        if (name == nullptr) {
            continue;
        }
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           HeaderList::EqualNames(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace

bool MatchesNoProxy(std::string_view list, std::string_view host) {
    for (std::string_view entry : Split(list, ", \t")) {
        if (entry == "*") {
            return true;
        }
        if (entry.front() == '.') {
            entry.remove_prefix(1);
        }
        if (entry.empty()) {
            continue;
        }
        if (HeaderList::EqualNames(host, entry)) {
            return true;
        }
        if (host.size() > entry.size() && EndsWithNoCase(host, entry) &&
            host[host.size() - entry.size() - 1] == '.') {
            return true;
        }
    }
    return false;
}

bool MatchesBypass(std::string_view list, std::string_view host) {
    const std::string name(host);
    for (std::string_view entry : Split(list, "; ,\t")) {
        if (entry == "<local>") {
            if (name.find('.') == std::string::npos && name.find(':') == std::string::npos) {
                return true;
            }
            continue;
        }
        const std::string pattern(entry);
        if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
            return true;
        }
    }
    return false;
}

std::string ChooseProxy(const ProxySettings& settings, bool secure, std::string_view host) {
    switch (settings.access_type) {
        case INTERNET_OPEN_TYPE_DIRECT:
            return {};
        case INTERNET_OPEN_TYPE_PROXY: {
            if (MatchesBypass(settings.bypass, host)) {
                return {};
            }
            const std::string_view wanted = secure ? "https=" : "http=";
            std::string_view fallback;
            for (std::string_view entry : Split(settings.proxy, "; \t")) {
                const auto eq = entry.find('=');
                if (eq == entry.npos) {
                    if (fallback.empty()) {
                        fallback = entry;
                    }
                } else if (HeaderList::EqualNames(entry.substr(0, eq + 1), wanted)) {
                    return std::string(entry.substr(eq + 1));
                }
            }
            return std::string(fallback);
        }
        default: {
            std::string proxy =
                secure ? Env("https_proxy", "HTTPS_PROXY") : Env("http_proxy", nullptr);
            if (proxy.empty()) {
                proxy = Env("all_proxy", "ALL_PROXY");
            }
            if (proxy.empty() || MatchesNoProxy(Env("no_proxy", "NO_PROXY"), host)) {
                return {};
            }
            return proxy;
        }
    }
}

}  // namespace skiv::wininet::detail
