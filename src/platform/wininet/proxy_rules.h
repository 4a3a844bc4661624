#pragma once
// Which proxy, if any, a request goes through, decided from the session's
// access type the way WinINet does:
//   PRECONFIG (0): the environment (https_proxy / HTTPS_PROXY for TLS,
//                  http_proxy for plain HTTP, then all_proxy / ALL_PROXY),
//                  with no_proxy / NO_PROXY ("*", host names, domain
//                  suffixes, a leading dot allowed);
//   DIRECT (1):    never a proxy;
//   PROXY (3):     the session's proxy list ("host:port", or per scheme
//                  "http=host:port https=host:port"), except for hosts on the
//                  bypass list ("<local>" = names without a dot; '*' and '?'
//                  wildcards; separated by ';', ',' or blanks).
// The decision is made here, once, and handed to libcurl explicitly.

#include <string>
#include <string_view>

#include "platform/wininet/wininet.h"

namespace skiv::wininet::detail {

struct ProxySettings {
    DWORD access_type = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;
    std::string bypass;
};

// The proxy ("host:port" or a URL) to use, or "" for a direct connection.
std::string ChooseProxy(const ProxySettings& settings, bool secure, std::string_view host);

// True when host is on a no_proxy style list.
bool MatchesNoProxy(std::string_view list, std::string_view host);
// True when host is on a WinINet bypass list.
bool MatchesBypass(std::string_view list, std::string_view host);

}  // namespace skiv::wininet::detail
