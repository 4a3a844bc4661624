#include "faults/fault_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "support/process.h"

extern char** environ;

namespace skiv::test {

bool ChildResult::Exited(int code) const {
    return WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == code;
}

bool ChildResult::KilledBy(int signal) const {
    return WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == signal;
}

std::string ChildResult::Describe() const {
    std::string s;
    if (WIFEXITED(waitStatus))
        s = "exit " + std::to_string(WEXITSTATUS(waitStatus));
    else if (WIFSIGNALED(waitStatus))
        s = "signal " + std::to_string(WTERMSIG(waitStatus));
    else
        s = "status " + std::to_string(waitStatus);
    return s + "\n" + output;
}

ChildResult RunCliProcess(const std::vector<std::string>& args, const std::string& stdinText,
                          const std::vector<std::string>& env,
                          const std::vector<std::string>& prefix) {
    TempDir io;
    const std::string in = io / "stdin", out = io / "output";
    WriteFile(in, stdinText);

    std::vector<std::string> argvText = prefix;
    argvText.push_back(CliPath());
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e)
        envText.emplace_back(*e);
    envText.insert(envText.end(), env.begin(), env.end());
    // Built before the fork: the child only calls async-signal-safe functions.
    std::vector<char*> argv, envp;
    for (auto& a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int i = ::open(in.c_str(), O_RDONLY);
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (i < 0 || o < 0)
            ::_exit(126);
        ::dup2(i, 0);
        ::dup2(o, 1);
        ::dup2(o, 2);
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ChildResult r;
    while (::waitpid(pid, &r.waitStatus, 0) < 0 && errno == EINTR) {
    }
    r.output = ReadFile(out);
    return r;
}

ChildResult RunAccount(const ServiceLauncher& svc, const std::vector<std::string>& args,
                       const std::vector<std::string>& env,
                       const std::vector<std::string>& prefix) {
    std::vector<std::string> all = {"--id", kFaultMember, "--password-stdin", "--yes"};
    all.insert(all.end(), args.begin(), args.end());
    // The piece caches of this test run stay out of the user's cache folder.
    static TempDir cacheHome;
    std::vector<std::string> fullEnv = {"SKIVADDON_SERVICE_URL=" + svc.BaseUrl(),
                                        "SKIVADDON_CA_FILE=" + svc.CaFile(),
                                        "XDG_CACHE_HOME=" + cacheHome.path()};
    fullEnv.insert(fullEnv.end(), env.begin(), env.end());
    return RunCliProcess(all, std::string(kFaultPassword) + "\n", fullEnv, prefix);
}

void MakeAddOns(const std::string& game, unsigned seed, std::size_t bigBytes) {
    WriteFile(game + "Launcher.exe", "MZ");
    WriteFile(game + "Interface/AddOns/Bags/Bags.lua", RandomBytes(bigBytes, seed));
    WriteFile(game + "Interface/AddOns/Bags/Locale/koKR.lua",
              "L['가방'] = " + std::to_string(seed) + "\n");
    WriteFile(game + "Interface/AddOns/Bags/.pkgmeta", "meta " + std::to_string(seed));
    WriteFile(game + "Interface/AddOns/.git/HEAD", "ref " + std::to_string(seed));
    WriteFile(game + "Interface/AddOns/빈 파일.txt", "");
    WriteFile(game + "WTF/Config.wtf", "SET uiScale \"0." + std::to_string(seed % 10) + "\"\n");
    WriteFile(game + "WTF/Account/ME/SavedVariables/Bags.lua",
              RandomSavedVariables(9000, seed + 1));
    WriteFile(game + "Cache/WDB/data.wdb", RandomBytes(3000, seed + 2));
    WriteFile(game + "Fonts/ARIALN.TTF", RandomBytes(2000, seed + 3));
}

namespace {

template <typename Keep>
TreeSnapshot Filter(const TreeSnapshot& tree, Keep keep) {
    TreeSnapshot out;
    for (const auto& [path, bytes] : tree)
        if (keep(path))
            out.emplace(path, bytes);
    return out;
}

bool Under(const std::string& path, const char* folder) {
    return path.rfind(folder, 0) == 0;
}

}  // namespace

TreeSnapshot AddOnPart(const TreeSnapshot& tree) {
    return Filter(tree, [](const std::string& p) {
        return Under(p, "Interface/") || Under(p, "WTF/") || Under(p, "Cache/") ||
               Under(p, "Fonts/");
    });
}

TreeSnapshot BasicPart(const TreeSnapshot& tree) {
    return Filter(tree,
                  [](const std::string& p) { return Under(p, "Interface/") || Under(p, "WTF/"); });
}

TreeSnapshot Packable(const TreeSnapshot& tree) {
    return Filter(tree, [](const std::string& p) {
        // Every component but the last is a folder.
        std::size_t start = 0;
        for (std::size_t slash; (slash = p.find('/', start)) != std::string::npos;
             start = slash + 1)
            if (p[start] == '.')
                return false;
        return true;
    });
}

TreeSnapshot StoredSet(const ServiceLauncher& svc) {
    TempDir where;
    const std::string game = where / "game/", into = where / "into/";
    WriteFile(game + "Launcher.exe", "MZ");
    std::filesystem::create_directories(into);
    ChildResult r = RunAccount(svc, {"--game-folder", game, "--into-folder", into, "install"});
    EXPECT_TRUE(r.Exited(0)) << "fetching the stored set failed: " << r.Describe();
    TreeSnapshot tree = SnapshotTree(into);
    std::erase_if(tree, [](const auto& kv) { return Under(kv.first, "Backup/"); });
    return tree;
}

TreeSnapshot UnpackWithCli(const std::string& archive, bool& ok) {
    TempDir where;
    ChildResult r = RunCliProcess({"unpack", archive, where / "out"}, "");
    ok = r.Exited(0);
    return SnapshotTree(where / "out");
}

std::size_t CountFiles(const std::string& folder) {
    return SnapshotTree(folder).size();
}

}  // namespace skiv::test
