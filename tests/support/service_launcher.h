#pragma once
// Runs the real skivaddon-service binary for a test: a fresh data folder,
// loopback on a port the system picks, a private CA made on first start.
//
//   skiv::test::ServiceLauncher svc;            // started and listening
//   svc.AddMember("alice", "password1");
//   curl ... svc.BaseUrl() ... with CAINFO = svc.CaFile()
//
// The constructor returns once the service printed its "listening on"
// line, so requests may be sent at once. The service's log (stderr) goes
// to a file, readable with LogText(). Destruction stops the service
// (SIGTERM, then waits) and removes the data folder.
//
// Password hashing runs with a small Argon2id cost (8 MiB, 1 pass) so that
// tests stay quick; the administration commands use the same cost.
//
// Not thread-safe: one test thread drives one launcher.

#include <sys/types.h>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace skiv::test {

// Path of the built service: SKIV_BINARY_DIR + "/server/skivaddon-service".
std::string ServiceBinaryPath();

// How to start a service beyond the defaults.
struct LaunchOptions {
    // Added to the serving command line, e.g. {"--max-package-mb", "1"}.
    std::vector<std::string> extraArgs;
    // Added to the serving and the administration command lines both: the
    // back ends (--store URL, --packages URL).
    std::vector<std::string> storeArgs;
    // "NAME=value" entries added to the service's environment.
    std::vector<std::string> env;
    // A data folder shared with other launchers (ending with '/'); the
    // caller owns it and it stays. Empty: a fresh folder of its own.
    std::string dataDir;
    // The loopback port to listen on; 0: one the system picks (kept across
    // Restart() only when given here).
    int port = 0;
};

class ServiceLauncher {
public:
    // Starts the service with `extraArgs` added to its command line (for
    // example {"--max-package-mb", "1"}). Throws std::runtime_error when it
    // does not come up; the message carries its log.
    explicit ServiceLauncher(std::vector<std::string> extraArgs = {});
    explicit ServiceLauncher(LaunchOptions options);
    ~ServiceLauncher();
    ServiceLauncher(const ServiceLauncher&) = delete;
    ServiceLauncher& operator=(const ServiceLauncher&) = delete;

    // "https://127.0.0.1:PORT", no trailing slash.
    const std::string& BaseUrl() const { return m_baseUrl; }
    int Port() const { return m_port; }
    // The private CA the service made (DataDir() + "tls/ca.pem").
    std::string CaFile() const { return m_dataDir + "tls/ca.pem"; }
    // The service's data folder, ending with '/'.
    const std::string& DataDir() const { return m_dataDir; }
    // Everything the service wrote to stderr so far.
    std::string LogText() const;

    // "member add ID" with the password on standard input; throws
    // std::runtime_error when the command fails.
    void AddMember(const std::string& id, const std::string& password);
    // "member suspend ID" / "member resume ID"; throws on failure.
    void Suspend(const std::string& id);
    void Resume(const std::string& id);
    // Runs `skivaddon-service --data DIR <args>` with `input` on standard
    // input; returns the exit status and puts stdout+stderr in `output`.
    int RunAdmin(const std::vector<std::string>& args, const std::string& input,
                 std::string* output = nullptr) const;

    // Stops the service if it runs and starts it again on the same data
    // folder (and a new port). Throws as the constructor does.
    void Restart();

    // SIGTERM and wait; returns the exit status (or 128 + signal), or -1
    // when the service was not running.
    int Stop();
    // SIGKILL and wait (a crash, for recovery tests).
    void Kill();
    bool Running() const { return m_pid > 0; }
    // Process id of the running service (for /proc figures), -1 when stopped.
    pid_t Pid() const { return m_pid; }

private:
    void Launch();
    int Wait();

    TempDir m_dir;
    std::string m_dataDir;
    std::string m_logFile;
    std::vector<std::string> m_extraArgs;
    std::vector<std::string> m_storeArgs;
    std::vector<std::string> m_env;
    int m_givenPort = 0;
    std::string m_baseUrl;
    int m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace skiv::test
