#pragma once
// Which proxy, if any, a request of a preconfigured session goes through:
// https_proxy / HTTPS_PROXY for TLS, http_proxy for plain HTTP, then
// all_proxy / ALL_PROXY, unless the host is on no_proxy / NO_PROXY ("*",
// host names, domain suffixes, a leading dot allowed). The decision is made
// here, once, and handed to libcurl explicitly.

#include <string>
#include <string_view>

namespace skiv::wininet::detail {

// The proxy ("host:port" or a URL) to use, or "" for a direct connection.
std::string ProxyFromEnvironment(bool secure, std::string_view host);

// True when host is on a no_proxy style list.
bool MatchesNoProxy(std::string_view list, std::string_view host);

}  // namespace skiv::wininet::detail
