// Account commands: one login, then save, install, rollback or reset in the
// order given, each through the controller's own command and worker.

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/console_window.h"
#include "platform/fs.h"
#include "workspace/controller.h"

namespace {

using skiv::Controller;

struct Options {
    std::string id;
    bool passwordStdin = false;
    std::optional<std::string> gameFolder;
    std::optional<std::string> intoFolder;
    bool withCacheFonts = false;
    bool launch = false;
    bool yes = false;
    int version = 0;
    std::vector<std::string> commands;
};

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "skivaddon-cli: %s (see --help)\n", problem.c_str());
    return 2;
}

// Reads one line without echo when standard input is a terminal.
bool ReadPassword(bool fromStdin, std::string& password) {
    if (!fromStdin && !::isatty(STDIN_FILENO))
        return false;
    termios old{};
    bool tty = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &old) == 0;
    if (tty && !fromStdin) {
        std::fprintf(stderr, "Password: ");
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    bool ok = static_cast<bool>(std::getline(std::cin, password));
    if (tty && !fromStdin) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
        std::fputc('\n', stderr);
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return ok;
}

// Runs one task command: the code its worker ended with, or nothing when
// the command refused to start (having said why).
std::optional<skiv::ResultCode> RunTask(Controller& ctl, void (Controller::*command)()) {
    const unsigned before = ctl.WorkersStarted();
    (ctl.*command)();
    if (ctl.WorkersStarted() == before)
        return std::nullopt;
    ctl.WaitForWorker();
    return ctl.LastWorkerResult();
}

// "n  date  size  computer  files changed", newest first.
int PrintVersions(Controller& ctl) {
    std::vector<skiv::VersionInfo> versions;
    if (skiv::ResultCode r = ctl.ListVersions(versions); r != skiv::ResultCode::Ok) {
        std::fprintf(stderr, "skivaddon-cli: versions failed: (%d)\n", Number(r));
        return 1;
    }
    for (const skiv::VersionInfo& v : versions) {
        std::time_t t = static_cast<std::time_t>(v.time);
        std::tm tm{};
        localtime_r(&t, &tm);
        char date[32];
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", &tm);
        const std::string changed = v.changed < 0 ? "?" : std::to_string(v.changed);
        std::printf("%3d  %s  %10lld bytes  %6lld files  %5s changed  %s\n", v.number, date,
                    static_cast<long long>(v.packageBytes), static_cast<long long>(v.files),
                    changed.c_str(), v.computer.c_str());
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace

int RunAccount(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--id") {
            if (!value(o.id))
                return UsageError("--id needs a value");
        } else if (a.rfind("--id=", 0) == 0) {
            o.id = a.substr(5);
        } else if (a == "--password-stdin") {
            o.passwordStdin = true;
        } else if (a == "--game-folder") {
            if (!value(v))
                return UsageError("--game-folder needs a folder");
            o.gameFolder = v;
        } else if (a == "--into-folder") {
            if (!value(v))
                return UsageError("--into-folder needs a folder");
            o.intoFolder = v;
        } else if (a == "--with-cache-fonts") {
            o.withCacheFonts = true;
        } else if (a == "--launch") {
            o.launch = true;
        } else if (a == "--yes" || a == "-y") {
            o.yes = true;
        } else if (a == "--version") {
            if (!value(v) || v.empty() || v.find_first_not_of("0123456789") != std::string::npos ||
                v.size() > 6 || std::stoi(v) < 1)
                return UsageError("--version needs a version number (1 = newest)");
            o.version = std::stoi(v);
        } else if (a == "save" || a == "install" || a == "rollback" || a == "reset" ||
                   a == "versions") {
            o.commands.push_back(a);
        } else {
            return UsageError("unknown argument '" + a + "'");
        }
    }
    if (o.commands.empty())
        return UsageError("no command given");

    std::string password;
    if (!ReadPassword(o.passwordStdin, password)) {
        return UsageError("no password: use --password-stdin or run on a terminal");
    }

    skiv::OperationLog log;
    log.SetFolder(skiv::OperationLog::DefaultFolder());
    skiv::cli::ConsoleWindow window(o.yes);
    window.SetCredentials(o.id, password);
    std::fill(password.begin(), password.end(), '\0');
    if (o.gameFolder)
        window.SetGameFolderAnswer(skiv::fs::WithSlash(*o.gameFolder));
    if (o.intoFolder)
        window.SetIntoFolderAnswer(skiv::fs::WithSlash(*o.intoFolder));

    Controller ctl(window, log, skiv::ServiceConfig::FromEnvironment());
    skiv::TaskOptions options;
    options.saveScope =
        o.withCacheFonts ? skiv::SaveScope::WithCacheAndFonts : skiv::SaveScope::Basic;
    options.launchAfterInstall = o.launch;
    options.installIntoFolder = o.intoFolder.has_value();
    options.installVersion = o.version;
    window.SetTaskOptions(options);

    ctl.Login();
    window.SetCredentials(o.id, std::string());
    if (!ctl.Session().loggedIn) {
        std::fprintf(stderr, "skivaddon-cli: login failed\n");
        return 1;
    }
    std::printf("logged in as %s; game folder %s\n", o.id.c_str(),
                ctl.Session().gameFolder.c_str());
    std::fflush(stdout);
    window.ExpectInstallChooser(true);

    for (const auto& cmd : o.commands) {
        std::optional<skiv::ResultCode> r;
        if (cmd == "versions") {
            if (int rc = PrintVersions(ctl); rc != 0)
                return rc;
            continue;
        }
        if (cmd == "save") {
            r = RunTask(ctl, &Controller::SaveSet);
        } else if (cmd == "install") {
            r = RunTask(ctl, &Controller::InstallSet);
        } else {
            options.rollBack = cmd == "rollback" ? skiv::RollBackChoice::RestoreBackup
                                                 : skiv::RollBackChoice::DeleteOnly;
            window.SetTaskOptions(options);
            r = RunTask(ctl, &Controller::RollBack);
        }
        if (!r) {
            std::fprintf(stderr, "skivaddon-cli: %s did not start\n", cmd.c_str());
            return 1;
        }
        if (*r != skiv::ResultCode::Ok) {
            std::fprintf(stderr, "skivaddon-cli: %s failed: (%d)\n", cmd.c_str(), Number(*r));
            return 1;
        }
        const skiv::SessionState& s = ctl.Session();
        if (cmd == "save") {
            std::printf("save: %d pieces compressed, %d reused; %lld bytes sent\n",
                        s.lastPiecesCompressed, s.lastPiecesReused,
                        static_cast<long long>(s.lastSentBytes));
        } else if (cmd == "install" && !s.deltaBase.empty()) {
            std::printf("install: %lld bytes fetched\n",
                        static_cast<long long>(s.lastFetchedBytes));
        }
        std::fflush(stdout);
    }
    return 0;
}
