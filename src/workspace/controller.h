#pragma once
// Controller: one session of the tool, independent of any window.
//
// It owns the session's facts, the four commands (log in, save, install,
// roll back or reset) with their checks, questions and messages, and the
// worker thread the file and network tasks (workspace/flows.h) run on. It
// reaches the user only through WindowOps, which the desktop window, the
// command line and the tests implement.
//
// Threads: the commands run on the caller's (window) thread; the tasks run
// on one worker at a time, guarded by the busy flag. The destructor waits
// for a running worker.
//
// Outcomes: a task ends with a ResultCode; the worker writes its one log
// line and shows its one message, both with the code's number.

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/result_codes.h"
#include "service/delta_exchange.h"
#include "workspace/game_folder.h"
#include "workspace/operation_log.h"
#include "workspace/session.h"
#include "workspace/window_ops.h"

namespace skiv {

// Where the member service lives. The transport trusts the extra CA named
// by SKIVADDON_CA_FILE on its own.
struct ServiceConfig {
    std::string baseUrl;  // e.g. "https://127.0.0.1:8443" (no trailing '/')

    // The compiled-in address, overridden by SKIVADDON_SERVICE_URL.
    static ServiceConfig FromEnvironment();
    // The member registration page of the service.
    std::string RegistrationUrl() const;
};

inline constexpr const char* kAppTitle = "Kelbo Skiv Addon";

// One version as the windows' version lists show it: number (two wide),
// local save date, size in the member panel's units, computer, and the
// files changed against the version before ("-" when unknown).
std::string VersionLine(const VersionInfo& v);

class Controller {
public:
    Controller(WindowOps& window, OperationLog& log, ServiceConfig config);
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // ---- commands (window thread) ----
    // Logs in with the window's ID and password, finding the game folder
    // first; shows the member panel on success.
    void Login();
    // Save, install and roll back (or reset, as the window's options say)
    // check, ask and then start their task on the worker.
    void SaveSet();
    void InstallSet();
    void RollBack();
    // Narrows the next logins' game discovery (the command line's choice).
    void SetGamePick(GamePick pick) { m_gamePick = std::move(pick); }

    // The versions the service keeps, newest first (a blocking exchange on
    // the caller's thread). DeltaNoVersion when not logged in or the service
    // offers no versions; else an outcome of DeltaClient::Versions.
    ResultCode ListVersions(std::vector<VersionInfo>& out);

    bool IsBusy() const { return m_busy.load(); }
    // Blocks until the running worker, if any, has finished.
    void WaitForWorker();
    // How many tasks the commands have started, and the outcome of the last
    // one to finish (for callers without a window, such as the command
    // line, that need the outcome as a value).
    unsigned WorkersStarted() const { return m_workersStarted.load(); }
    ResultCode LastWorkerResult() const { return m_lastResult.load(); }

    SessionState& Session() { return m_session; }
    const SessionState& Session() const { return m_session; }
    const ServiceConfig& Config() const { return m_config; }

    // Size units of the member panel: fileSize / 1,232,896, at least 1.
    static int SizeUnits(std::int32_t fileSize);

private:
    bool SharedTaskChecks();
    // Settles what a killed install or roll back left in the game folder,
    // telling the user what was found and done.
    void RecoverLeftovers();
    // True (the user told) when the game runs and would write over the set.
    bool GameRunningRefusal();
    // Sets busy and runs task on the worker thread; the task clears busy.
    void StartWorker(std::function<ResultCode()> task);
    void Message(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    // The workers: a task, then its log line and message.
    ResultCode SaveWorker(SaveScope scope);
    ResultCode InstallWorker(bool intoChosenFolder, int version);
    ResultCode RollBackWorker(RollBackChoice choice, int backupNumber);
    // Starts the game after an install: the one-folder layout's
    // "Launcher.exe" as ever, else the install's own program in its prefix.
    void Launch();

    WindowOps& m_window;
    OperationLog& m_log;
    ServiceConfig m_config;
    SessionState m_session;
    GamePick m_gamePick;
    std::atomic<bool> m_busy{false};
    std::thread m_worker;
    std::atomic<unsigned> m_workersStarted{0};
    std::atomic<ResultCode> m_lastResult{ResultCode::Ok};
};

}  // namespace skiv
