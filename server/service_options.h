#pragma once
// The command line and the settings file of skivaddon-service.

#include <optional>
#include <string>
#include <vector>

#include "password_hasher.h"

namespace skiv::server {

struct ServiceOptions {
    std::string dataDir;
    std::string listenHost = "127.0.0.1";
    int listenPort = 8443;
    std::string publicUrl;  // normalised ("https://host:port"); empty = derived from the listener
    std::string certFile;
    std::string keyFile;
    int maxPackageMb = 64;
    int maxConnections = 4096;
    int maxConnectionsPerAddress = 64;
    int hashQueue = 128;
    int uploadBudgetMb = 512;  // all uploads being received at once
    int minFreeMb = 256;       // free space the shelf's file system keeps
    int quotaMb = 0;           // stored plus in flight; 0 = none
    int keepVersions = 10;     // stored versions per member
    std::string store;         // postgresql://...; empty = the SQLite file in the data folder
    int dbPool = 8;            // database connections per store
    // Where stored pieces go: empty = the data folder's packages/, else a
    // folder or "s3://BUCKET?endpoint=...&region=..." (object storage).
    std::string packages;
    std::string s3KeyFile;  // access_key=/secret_key= lines; empty = the environment
    HashCost hashCost;
    // Peers whose X-Forwarded-For names the client (canonical addresses).
    std::vector<std::string> trustedProxies;
    // "migrate": where members and versions are copied from and to.
    std::string migrateFrom;
    std::string migrateTo;
    std::vector<std::string> command;  // e.g. {"member", "add", "bob"}; empty = serve
    std::string configFile;            // the settings file read, empty when none
    bool help = false;
    bool version = false;
    bool checkOnly = false;  // print the settings in effect and exit
};

// Read at start when present; --config names another.
inline constexpr const char* kDefaultConfigFile = "/etc/skivaddon/service.toml";

// Reads the settings file (--config, else kDefaultConfigFile when it
// exists), then argv on top of it. On a usage error or a bad file returns
// nullopt and sets `error`.
std::optional<ServiceOptions> ParseOptions(int argc, char** argv, std::string& error);
std::string UsageText();   // the whole --help text
std::string ShortUsage();  // two lines for usage errors
// The settings in effect, one "name value" line each (--check-config).
std::string SettingsText(const ServiceOptions& options);

// "HOST:PORT" or "[IPv6]:PORT"; port 0..65535.
bool ParseListen(const std::string& text, std::string& host, int& port);
// Accepts "https://host[:port][/]" and returns it without the trailing
// slash; nullopt for anything else (other schemes, paths, queries, and any
// character the tag replies could not carry).
std::optional<std::string> NormalisePublicUrl(const std::string& url);
// The host part of a normalised URL, without brackets.
std::string UrlHost(const std::string& url);

}  // namespace skiv::server
