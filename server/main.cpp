// skivaddon-service: the member web service, or one administration command.

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "admin_commands.h"
#include "back_ends.h"
#include "data_folder.h"
#include "delta_desk.h"
#include "http_front.h"
#include "member_desk.h"
#include "member_store.h"
#include "package_shelf.h"
#include "password_hasher.h"
#include "registration_page.h"
#include "secrets.h"
#include "service_options.h"
#include "tls_material.h"
#include "upload_gate.h"
#include "version_store.h"

using namespace skiv::server;

namespace {

std::string Slashed(std::string dir) {
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

std::string HostForUrl(const std::string& host) {
    if (host.find(':') != std::string::npos)
        return "[" + host + "]";
    return host;
}

// Turns off echo on a terminal while a password is typed.
class QuietTerminal {
public:
    QuietTerminal() {
        if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        m_active = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        if (m_active)
            std::fputs("password: ", stderr);
    }
    ~QuietTerminal() {
        if (!m_active)
            return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
        std::fputs("\n", stderr);
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;

private:
    termios m_saved{};
    bool m_active = false;
};

// Raises the open-file limit to what the system allows and returns it:
// every connection costs a descriptor.
long RaiseFileLimit() {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0)
        return 1024;
    if (lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
        ::getrlimit(RLIMIT_NOFILE, &lim);
    }
    return lim.rlim_cur == RLIM_INFINITY ? 1L << 20 : static_cast<long>(lim.rlim_cur);
}

int Serve(const ServiceOptions& options) {
    const std::string data = Slashed(options.dataDir);
    std::vector<std::string> warnings;
    try {
        warnings = PrepareDataFolder(data);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "warning: %s\n", warning.c_str());

    // SIGINT and SIGTERM are taken by one watcher thread; every other
    // thread (the HTTP pool included, started later) inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    // Other instances may serve the same folder; the first to start does
    // the start-up work that needs the folder to itself.
    InstanceLock instances(data);
    BackEnds backEnds(BackEndSettings::From(options));
    std::fprintf(stderr, "%s\n", backEnds.description().c_str());
    MemberStore& store = backEnds.members();
    PackageShelf& shelf = backEnds.shelf();
    VersionStore& versions = backEnds.versions();
    versions.Recover(static_cast<std::int64_t>(std::time(nullptr)), instances.alone());
    PasswordHasher hasher(options.hashCost);

    TlsFiles tls{options.certFile, options.keyFile, "", false};
    if (tls.certFile.empty()) {
        std::vector<std::string> hosts;
        if (!options.publicUrl.empty())
            hosts.push_back(UrlHost(options.publicUrl));
        if (options.listenHost != "0.0.0.0" && options.listenHost != "::")
            hosts.push_back(options.listenHost);
        tls = EnsureTlsMaterial(data + "tls", hosts);
        std::fprintf(stderr, "%s private CA: %s (clients trust it with SKIVADDON_CA_FILE=%s)\n",
                     tls.created ? "created" : "using", tls.caFile.c_str(), tls.caFile.c_str());
    }
    instances.Share();

    DeskPolicy policy;
    policy.maxPackageBytes = static_cast<std::int64_t>(options.maxPackageMb) << 20;
    FrontConfig front;
    front.host = options.listenHost;
    front.port = options.listenPort;
    front.certFile = tls.certFile;
    front.keyFile = tls.keyFile;
    front.maxPackageBytes = policy.maxPackageBytes;
    front.maxConnectionsPerAddress = options.maxConnectionsPerAddress;
    front.hashQueue = options.hashQueue;
    front.trustedProxies = options.trustedProxies;
    // Descriptors beyond the connections: the database, packages being
    // sent or received, the log.
    const long files = RaiseFileLimit();
    front.maxConnections = static_cast<int>(std::min<long>(options.maxConnections, files / 2 - 32));
    if (front.maxConnections < options.maxConnections)
        std::fprintf(stderr, "note: at most %d connections (open-file limit %ld)\n",
                     front.maxConnections, files);

    StorageLimits storage;
    storage.inFlightBytes = static_cast<std::int64_t>(options.uploadBudgetMb) << 20;
    storage.minFreeBytes = static_cast<std::int64_t>(options.minFreeMb) << 20;
    storage.quotaBytes = static_cast<std::int64_t>(options.quotaMb) << 20;
    UploadGate gate(store.SettingOr("upload-pass-secret", RandomHex(32)), shelf, storage);

    policy.publicUrl = options.publicUrl;
    MemberDesk desk(store, shelf, hasher, policy);
    desk.SetUploadGate(&gate);
    desk.SetVersions(&versions);
    DeltaDesk delta(store, versions, policy.maxPackageBytes);
    RegistrationPage page(desk, store.SettingOr("registration-secret", RandomHex(32)));
    HttpFront http(desk, page, gate, front);
    http.SetDelta(&delta);
    const int port = http.Bind();
    if (policy.publicUrl.empty()) {
        // Derived from the listener, whose port may have been picked just now.
        std::string host = options.listenHost;
        if (host == "0.0.0.0" || host == "::")
            host = "127.0.0.1";
        desk.SetPublicUrl("https://" + HostForUrl(host) + ":" + std::to_string(port));
        if (host != options.listenHost) {
            std::fprintf(stderr,
                         "note: upload and download addresses name %s; give --public-url for "
                         "members on other computers\n",
                         host.c_str());
        }
    }

    std::thread watcher([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        if (sig != SIGUSR1)
            std::fprintf(stderr, "signal %d: stopping\n", sig);
        http.Stop();
    });

    std::printf("listening on https://%s:%d\n", HostForUrl(options.listenHost).c_str(), port);
    std::fflush(stdout);
    bool ok = http.Run();
    // Wake the watcher if the listener ended on its own.
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
    std::fprintf(stderr, "stopped\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    ::umask(077);  // everything the service and its commands create is private
    std::string error;
    auto options = ParseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "skivaddon-service: %s\n%s", error.c_str(), ShortUsage().c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("skivaddon-service %s\n", SKIV_VERSION);
        return 0;
    }
    if (options->checkOnly) {
        std::fputs(SettingsText(*options).c_str(), stdout);
        return 0;
    }
    if (!options->configFile.empty() && options->command.empty())
        std::fprintf(stderr, "settings from %s\n", options->configFile.c_str());
    try {
        InitCrypto();
        if (!options->command.empty() && options->command[0] == "migrate")
            return RunMigrate(*options, std::cout, std::cerr);
        if (!options->command.empty()) {
            std::optional<QuietTerminal> quiet;
            if (options->command.size() > 1 && options->command[1] == "add")
                quiet.emplace();
            return RunMemberCommand(*options, std::cin, std::cout, std::cerr);
        }
        return Serve(*options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "skivaddon-service: %s\n", e.what());
        return 1;
    }
}
