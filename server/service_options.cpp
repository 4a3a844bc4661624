#include "service_options.h"

#include <unistd.h>

#include <toml++/toml.h>
#include <CLI/CLI.hpp>
#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <charconv>
#include <iterator>
#include <memory>
#include <sstream>

#include "object_store.h"
#include "sql_db.h"

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

// A reverse proxy's address as the front compares it; false when `text`
// is not an IP address.
bool AddTrustedProxy(const std::string& text, ServiceOptions& o, std::string& error) {
    boost::system::error_code ec;
    auto address = boost::asio::ip::make_address(text, ec);
    if (ec) {
        error = "--trusted-proxy wants an IP address, got " + text;
        return false;
    }
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
    const std::string canonical = address.to_string();
    if (std::find(o.trustedProxies.begin(), o.trustedProxies.end(), canonical) ==
        o.trustedProxies.end())
        o.trustedProxies.push_back(canonical);
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

namespace {

// Every setting is both a flag (--NAME VALUE) and a key of the
// configuration file (NAME = VALUE); one validator serves both.
struct Setting {
    const char* name;
    const char* value;
    const char* help;
};

constexpr Setting kSettings[] = {
    {"data", "DIR", "data folder: member database, packages, tls/ (required)"},
    {"listen", "HOST:PORT", "address to serve on (default 127.0.0.1:8443; port 0 = any)"},
    {"public-url", "URL",
     "https://host[:port] put into upload and download addresses (default: the listening "
     "address)"},
    {"cert", "FILE",
     "server certificate (PEM); without --cert/--key a private CA and "
     "certificate are made under DIR/tls/"},
    {"key", "FILE", "server private key (PEM)"},
    {"max-package-mb", "N", "largest package accepted (default 64)"},
    {"max-connections", "N", "open connections at once (default 4096)"},
    {"max-connections-per-address", "N", "open connections from one address (default 64)"},
    {"hash-queue", "N",
     "logins waiting for a password check before the service answers busy (default 128)"},
    {"upload-budget-mb", "N", "bytes of all uploads being received at once (default 512)"},
    {"min-free-mb", "N",
     "free space kept on the data folder's disk; uploads that would go below it are refused "
     "(default 256)"},
    {"quota-mb", "N", "total of stored packages and uploads (default 0: none)"},
    {"keep-versions", "N", "stored versions kept per member (default 10)"},
    {"hash-memory-kib", "N", "Argon2id memory per password hash (default 65536)"},
    {"hash-passes", "N", "Argon2id passes (default 2)"},
    {"store", "URL",
     "the records on a PostgreSQL server, postgresql://user@host:port/dbname (default: the "
     "SQLite file in the data folder)"},
    {"db-pool", "N", "database connections per store (default 8; one for SQLite)"},
    {"packages", "URL",
     "where stored packages go: a folder, or s3://BUCKET?endpoint=http://HOST:PORT&region=NAME "
     "for S3 object storage (default: DIR/packages)"},
    {"s3-key-file", "FILE",
     "S3 keys as access_key=... and secret_key=... lines, readable by its owner only "
     "(default: SKIVADDON_S3_ACCESS_KEY and SKIVADDON_S3_SECRET_KEY)"},
};

// Checks one setting's text and stores it; false with `error` set.
bool Apply(const std::string& name, const std::string& v, ServiceOptions& o, std::string& error) {
    const std::string arg = "--" + name;
    long long n = 0;
    if (name == "data") {
        o.dataDir = v;
    } else if (name == "listen") {
        if (!ParseListen(v, o.listenHost, o.listenPort)) {
            error = "--listen wants HOST:PORT, got " + v;
            return false;
        }
    } else if (name == "public-url") {
        auto url = NormalisePublicUrl(v);
        if (!url) {
            error = "--public-url wants https://host[:port], got " + v;
            return false;
        }
        o.publicUrl = *url;
    } else if (name == "packages") {
        if (v.rfind("s3://", 0) == 0 && !ParseObjectStoreUrl(v, error)) {
            error = "--packages: " + error;
            return false;
        }
        o.packages = v;
    } else if (name == "s3-key-file") {
        o.s3KeyFile = v;
    } else if (name == "cert") {
        o.certFile = v;
    } else if (name == "key") {
        o.keyFile = v;
    } else if (name == "max-package-mb") {
        if (!ParseInt(v, 1, 4096, n)) {
            error = "--max-package-mb wants 1 to 4096";
            return false;
        }
        o.maxPackageMb = static_cast<int>(n);
    } else if (name == "hash-memory-kib") {
        if (!ParseInt(v, 8, 4 * 1024 * 1024, n)) {
            error = "--hash-memory-kib wants 8 to 4194304";
            return false;
        }
        o.hashCost.memoryBytes = static_cast<std::size_t>(n) * 1024;
    } else if (name == "keep-versions") {
        if (!ParseInt(v, 1, 1000, n)) {
            error = "--keep-versions wants 1 to 1000";
            return false;
        }
        o.keepVersions = static_cast<int>(n);
    } else if (name == "store") {
        if (!IsPostgresUrl(v)) {
            error = "--store wants postgresql://user@host:port/dbname, got " + v;
            return false;
        }
        o.store = v;
    } else if (name == "db-pool") {
        if (!ParseInt(v, 1, 1024, n)) {
            error = "--db-pool wants 1 to 1024";
            return false;
        }
        o.dbPool = static_cast<int>(n);
    } else if (name == "hash-passes") {
        if (!ParseInt(v, 1, 64, n)) {
            error = "--hash-passes wants 1 to 64";
            return false;
        }
        o.hashCost.opsLimit = static_cast<unsigned long long>(n);
    } else {
        const bool zeroOk = name == "min-free-mb" || name == "quota-mb";
        if (!ParseInt(v, zeroOk ? 0 : 1, 1 << 24, n)) {
            error = arg + (zeroOk ? " wants 0 to 16777216" : " wants 1 to 16777216");
            return false;
        }
        int& slot = name == "max-connections"               ? o.maxConnections
                    : name == "max-connections-per-address" ? o.maxConnectionsPerAddress
                    : name == "hash-queue"                  ? o.hashQueue
                    : name == "upload-budget-mb"            ? o.uploadBudgetMb
                    : name == "min-free-mb"                 ? o.minFreeMb
                                                            : o.quotaMb;
        slot = static_cast<int>(n);
    }
    return true;
}

// What the command line holds before it is checked.
struct Given {
    std::string values[std::size(kSettings)];
    std::string config;
    std::vector<std::string> command;
    std::vector<std::string> trustedProxies;
    std::string from;
    std::string to;
    bool help = false;
    bool version = false;
    bool check = false;
};

std::unique_ptr<CLI::App> MakeApp(Given& g) {
    auto app = std::make_unique<CLI::App>(
        "The member web service of Kelbo Skiv Addon, or one member command.", "skivaddon-service");
    // A flag given twice takes its last value, as scripts that append an
    // override to a shared command line expect.
    app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app->set_help_flag();
    app->add_flag("-h,--help", g.help, "print this help and exit");
    app->add_flag("--version", g.version, "print the version and exit");
    app->add_flag("--check-config", g.check,
                  "read the settings file and the flags, print the settings in effect and exit");
    app->add_option("--config", g.config,
                    std::string("settings file (TOML; default ") + kDefaultConfigFile +
                        " when present); the flags override it")
        ->type_name("FILE");
    for (std::size_t i = 0; i < std::size(kSettings); ++i) {
        app->add_option(std::string("--") + kSettings[i].name, g.values[i], kSettings[i].help)
            ->type_name(kSettings[i].value);
    }
    app->add_option("--trusted-proxy", g.trustedProxies,
                    "a reverse proxy (IP address) whose X-Forwarded-For names the client; "
                    "repeatable")
        ->type_name("ADDR")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app->add_option("--from", g.from,
                    "migrate: the data folder copied from, or a settings file naming its data "
                    "folder, store and packages")
        ->type_name("DIR|FILE");
    app->add_option("--to", g.to, "migrate: the data folder or settings file copied into")
        ->type_name("DIR|FILE");
    app->add_option(
           "command", g.command,
           "member add ID | member suspend ID | member resume ID | "
           "member list | migrate --from DIR|FILE --to DIR|FILE  (add reads the password on "
           "standard input)")
        ->type_name("");
    app->footer(
        "Without a command the service runs until SIGINT or SIGTERM.\n"
        "Every flag except --config is also a key of the settings file, e.g. listen = "
        "\"0.0.0.0:443\".");
    return app;
}

// Reads the settings file into `o`; false with `error` set.
bool ApplyFile(const std::string& path, ServiceOptions& o, std::string& error) {
    toml::table table;
    try {
        table = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        std::ostringstream where;
        where << path << ":" << e.source().begin.line << ": " << e.description();
        error = where.str();
        return false;
    }
    for (const auto& [key, node] : table) {
        std::string name(key.str());
        std::replace(name.begin(), name.end(), '_', '-');  // s3_key_file = s3-key-file
        if (name == "trusted-proxy") {
            // One address or a list of them.
            std::vector<std::string> proxies;
            if (auto s = node.value<std::string>(); s && node.is_string()) {
                proxies.push_back(*s);
            } else if (const toml::array* list = node.as_array()) {
                for (const auto& item : *list) {
                    if (!item.is_string()) {
                        error = path + ": trusted-proxy wants addresses as strings";
                        return false;
                    }
                    proxies.push_back(*item.value<std::string>());
                }
            } else {
                error = path + ": trusted-proxy wants an address or a list of them";
                return false;
            }
            for (const auto& p : proxies) {
                std::string why;
                if (!AddTrustedProxy(p, o, why)) {
                    error = path + ": " + why.substr(2);
                    return false;
                }
            }
            continue;
        }
        const bool known = std::any_of(std::begin(kSettings), std::end(kSettings),
                                       [&](const Setting& s) { return name == s.name; });
        if (!known) {
            error = path + ": unknown setting " + name;
            return false;
        }
        std::string text;
        if (auto s = node.value<std::string>(); s && node.is_string())
            text = *s;
        else if (auto n = node.value<long long>(); n && node.is_integer())
            text = std::to_string(*n);
        else {
            error = path + ": " + name + " wants a string or a whole number";
            return false;
        }
        std::string why;
        if (!Apply(name, text, o, why)) {
            error = path + ": " + why.substr(2);  // named as the key, not the flag
            return false;
        }
    }
    return true;
}

}  // namespace

std::string ShortUsage() {
    return "usage: skivaddon-service [--config FILE] [--data DIR] [OPTIONS] [member "
           "add|suspend|resume "
           "ID | member list]\n"
           "       skivaddon-service --help   (every option)\n";
}

namespace {

// A password written into the URL is not printed back.
std::string WithoutPassword(const std::string& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t at = url.find('@');
    if (scheme == std::string::npos || at == std::string::npos)
        return url;
    const std::size_t colon = url.find(':', scheme + 3);
    if (colon == std::string::npos || colon > at)
        return url;
    return url.substr(0, colon + 1) + "(hidden)" + url.substr(at);
}

}  // namespace

std::string SettingsText(const ServiceOptions& o) {
    const bool v6 = o.listenHost.find(':') != std::string::npos;
    std::ostringstream out;
    out << "config " << (o.configFile.empty() ? "(none)" : o.configFile) << "\n"
        << "data " << o.dataDir << "\n"
        << "listen " << (v6 ? "[" + o.listenHost + "]" : o.listenHost) << ":" << o.listenPort
        << "\n"
        << "public-url " << (o.publicUrl.empty() ? "(from listen)" : o.publicUrl) << "\n"
        << "cert " << (o.certFile.empty() ? "(private CA under data/tls)" : o.certFile) << "\n"
        << "key " << (o.keyFile.empty() ? "(private CA under data/tls)" : o.keyFile) << "\n"
        << "max-package-mb " << o.maxPackageMb << "\n"
        << "max-connections " << o.maxConnections << "\n"
        << "max-connections-per-address " << o.maxConnectionsPerAddress << "\n"
        << "hash-queue " << o.hashQueue << "\n"
        << "upload-budget-mb " << o.uploadBudgetMb << "\n"
        << "min-free-mb " << o.minFreeMb << "\n"
        << "quota-mb " << o.quotaMb << "\n"
        << "keep-versions " << o.keepVersions << "\n"
        << "hash-memory-kib " << o.hashCost.memoryBytes / 1024 << "\n"
        << "hash-passes " << o.hashCost.opsLimit << "\n";
    for (const auto& proxy : o.trustedProxies)
        out << "trusted-proxy " << proxy << "\n";
    out << "store " << (o.store.empty() ? "(SQLite file in data)" : WithoutPassword(o.store))
        << "\n"
        << "db-pool " << o.dbPool << "\n";
    out << "packages " << (o.packages.empty() ? "(data/packages)" : o.packages) << "\n"
        << "s3-key-file " << (o.s3KeyFile.empty() ? "(environment)" : o.s3KeyFile) << "\n";
    return out.str();
}

std::string UsageText() {
    Given g;
    return MakeApp(g)->help();
}

std::optional<ServiceOptions> ParseOptions(int argc, char** argv, std::string& error) {
    Given g;
    auto app = MakeApp(g);
    try {
        app->parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return std::nullopt;
    }
    ServiceOptions o;
    o.help = g.help;
    o.version = g.version;
    if (o.help || o.version)
        return o;
    std::string config = g.config;
    if (config.empty() && ::access(kDefaultConfigFile, F_OK) == 0)
        config = kDefaultConfigFile;
    if (!config.empty() && !ApplyFile(config, o, error))
        return std::nullopt;
    o.configFile = config;
    for (std::size_t i = 0; i < std::size(kSettings); ++i) {
        if (app->count(std::string("--") + kSettings[i].name) > 0 &&
            !Apply(kSettings[i].name, g.values[i], o, error)) {
            return std::nullopt;
        }
    }
    if (!g.trustedProxies.empty()) {
        // The command line's list replaces the file's.
        o.trustedProxies.clear();
        for (const auto& p : g.trustedProxies)
            if (!AddTrustedProxy(p, o, error))
                return std::nullopt;
    }
    o.command = g.command;
    o.checkOnly = g.check;
    o.migrateFrom = g.from;
    o.migrateTo = g.to;
    const bool migrate = o.command.size() == 1 && o.command[0] == "migrate";
    if (migrate) {
        if (o.migrateFrom.empty() || o.migrateTo.empty()) {
            error = "migrate wants --from and --to (a data folder or a settings file each)";
            return std::nullopt;
        }
        return o;
    }
    if (!o.migrateFrom.empty() || !o.migrateTo.empty()) {
        error = "--from and --to go with the migrate command";
        return std::nullopt;
    }
    if (o.dataDir.empty()) {
        error = "--data DIR is required (or data = \"DIR\" in the settings file)";
        return std::nullopt;
    }
    if (o.certFile.empty() != o.keyFile.empty()) {
        error = "--cert and --key go together";
        return std::nullopt;
    }
    if (!o.command.empty()) {
        const auto& c = o.command;
        bool ok = (c[0] == "member" &&
                   ((c.size() == 2 && c[1] == "list") ||
                    (c.size() == 3 && (c[1] == "add" || c[1] == "suspend" || c[1] == "resume")))) ||
                  (c.size() == 1 && c[0] == "migrate");
        if (!ok) {
            error = "unknown command";
            return std::nullopt;
        }
    }
    return o;
}

}  // namespace skiv::server
