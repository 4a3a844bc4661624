// skivaddon-cli's account commands as separate processes against the real
// service.

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "e2e_fixture.h"
#include "support/process.h"

namespace skiv::test {
namespace {

ProcessResult Cli(const std::string& baseUrl, const std::string& ca, const std::string& args,
                  const std::string& password) {
    return RunCommand("SKIVADDON_SERVICE_URL=" + ShellQuote(baseUrl) +
                          " SKIVADDON_CA_FILE=" + ShellQuote(ca) + " " + CliPath() + " " + args,
                      password + "\n");
}

TEST_F(EndToEnd, CommandLineSavesInstallsAndRollsBack) {
    TempDir a, b;
    const std::string gameA = a / "게임 A/", gameB = b / "game b/";
    MakeAddOnSet(gameA, 21, true);
    MakeAddOnSet(gameB, 22, true);
    WriteFile(gameA + "Launcher.exe", "");
    WriteFile(gameB + "Launcher.exe", "");
    const TreeSnapshot beforeB = SnapshotTree(gameB);

    auto save =
        Cli(svc.BaseUrl(), svc.CaFile(),
            std::string("--id alice --password-stdin --yes --with-cache-fonts --game-folder ") +
                ShellQuote(gameA) + " save",
            kPassword);
    ASSERT_EQ(save.status, 0) << save.output;
    EXPECT_NE(save.output.find("애드온이 모두 저장되었습니다"), std::string::npos) << save.output;
    EXPECT_LT(save.output.find("save: member alice, game folder " + gameA),
              save.output.find("[Kelbo Skiv Addon]"))
        << save.output;

    auto install = Cli(svc.BaseUrl(), svc.CaFile(),
                       "--id alice --password-stdin --yes --game-folder " + ShellQuote(gameB) +
                           " install rollback",
                       kPassword);
    ASSERT_EQ(install.status, 0) << install.output;
    EXPECT_NE(install.output.find("애드온이 모두 세팅되었습니다"), std::string::npos);
    EXPECT_NE(install.output.find("되돌리기가 완료되었습니다."), std::string::npos);
    TreeSnapshot afterB = SnapshotTree(gameB);
    std::erase_if(afterB, [](const auto& kv) { return kv.first.rfind("Backup/", 0) == 0; });
    TreeSnapshot expected = beforeB;
    std::erase_if(expected,
                  [](const auto& kv) { return kv.first.find(".git/") != std::string::npos; });
    EXPECT_EQ(afterB, expected);

    // The backup archive restores the set with the archive command too.
    auto unpack =
        RunCommand(CliPath() + " unpack " + ShellQuote(gameB + "Backup/SkivAddonBackup.kso") + " " +
                   ShellQuote(b / "restored"));
    ASSERT_EQ(unpack.status, 0) << unpack.output;
    EXPECT_EQ(SnapshotTree(b / "restored/WTF"), SnapshotTree(gameB + "WTF"));

    // The first roll back kept the installed set as backup 2; after one
    // more install it is backup 3, and --backup takes it back.
    auto older = Cli(svc.BaseUrl(), svc.CaFile(),
                     "--id alice --password-stdin --yes --game-folder " + ShellQuote(gameB) +
                         " --backup 3 install rollback",
                     kPassword);
    ASSERT_EQ(older.status, 0) << older.output;
    EXPECT_NE(older.output.find("backup 3: "), std::string::npos) << older.output;
    EXPECT_EQ(SnapshotTree(gameB + "WTF"), SnapshotTree(gameA + "WTF"));
}

TEST_F(EndToEnd, CommandLineFailuresExitNonZero) {
    TempDir a;
    WriteFile(a / "g/Launcher.exe", "");
    // Even --quiet tells a failure: the window's message and what to do.
    auto bad = Cli(
        svc.BaseUrl(), svc.CaFile(),
        "--id alice --password-stdin --yes --quiet --game-folder " + ShellQuote(a / "g") + " save",
        "not the password");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.output.find("아이디 또는 패스워드가 올바르지 않습니다\n할 일: --id"),
              std::string::npos)
        << bad.output;
    // Nobody listens: the login's code with the service's address to check.
    auto away = Cli("https://127.0.0.1:1", svc.CaFile(),
                    "--id alice --password-stdin --game-folder " + ShellQuote(a / "g") + " save",
                    kPassword);
    EXPECT_EQ(away.status, 1);
    EXPECT_NE(away.output.find("로그인 실패:(1016)"), std::string::npos) << away.output;
    EXPECT_NE(away.output.find("서비스 주소 https://127.0.0.1:1"), std::string::npos)
        << away.output;
    // No Interface/WTF: the save command refuses to start.
    auto refused =
        Cli(svc.BaseUrl(), svc.CaFile(),
            "--id alice --password-stdin --yes --game-folder " + ShellQuote(a / "g") + " save",
            kPassword);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("필수 폴더가 존재하지 않습니다"), std::string::npos);
    // Without --yes and without a terminal the confirmation answers No.
    MakeAddOnSet(a / "g/", 1, false);
    auto no = Cli(svc.BaseUrl(), svc.CaFile(),
                  "--id alice --password-stdin --game-folder " + ShellQuote(a / "g") + " save",
                  kPassword);
    EXPECT_EQ(no.status, 1);
    EXPECT_FALSE(fs::Exists(a / "g/Backup"));
}

