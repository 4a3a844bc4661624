#include "client_address.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>

namespace skiv::server {

std::string CanonicalAddress(std::string_view text) {
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(std::string(text), ec);
    if (ec)
        return {};
    // An IPv4 client on a dual-stack socket shows as ::ffff:a.b.c.d.
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6())
            .to_string();
    return address.to_string();
}

std::string ClientAddress(const std::string& peer, std::string_view forwardedFor,
                          const std::vector<std::string>& trustedProxies) {
    if (trustedProxies.empty() || forwardedFor.empty())
        return peer;
    if (std::find(trustedProxies.begin(), trustedProxies.end(), CanonicalAddress(peer)) ==
        trustedProxies.end())
        return peer;
    const std::size_t comma = forwardedFor.rfind(',');
    std::string_view last =
        comma == std::string_view::npos ? forwardedFor : forwardedFor.substr(comma + 1);
    while (!last.empty() && (last.front() == ' ' || last.front() == '\t'))
        last.remove_prefix(1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t'))
        last.remove_suffix(1);
    std::string client = CanonicalAddress(last);
    return client.empty() ? peer : client;
}

}  // namespace skiv::server
