#include "platform/wininet/request_plan.h"

#include <cstdio>
#include <mutex>
#include <optional>

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

template <class T>
T Pick(const std::optional<T>& a, const std::optional<T>& b, const std::optional<T>& c, T other) {
    if (a) {
        return *a;
    }
    if (b) {
        return *b;
    }
    if (c) {
        return *c;
    }
    return other;
}

}  // namespace

TransferPlan MakePlan(Request& request) {
    Connection& conn = *request.connection;
    Session& session = *conn.session;
    const bool secure = (request.flags & INTERNET_FLAG_SECURE) != 0;
    const INTERNET_PORT port =
        conn.port != INTERNET_INVALID_PORT_NUMBER
            ? conn.port
            : (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    const std::string host = HostForUrl(conn.host);

    TransferPlan plan;
    plan.origin = std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(port);
    plan.path = RequestTarget(request.object);
    plan.target = plan.path;
    plan.verb = request.verb;
    plan.http10 = request.http10;
    plan.agent = session.agent;
    plan.user = conn.user;
    plan.password = conn.password;
    plan.verify_host = (request.flags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID) == 0;
    plan.ca_bundle = session.ca_bundle;
    plan.follow_redirects =
        plan.verb == "GET" && (request.flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;

    std::scoped_lock options(conn.lock, session.lock);
    plan.proxy = ChooseProxy(session.proxy, secure, conn.host);
    if (!plan.proxy->empty() && !secure) {
        // A plain request through a proxy names the whole address.
        const bool default_port = port == INTERNET_DEFAULT_HTTP_PORT;
        plan.target = "http://" + host + (default_port ? "" : ":" + std::to_string(port)) +
                      (plan.path == "*" ? "/" : plan.path);
    }
    plan.proxy_user = Pick(request.options.proxy_user, conn.options.proxy_user,
                           session.options.proxy_user, std::string());
    plan.proxy_password = Pick(request.options.proxy_password, conn.options.proxy_password,
                               session.options.proxy_password, std::string());
    plan.connect_timeout = Pick(request.options.connect_timeout, conn.options.connect_timeout,
                                session.options.connect_timeout, plan.connect_timeout);
    plan.idle_timeout = Pick(request.options.receive_timeout, conn.options.receive_timeout,
                             session.options.receive_timeout, plan.idle_timeout);

    // libcurl's list syntax: "Name: value"; "Name;" sends an empty value;
    // "Name:" suppresses a header libcurl would add by itself.
    HeaderList headers = request.headers;
    if ((request.flags & INTERNET_FLAG_PRAGMA_NOCACHE) != 0) {
        headers.ApplyOne("Pragma", "no-cache", HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    }
    for (const auto& [name, value] : headers.Items()) {
        plan.header_lines.push_back(value.empty() ? name + ";" : name + ": " + value);
    }
    for (const char* own : {"Accept", "Expect"}) {
        if (!headers.Has(own)) {
            plan.header_lines.push_back(std::string(own) + ":");
        }
    }
    return plan;
}

}  // namespace skiv::wininet::detail
