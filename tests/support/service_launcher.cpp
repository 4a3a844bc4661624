#include "support/service_launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace skiv::test {

namespace {

const std::vector<std::string> kQuickHash = {"--hash-memory-kib", "8192", "--hash-passes", "1"};

std::vector<char*> Argv(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

// Reads until a newline, EOF or the deadline (a safety net against a hung
// service, not a timing assertion).
std::string ReadLine(int fd, int timeoutMs) {
    std::string line;
    while (line.empty() || line.back() != '\n') {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        char c;
        ssize_t n = ::read(fd, &c, 1);
        if (n <= 0)
            break;
        line += c;
    }
    return line;
}

int ExitCode(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

std::string ServiceBinaryPath() {
    return BinaryDir() + "/server/skivaddon-service";
}

ServiceLauncher::ServiceLauncher(std::vector<std::string> extraArgs)
    : m_dataDir(m_dir / "data/"),
      m_logFile(m_dir / "service.log"),
      m_extraArgs(std::move(extraArgs)) {
    Launch();
}

ServiceLauncher::ServiceLauncher(LaunchOptions options)
    : m_dataDir(options.dataDir.empty() ? m_dir / "data/" : options.dataDir),
      m_logFile(m_dir / "service.log"),
      m_extraArgs(std::move(options.extraArgs)),
      m_storeArgs(std::move(options.storeArgs)),
      m_env(std::move(options.env)),
      m_givenPort(options.port) {
    if (m_dataDir.back() != '/')
        m_dataDir += '/';
    Launch();
}

void ServiceLauncher::Restart() {
    Stop();
    Launch();
}

void ServiceLauncher::Launch() {
    std::vector<std::string> args = {ServiceBinaryPath(), "--data", m_dataDir, "--listen",
                                     "127.0.0.1:" + std::to_string(m_givenPort)};
    args.insert(args.end(), kQuickHash.begin(), kQuickHash.end());
    args.insert(args.end(), m_storeArgs.begin(), m_storeArgs.end());
    args.insert(args.end(), m_extraArgs.begin(), m_extraArgs.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.insert(env.end(), m_env.begin(), m_env.end());

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int log = ::open(m_logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(out[1], 1);
        if (log >= 0)
            ::dup2(log, 2);
        auto argv = Argv(args);
        auto envp = Argv(env);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    m_pid = pid;
    std::string line = ReadLine(out[0], 60000);
    ::close(out[0]);
    const std::string prefix = "listening on https://127.0.0.1:";
    if (line.compare(0, prefix.size(), prefix) != 0) {
        Kill();
        throw std::runtime_error("service did not start (" + ServiceBinaryPath() + "): " + line +
                                 "\n" + LogText());
    }
    m_port = std::stoi(line.substr(prefix.size()));
    m_baseUrl = "https://127.0.0.1:" + std::to_string(m_port);
}

ServiceLauncher::~ServiceLauncher() {
    if (m_pid > 0)
        Stop();
}

std::string ServiceLauncher::LogText() const {
    try {
        return ReadFile(m_logFile);
    } catch (const std::exception&) {
        return std::string();
    }
}

int ServiceLauncher::RunAdmin(const std::vector<std::string>& extra, const std::string& input,
                              std::string* output) const {
    std::vector<std::string> args = {ServiceBinaryPath(), "--data", m_dataDir};
    args.insert(args.end(), kQuickHash.begin(), kQuickHash.end());
    args.insert(args.end(), m_storeArgs.begin(), m_storeArgs.end());
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.insert(env.end(), m_env.begin(), m_env.end());
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        auto argv = Argv(args);
        auto envp = Argv(env);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    // The input is a line or two; it fits the pipe buffer without a
    // reader, so writing it all before reading cannot dead-lock.
    ::signal(SIGPIPE, SIG_IGN);
    if (!input.empty()) {
        ssize_t n = ::write(in[1], input.data(), input.size());
        (void)n;
    }
    ::close(in[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output)
        *output = text;
    return ExitCode(status);
}

void ServiceLauncher::AddMember(const std::string& id, const std::string& password) {
    std::string output;
    if (RunAdmin({"member", "add", id}, password + "\n", &output) != 0)
        throw std::runtime_error("member add " + id + " failed: " + output);
}

void ServiceLauncher::Suspend(const std::string& id) {
    std::string output;
    if (RunAdmin({"member", "suspend", id}, "", &output) != 0)
        throw std::runtime_error("member suspend " + id + " failed: " + output);
}

void ServiceLauncher::Resume(const std::string& id) {
    std::string output;
    if (RunAdmin({"member", "resume", id}, "", &output) != 0)
        throw std::runtime_error("member resume " + id + " failed: " + output);
}

int ServiceLauncher::Wait() {
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return ExitCode(status);
}

int ServiceLauncher::Stop() {
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, SIGTERM);
    return Wait();
}

void ServiceLauncher::Kill() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    Wait();
}

}  // namespace skiv::test
