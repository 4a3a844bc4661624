#include "service_options.h"

#include <charconv>

namespace skiv::server {

namespace {

bool ParseInt(const std::string& text, long long low, long long high, long long& out) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end && out >= low && out <= high;
}

bool HostCharsOk(const std::string& host) {
    if (host.empty())
        return false;
    for (char c : host) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == ':';
        if (!ok)
            return false;
    }
    return true;
}

}  // namespace

bool ParseListen(const std::string& text, std::string& host, int& port) {
    std::size_t colon;
    if (!text.empty() && text[0] == '[') {
        std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos)
            return false;
        host = text.substr(0, colon);
        if (host.find(':') != std::string::npos)
            return false;
    }
    long long p = 0;
    if (!HostCharsOk(host) || !ParseInt(text.substr(colon + 1), 0, 65535, p))
        return false;
    port = static_cast<int>(p);
    return true;
}

std::optional<std::string> NormalisePublicUrl(const std::string& url) {
    static const std::string scheme = "https://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return std::nullopt;
    std::string rest = url.substr(scheme.size());
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.empty() || rest.find('/') != std::string::npos)
        return std::nullopt;
    std::string host;
    int port = 0;
    if (rest[0] == '[' || rest.find(':') != std::string::npos) {
        if (!ParseListen(rest, host, port) || port == 0)
            return std::nullopt;
    } else if (!HostCharsOk(rest)) {
        return std::nullopt;
    }
    return scheme + rest;
}

std::string UrlHost(const std::string& url) {
    std::string rest = url.substr(url.find("://") + 3);
    if (!rest.empty() && rest[0] == '[')
        return rest.substr(1, rest.find(']') - 1);
    return rest.substr(0, rest.find(':'));
}

std::string UsageText() {
    return "usage: skivaddon-service --data DIR [options]\n"
           "       skivaddon-service --data DIR member add ID      (password on standard input)\n"
           "       skivaddon-service --data DIR member suspend ID\n"
           "       skivaddon-service --data DIR member resume ID\n"
           "       skivaddon-service --data DIR member list\n"
           "options:\n"
           "  --listen HOST:PORT       address to serve on (default 127.0.0.1:8443; port 0 = any)\n"
           "  --public-url URL         https://host[:port] put into upload and download addresses\n"
           "                           (default: the listening address)\n"
           "  --cert FILE --key FILE   server certificate and key (PEM); without them a private\n"
           "                           CA and certificate are made under DIR/tls/\n"
           "  --max-package-mb N       largest package accepted (default 64)\n"
           "  --max-connections N      open connections at once (default 4096)\n"
           "  --max-connections-per-address N\n"
           "                           open connections from one address (default 64)\n"
           "  --hash-queue N           logins waiting for a password check before the\n"
           "                           service answers busy (default 128)\n"
           "  --upload-budget-mb N     bytes of all uploads being received at once (default 512)\n"
           "  --min-free-mb N          free space kept on the data folder's disk; uploads that\n"
           "                           would go below it are refused (default 256)\n"
           "  --quota-mb N             total of stored packages and uploads (default 0: none)\n"
           "  --keep-versions N        stored versions kept per member (default 10)\n"
           "  --hash-memory-kib N      Argon2id memory per password hash (default 65536)\n"
           "  --hash-passes N          Argon2id passes (default 2)\n";
}

std::optional<ServiceOptions> ParseOptions(int argc, char** argv, std::string& error) {
    ServiceOptions o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        long long n = 0;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--data") {
            if (!value(o.dataDir))
                return std::nullopt;
        } else if (arg == "--listen") {
            if (!value(v))
                return std::nullopt;
            if (!ParseListen(v, o.listenHost, o.listenPort)) {
                error = "--listen wants HOST:PORT, got " + v;
                return std::nullopt;
            }
        } else if (arg == "--public-url") {
            if (!value(v))
                return std::nullopt;
            auto url = NormalisePublicUrl(v);
            if (!url) {
                error = "--public-url wants https://host[:port], got " + v;
                return std::nullopt;
            }
            o.publicUrl = *url;
        } else if (arg == "--cert") {
            if (!value(o.certFile))
                return std::nullopt;
        } else if (arg == "--key") {
            if (!value(o.keyFile))
                return std::nullopt;
        } else if (arg == "--max-package-mb") {
            if (!value(v))
                return std::nullopt;
            if (!ParseInt(v, 1, 4096, n)) {
                error = "--max-package-mb wants 1 to 4096";
                return std::nullopt;
            }
            o.maxPackageMb = static_cast<int>(n);
        } else if (arg == "--max-connections" || arg == "--max-connections-per-address" ||
                   arg == "--hash-queue" || arg == "--upload-budget-mb" || arg == "--min-free-mb" ||
                   arg == "--quota-mb") {
            if (!value(v))
                return std::nullopt;
            const bool zeroOk = arg == "--min-free-mb" || arg == "--quota-mb";
            if (!ParseInt(v, zeroOk ? 0 : 1, 1 << 24, n)) {
                error = arg + (zeroOk ? " wants 0 to 16777216" : " wants 1 to 16777216");
                return std::nullopt;
            }
            int& slot = arg == "--max-connections"               ? o.maxConnections
                        : arg == "--max-connections-per-address" ? o.maxConnectionsPerAddress
                        : arg == "--hash-queue"                  ? o.hashQueue
                        : arg == "--upload-budget-mb"            ? o.uploadBudgetMb
                        : arg == "--min-free-mb"                 ? o.minFreeMb
                                                                 : o.quotaMb;
            slot = static_cast<int>(n);
        } else if (arg == "--keep-versions") {
            if (!value(v))
                return std::nullopt;
            if (!ParseInt(v, 1, 1000, n)) {
                error = "--keep-versions wants 1 to 1000";
                return std::nullopt;
            }
            o.keepVersions = static_cast<int>(n);
        } else if (arg == "--hash-memory-kib") {
            if (!value(v))
                return std::nullopt;
            if (!ParseInt(v, 8, 4 * 1024 * 1024, n)) {
                error = "--hash-memory-kib wants 8 to 4194304";
                return std::nullopt;
            }
            o.hashCost.memoryBytes = static_cast<std::size_t>(n) * 1024;
        } else if (arg == "--hash-passes") {
            if (!value(v))
                return std::nullopt;
            if (!ParseInt(v, 1, 64, n)) {
                error = "--hash-passes wants 1 to 64";
                return std::nullopt;
            }
            o.hashCost.opsLimit = static_cast<unsigned long long>(n);
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else {
            o.command.push_back(arg);
        }
    }
    if (o.help)
        return o;
    if (o.dataDir.empty()) {
        error = "--data DIR is required";
        return std::nullopt;
    }
    if (o.certFile.empty() != o.keyFile.empty()) {
        error = "--cert and --key go together";
        return std::nullopt;
    }
    if (!o.command.empty()) {
        const auto& c = o.command;
        bool ok = c[0] == "member" &&
                  ((c.size() == 2 && c[1] == "list") ||
                   (c.size() == 3 && (c[1] == "add" || c[1] == "suspend" || c[1] == "resume")));
        if (!ok) {
            error = "unknown command";
            return std::nullopt;
        }
    }
    return o;
}

}  // namespace skiv::server
