// The account commands (cli/account.h): the table and the run.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/account.h"
#include "cli/console_window.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "workspace/controller.h"
#include "workspace/flows.h"

namespace {

using skiv::Controller;
using namespace skiv::cli;

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "skivaddon-cli: %s (see --help)\n", problem.c_str());
    return 2;
}

// Reads one line without echo when standard input is a terminal.
bool ReadPassword(bool fromStdin, std::string& password) {
    using skiv::console::Stream;
    if (!fromStdin && !skiv::console::IsTerminal(Stream::In))
        return false;
    bool ok = false;
    if (!fromStdin) {
        // Echo goes off before the prompt shows: what is typed after the
        // prompt is neither echoed nor flushed away.
        skiv::console::EchoOff quiet;
        std::fprintf(stderr, "Password: ");
        ok = static_cast<bool>(std::getline(std::cin, password));
        if (quiet.active())
            std::fputc('\n', stderr);
    } else {
        ok = static_cast<bool>(std::getline(std::cin, password));
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

// What one account command works with; lives for the whole run.
struct Task {
    Controller& ctl;
    ConsoleWindow& window;
    skiv::TaskOptions& options;
    const std::string& game;  // the game folder found at login
};

// One account command: what --help and the progress line say, how it
// runs, and for a transfer the package's size once the transfer has begun.
struct CommandRow {
    AccountCommand info;
    std::optional<skiv::ResultCode> (*run)(Task&);
    std::int64_t (*transferTotal)(Task&);
};

std::optional<skiv::ResultCode> RunRollBack(Task& t, skiv::RollBackChoice choice) {
    t.options.rollBack = choice;
    t.window.SetTaskOptions(t.options);
    return RunTask(t.ctl, &Controller::RollBack);
}

// "n  date  size  computer  files changed", newest first.
skiv::ResultCode PrintVersions(Controller& ctl) {
    std::vector<skiv::VersionInfo> versions;
    if (skiv::ResultCode r = ctl.ListVersions(versions); r != skiv::ResultCode::Ok)
        return r;
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
    return skiv::ResultCode::Ok;
}

const CommandRow kCommands[] = {
    {{"save", "pack Interface and WTF (and Cache, Fonts) and store them", "내셋팅 저장"},
     [](Task& t) { return RunTask(t.ctl, &Controller::SaveSet); },
     [](Task& t) {
         return skiv::fs::FileSize(t.game + "Backup/" + skiv::flow::kPackageName).value_or(0);
     }},
    {{"install", "back the game's set up into Backup/ and install the stored set", "내셋팅 설정"},
     [](Task& t) { return RunTask(t.ctl, &Controller::InstallSet); },
     [](Task& t) { return std::int64_t{t.ctl.Session().fileSize}; }},
    {{"rollback", "restore the set the last install backed up", "되돌리기"},
     [](Task& t) { return RunRollBack(t, skiv::RollBackChoice::RestoreBackup); },
     nullptr},
    {{"reset", "delete Interface, WTF, Cache and Fonts", "초기화"},
     [](Task& t) { return RunRollBack(t, skiv::RollBackChoice::DeleteOnly); },
     nullptr},
    {{"versions", "list the stored versions: date, size, files, files changed, computer",
      "버전 목록"},
     [](Task& t) { return std::optional<skiv::ResultCode>(PrintVersions(t.ctl)); },
     nullptr},
};

}  // namespace

const std::vector<AccountCommand>& skiv::cli::AccountCommands() {
    static const std::vector<AccountCommand> commands = [] {
        std::vector<AccountCommand> list;
        for (const auto& row : kCommands)
            list.push_back(row.info);
        return list;
    }();
    return commands;
}

int skiv::cli::RunAccount(const AccountOptions& o, const std::vector<std::string>& commands) {
    if (commands.empty())
        return UsageError("no command given");

    std::string password;
    if (!ReadPassword(o.passwordStdin, password)) {
        return UsageError("no password: use --password-stdin or run on a terminal");
    }

    const auto config = skiv::ServiceConfig::FromEnvironment();
    const ConsoleOutput output = o.quiet ? ConsoleOutput::Quiet
                                 : skiv::console::IsTerminal(skiv::console::Stream::Out)
                                     ? ConsoleOutput::Terminal
                                     : ConsoleOutput::Lines;
    skiv::OperationLog log;
    log.SetFolder(skiv::OperationLog::DefaultFolder());
    ConsoleWindow window(o.yes, output, config.baseUrl);
    // Under --quiet the window's messages are held; they reach standard
    // error only when the command fails.
    auto fail = [&](const std::string& line) {
        std::fputs(window.TakeHeldMessages().c_str(), stderr);
        std::fprintf(stderr, "skivaddon-cli: %s\n", line.c_str());
        return 1;
    };
    window.SetBackupAnswer(o.backup);
    window.SetCredentials(o.id, password);
    std::fill(password.begin(), password.end(), '\0');
    if (o.gameFolder)
        window.SetGameFolderAnswer(skiv::fs::WithSlash(*o.gameFolder));
    if (o.intoFolder)
        window.SetIntoFolderAnswer(skiv::fs::WithSlash(*o.intoFolder));

    Controller ctl(window, log, config);
    ctl.SetGamePick({o.flavor, o.gameFolder.value_or(std::string())});
    skiv::TaskOptions options;
    options.saveScope =
        o.withCacheFonts ? skiv::SaveScope::WithCacheAndFonts : skiv::SaveScope::Basic;
    options.launchAfterInstall = o.launch;
    options.installIntoFolder = o.intoFolder.has_value();
    options.installVersion = o.version;
    window.SetTaskOptions(options);

    ctl.Login();
    window.SetCredentials(o.id, std::string());
    if (!ctl.Session().loggedIn)
        return fail("login failed");
    const std::string game = ctl.Session().gameFolder;
    if (!o.quiet) {
        std::printf("logged in as %s; game folder %s\n", o.id.c_str(), game.c_str());
        std::fflush(stdout);
    }
    window.ExpectInstallChooser(true);

    Task task{ctl, window, options, game};
    for (const auto& cmd : commands) {
        const auto row = std::find_if(std::begin(kCommands), std::end(kCommands),
                                      [&](const CommandRow& c) { return cmd == c.info.name; });
        if (row == std::end(kCommands))
            return UsageError("unknown command '" + cmd + "'");
        if (!o.quiet) {
            // Before anything changes: whose set, which folder.
            std::printf(
                "%s: member %s, game folder %s%s\n", cmd.c_str(), o.id.c_str(), game.c_str(),
                cmd == "install" && o.intoFolder ? (", into " + *o.intoFolder).c_str() : "");
            std::fflush(stdout);
        }
        std::function<std::int64_t()> transferTotal;
        if (row->transferTotal)
            transferTotal = [&task, row] { return row->transferTotal(task); };
        window.BeginStep(row->info.step, std::move(transferTotal));

        const std::optional<skiv::ResultCode> r = row->run(task);
        if (!r)
            return fail(cmd + " did not start");
        if (*r != skiv::ResultCode::Ok)
            return fail(cmd + " failed: (" + std::to_string(Number(*r)) + ")");
        window.TakeHeldMessages();
        if (!o.quiet) {
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
    }
    return 0;
}
