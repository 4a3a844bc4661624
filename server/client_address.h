#pragma once
// Which address a request came from, when the service sits behind a
// reverse proxy. Login lockouts and registration limits count by client
// address; behind a proxy every connection comes from the proxy, so the
// client's address is taken from X-Forwarded-For, and only when the peer
// is a proxy the operator named: anyone else could write that header.

#include <string>
#include <string_view>
#include <vector>

namespace skiv::server {

// The canonical text of an IP address ("::1", "10.0.0.2"); empty when
// `text` is not one.
std::string CanonicalAddress(std::string_view text);

// The client address of a request from `peer`: the last entry of
// `forwardedFor` when `peer` is one of `trustedProxies` (canonical texts)
// and that entry is an IP address; `peer` otherwise. The last entry is the
// one the trusted proxy itself appended; earlier ones are the client's word.
std::string ClientAddress(const std::string& peer, std::string_view forwardedFor,
                          const std::vector<std::string>& trustedProxies);

}  // namespace skiv::server