// What a terminal `columns` wide shows after the bytes a program wrote:
// text (Hangul two columns wide), carriage return, line feed, erase to the
// end of the line, and wrapping at the right edge.
class Screen {
public:
    explicit Screen(int columns) : m_columns(columns) {}

    void Feed(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size();) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (b == '\r') {
                m_col = 0;
                ++i;
            } else if (b == '\n') {
                NewRow();
                ++i;
            } else if (bytes.compare(i, 3, "\033[K") == 0) {
                Row().resize(std::min<std::size_t>(Row().size(), m_col));
                i += 3;
            } else {
                const std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
                const std::size_t width = b >= 0xE1 && b <= 0xED ? 2 : 1;  // U+1000..U+DFFF: Hangul
                if (m_col + width > static_cast<std::size_t>(m_columns)) {
                    NewRow();
                }
                if (Row().size() < m_col + width)
                    Row().resize(m_col + width);
                Row()[m_col] = bytes.substr(i, n);
                if (width == 2)
                    Row()[m_col + 1].clear();
                m_col += width;
                i += n;
            }
        }
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const auto& row : m_rows) {
            std::string text;
            for (const auto& cell : row)
                text += cell.empty() ? "" : cell;
            lines.push_back(text);
        }
        return lines;
    }

private:
    std::vector<std::string>& Row() { return m_rows[m_row]; }
    void NewRow() {
        m_col = 0;
        if (++m_row == m_rows.size())
            m_rows.emplace_back();
    }
    int m_columns;
    std::vector<std::vector<std::string>> m_rows{1};
    std::size_t m_row = 0, m_col = 0;
};

// Runs skivaddon-cli on a pseudo-terminal `columns` wide, types the
// password when asked, and returns the exit status with everything the
// terminal received.
std::pair<int, std::string> CliOnTerminal(const std::vector<std::string>& args,
                                          const std::vector<std::string>& env, int columns) {
    std::vector<std::string> argvText = {CliPath()};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<std::string> envText = env;
    envText.push_back("TERM=xterm");
    std::vector<char*> argv, envp;
    for (auto& a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    winsize size{};
    size.ws_row = 40;
    size.ws_col = static_cast<unsigned short>(columns);
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    std::string seen;
    bool typed = false;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0) {
            ADD_FAILURE() << "no output for a minute:\n" << seen;
            ::kill(pid, SIGKILL);
            break;
        }
        char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            break;  // EIO: the program has ended and closed the terminal
        seen.append(buf, static_cast<std::size_t>(n));
        if (!typed && seen.find("Password: ") != std::string::npos) {
            const std::string line = std::string(kPassword) + "\n";
            EXPECT_EQ(::write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
            typed = true;
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, seen};
}

TEST_F(EndToEnd, CommandLineDrawsOneProgressLineOnATerminal) {
    TempDir a;
    const std::string game = a / "game/";
    MakeAddOnSet(game, 5, true);
    WriteFile(game + "Launcher.exe", "");
    const std::vector<std::string> env = {"SKIVADDON_SERVICE_URL=" + svc.BaseUrl(),
                                          "SKIVADDON_CA_FILE=" + svc.CaFile(), "HOME=" + a.path()};

    // A wide terminal: the step, the bar and the bytes on one line that
    // ends at 100%, followed by the window's message. A line drawn wider
    // than the terminal would wrap and leave rows of old percentages.
    auto [status, bytes] =
        CliOnTerminal({"--id", kMember, "--yes", "--game-folder", game, "save"}, env, 72);
    ASSERT_EQ(status, 0) << bytes;
    Screen wide(72);
    wide.Feed(bytes);
    auto lines = wide.Lines();
    auto bar = std::find_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("내셋팅 저장 [") == 0; });
    ASSERT_NE(bar, lines.end()) << bytes;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find('%') != std::string::npos; }),
              1)
        << bytes;
    EXPECT_NE(bar->find("] 100%"), std::string::npos) << *bar;
    EXPECT_NE(bar->find("KB/"), std::string::npos) << *bar;  // bytes done of the package's
    ASSERT_NE(bar + 1, lines.end());
    EXPECT_EQ(bar[1], "애드온이 모두 저장되었습니다");

    // A narrow terminal still gets one readable line, no wider than it.
    std::tie(status, bytes) =
        CliOnTerminal({"--id", kMember, "--yes", "--game-folder", game, "install"}, env, 20);
    ASSERT_EQ(status, 0) << bytes;
    Screen narrow(20);
    narrow.Feed(bytes);
    lines = narrow.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "내셋팅 설정 100%"), lines.end()) << bytes;
    EXPECT_NE(
        std::find_if(lines.begin(), lines.end(),
                     [](const std::string& l) { return l.rfind("애드온이 모두 세팅", 0) == 0; }),
        lines.end())
        << bytes;

    // --quiet: a successful command prints nothing.
    std::tie(status, bytes) = CliOnTerminal(
        {"--id", kMember, "--yes", "--quiet", "--game-folder", game, "install", "rollback"}, env,
        72);
    EXPECT_EQ(status, 0) << bytes;
    Screen quiet(72);
    quiet.Feed(bytes);
    lines = quiet.Lines();
    std::erase_if(lines, [](const std::string& l) { return l.empty() || l == "Password: "; });
    EXPECT_TRUE(lines.empty()) << bytes;
}

}  // namespace
}  // namespace skiv::test
