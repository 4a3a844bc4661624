#include "platform/wininet/request_plan.h"

#include <cstdio>

#include "platform/wininet/proxy_rules.h"

namespace skiv::wininet::detail {

std::string RequestTarget(std::string_view object) {
    std::string target;
    if (object.empty() || (object.front() != '/' && object != "*")) {
        target.push_back('/');
    }
    for (char c : object) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            target += hex;
        } else {
            target.push_back(c);
        }
    }
    return target;
}

namespace {

std::string HostForUrl(const std::string& host) {
    if (host.find(':') != std::string::npos && host.front() != '[') {
        return "[" + host + "]";
    }
    return host;
}

}  // namespace

TransferPlan MakePlan(const Request& request) {
    const Connection& conn = *request.connection;
    const Session& session = *conn.session;
    const bool secure = (request.flags & INTERNET_FLAG_SECURE) != 0;
    const std::string host = HostForUrl(conn.host);

    TransferPlan plan;
    plan.origin =
        std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(conn.port);
    plan.path = RequestTarget(request.object);
    plan.target = plan.path;
    plan.verb = request.verb;
    plan.http10 = request.http10;
    plan.agent = session.agent;
    plan.user = conn.user;
    plan.password = conn.password;
    plan.ca_bundle = session.ca_bundle;
    if (!session.direct) {
        plan.proxy = ProxyFromEnvironment(secure, conn.host);
    }
    if (!plan.proxy.empty() && !secure) {
        // A plain request through a proxy names the whole address.
        const bool default_port = conn.port == INTERNET_DEFAULT_HTTP_PORT;
        plan.target = "http://" + host + (default_port ? "" : ":" + std::to_string(conn.port)) +
                      (plan.path == "*" ? "/" : plan.path);
    }

    // libcurl's list syntax: "Name: value"; "Name;" sends an empty value;
    // "Name:" suppresses a header libcurl would add by itself.
    for (const auto& [name, value] : request.headers.Items()) {
        plan.header_lines.push_back(value.empty() ? name + ";" : name + ": " + value);
    }
    if ((request.flags & INTERNET_FLAG_PRAGMA_NOCACHE) != 0 && !request.headers.Has("Pragma")) {
        plan.header_lines.push_back("Pragma: no-cache");
    }
    for (const char* own : {"Accept", "Expect"}) {
        if (!request.headers.Has(own)) {
            plan.header_lines.push_back(std::string(own) + ":");
        }
    }
    return plan;
}

}  // namespace skiv::wininet::detail
