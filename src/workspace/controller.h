#pragma once
// CAddOnController: one session of the tool, independent of any GUI.
//
// It owns the session state, the four commands (log in, install, save, roll
// back) with their checks, confirmations and messages, the worker thread the
// three file and network tasks run on, and the operations of the flows. It
// reaches the user only through WindowOps, which the desktop window, the
// command line and the tests implement.
//
// Threads: the commands run on the caller's (window) thread; save, install
// and roll back run on one worker at a time, guarded by the atomic busy
// flag. The destructor waits for a running worker.
//
// Every operation returns a result code of platform/result_codes.h; a
// failing step writes one line to the operation log and passes its code up
// unchanged. Only the workers and the login command turn codes into
// messages.

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/result_codes.h"
#include "workspace/operation_log.h"
#include "workspace/session.h"
#include "workspace/window_ops.h"

namespace skiv {

// Where the member service lives.
struct ServiceConfig {
    std::string baseUrl;  // e.g. "https://127.0.0.1:8443" (no trailing '/')
    std::string caFile;   // an extra CA to trust; empty for the system store only

    // The compiled-in address, overridden by SKIVADDON_SERVICE_URL;
    // SKIVADDON_CA_FILE names the extra CA.
    static ServiceConfig FromEnvironment();
    // The member registration page of the service.
    std::string RegistrationUrl() const;
};

inline constexpr const char* kAppTitle = "Kelbo Skiv Addon";

class CAddOnController {
public:
    CAddOnController(WindowOps& window, COperationLog& log, ServiceConfig config);
    ~CAddOnController();
    CAddOnController(const CAddOnController&) = delete;
    CAddOnController& operator=(const CAddOnController&) = delete;

    // Opens the game's registry key; called once when the window
    // initialises.
    void Initialize();

    // ---- commands (window thread) ----
    void OnBnClickedBtnLogin();
    void OnSaveButton();
    void OnInstallButton();
    void OnRollBackButton();

    bool IsBusy() const { return m_session.busy.load(); }
    // Blocks until the running worker, if any, has finished.
    void WaitForWorker();
    // How many workers the commands have started, and the result code of the
    // last one to finish (for callers without a window, such as the command
    // line, that need the outcome as a value).
    unsigned WorkersStarted() const { return m_workersStarted.load(); }
    int LastWorkerResult() const { return m_lastResult.load(); }

    SessionState& Session() { return m_session; }
    const SessionState& Session() const { return m_session; }
    COperationLog& Log() { return m_log; }
    const ServiceConfig& Config() const { return m_config; }

    // Size units of the member panel: fileSize / 1,232,896, at least 1.
    static int SizeUnits(std::int32_t fileSize);

    // ---- game folder ----
    int GetWowPath();
    int SetUserLoadPath();

    // ---- service exchanges ----
    int Login(const std::string& memberId, const std::string& password);
    int UploadFile(const std::string& packagePath, int fileType);
    int DownloadFile();

    // ---- flows ----
    int SaveAddOn();
    int LoadAddOn();
    int BackupAddOn();
    int SetMyAddOn();
    int RollbackAddOn();
    int SetBackupAddOn();

    // ---- folder walks (folders relative to gameFolder, ending with '/') ----
    int AddFileToTar(const std::string& relativeFolder);
    int DeleteFolder(const std::string& relativeFolder);
    int DeleteCurAddOn(bool alsoCacheAndFonts);

    // ---- archive and package ----
    int CompressFile(const std::string& source, const std::string& target);
    int DecompressFile(const std::string& source, const std::string& target);
    // Unpacks under gameFolder (toGameFolder) or loadFolder.
    int UnTarFile(const std::string& archivePath, bool toGameFolder);
    int MakeUnTarDir(const std::string& relativeFolder, bool toGameFolder);

    // ---- workers (run on the worker thread; public for tests) ----
    int SaveWorker();
    int InstallWorker();
    int RollBackWorker();

private:
    int AddFileToTarWalk(const std::string& relativeFolder, std::vector<fs::FolderId>& ancestors);
    TaskOptions Options() { return m_window.GetTaskOptions(); }
    void Message(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    bool SharedTaskChecks();
    // Sets busy and starts fn on the worker thread.
    void StartWorker(int (CAddOnController::*fn)());
    void SetProgress(int position) { m_window.SetProgress(position); }

    WindowOps& m_window;
    COperationLog& m_log;
    ServiceConfig m_config;
    RegistryKey m_gameKey;
    SessionState m_session;
    std::thread m_worker;
    std::atomic<unsigned> m_workersStarted{0};
    std::atomic<int> m_lastResult{0};
};

}  // namespace skiv
