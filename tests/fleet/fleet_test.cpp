// Two service instances behind nginx, as deployed: nginx terminates TLS
// with the repository's configuration and spreads requests over both; the
// instances share their records (and, embedded, one data folder). Requests
// are pinned to an instance by going to its own port where it matters.
//
// Back ends: "embedded" shares one data folder; "engines" adds the
// PostgreSQL and object-store clusters of tests/support/engines/ (started
// once for the suite), or SKIV_FLEET_STORE / SKIV_FLEET_PACKAGES when set.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include "client_address.h"
#include "server/https_client.h"
#include "support/process.h"
#include "support/service_launcher.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace skiv::test {
namespace {

constexpr const char* kPassword = "correct horse";
constexpr const char* kLoginPath = "/skivaddon/actskivaddonlogin.aspx";
constexpr const char* kRegisterPath = "/Member/Common/frmMemberRegist.aspx";

int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool Accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

std::string Url(int port) {
    return "https://127.0.0.1:" + std::to_string(port);
}

// `url` with its scheme, host and port replaced by those of `port`.
std::string OnPort(const std::string& url, int port) {
    const std::size_t path = url.find('/', url.find("://") + 3);
    return Url(port) + url.substr(path);
}

std::string Line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// The back-end engines, started on first use and stopped at exit.
class Engines : public ::testing::Environment {
public:
    static Engines* instance;

    // The arguments and environment selecting the engines; nullopt with
    // `why` set when they cannot be had here.
    std::optional<LaunchOptions> Get(std::string& why) {
        if (!m_tried) {
            m_tried = true;
            Start();
        }
        why = m_why;
        if (!m_why.empty())
            return std::nullopt;
        LaunchOptions o = m_options;
        if (!m_pgDir.empty()) {
            // A database of its own for every test: the cluster is shared,
            // what one test stored must not meet the next.
            const std::string name = "fleet" + std::to_string(++m_databases);
            ProcessResult r =
                RunCommand(ShellQuote(m_pgScript) + " newdb " + ShellQuote(m_pgDir) + " " + name);
            if (r.status != 0) {
                why = "pg_cluster newdb failed: " + r.output;
                m_failed = true;
                return std::nullopt;
            }
            for (std::size_t i = 0; i + 1 < o.storeArgs.size(); ++i)
                if (o.storeArgs[i] == "--store")
                    o.storeArgs[i + 1] = Line(r.output);
        }
        return o;
    }
    void TearDown() override {
        for (const auto& [script, dir] : m_started)
            RunCommand(ShellQuote(script) + " stop " + ShellQuote(dir));
    }

private:
    void Start() {
        const char* store = std::getenv("SKIV_FLEET_STORE");
        const char* packages = std::getenv("SKIV_FLEET_PACKAGES");
        if (store || packages) {
            if (store)
                m_options.storeArgs = {"--store", store};
            if (packages)
                m_options.storeArgs.insert(m_options.storeArgs.end(), {"--packages", packages});
            return;
        }
        const std::string engines = SourceDir() + "/tests/support/engines/";
        for (const char* name : {"pg_cluster", "ceph_cluster"}) {
            const std::string script = engines + name;
            if (::access(script.c_str(), X_OK) != 0) {
                m_why = std::string(name) + " is not in this tree yet";
                return;
            }
            const std::string dir = m_dir / name;
            ProcessResult r = RunCommand(ShellQuote(script) + " start " + ShellQuote(dir));
            if (r.status == 77) {
                m_why = Line(r.output);
                return;
            }
            if (r.status != 0) {
                m_why = std::string(name) + " did not start: " + r.output;
                m_failed = true;
                return;
            }
            m_started.emplace_back(script, dir);
            const std::string url = Line(ReadFile(dir + "/url"));
            const bool pg = std::string(name) == "pg_cluster";
            if (pg) {
                m_pgScript = script;
                m_pgDir = dir;
            }
            m_options.storeArgs.insert(m_options.storeArgs.end(),
                                       {pg ? "--store" : "--packages", url});
            if (!pg) {
                std::ifstream env(dir + "/env");
                for (std::string line; std::getline(env, line);)
                    if (!line.empty())
                        m_options.env.push_back(line);
            }
        }
    }

public:
    bool failed() const { return m_failed; }

private:
    TempDir m_dir;
    bool m_tried = false;
    bool m_failed = false;
    std::string m_why;
    LaunchOptions m_options;
    std::vector<std::pair<std::string, std::string>> m_started;
    std::string m_pgScript, m_pgDir;  // empty unless this class started the cluster
    int m_databases = 0;
};
Engines* Engines::instance =
    static_cast<Engines*>(::testing::AddGlobalTestEnvironment(new Engines));

// nginx as a plain process on a private prefix, with the repository's
// configuration pointed at the test's ports and TLS files.
class Nginx {
public:
    Nginx(const std::string& dir, int port, const std::vector<int>& upstream,
          const std::string& tlsDir)
        : m_dir(dir) {
        std::string site = ReadFile(SourceDir() + "/packaging/nginx/skivaddon.conf");
        auto swap = [&](const std::string& from, const std::string& to) {
            const std::size_t at = site.find(from);
            if (at == std::string::npos)
                throw std::runtime_error("the nginx configuration has no " + from);
            site.replace(at, from.size(), to);
        };
        swap("server 127.0.0.1:8443 ", "server 127.0.0.1:" + std::to_string(upstream[0]) + " ");
        swap("server 127.0.0.1:8444 ", "server 127.0.0.1:" + std::to_string(upstream[1]) + " ");
        swap("listen 443 ssl;", "listen 127.0.0.1:" + std::to_string(port) + " ssl;");
        swap("/etc/skivaddon/front/cert.pem", tlsDir + "server.pem");
        swap("/etc/skivaddon/front/key.pem", tlsDir + "server-key.pem");
        swap("/var/lib/skivaddon/tls/ca.pem", tlsDir + "ca.pem");
        WriteFile(dir + "skivaddon.conf", site);
        WriteFile(dir + "nginx.conf",
                  "daemon off;\nworker_processes 1;\npid " + dir + "nginx.pid;\nerror_log " + dir +
                      "error.log warn;\nevents { worker_connections 512; }\nhttp {\n"
                      "  access_log " +
                      dir + "access.log;\n  client_body_temp_path " + dir +
                      "body;\n  proxy_temp_path " + dir + "proxy;\n  fastcgi_temp_path " + dir +
                      "fastcgi;\n  uwsgi_temp_path " + dir + "uwsgi;\n  scgi_temp_path " + dir +
                      "scgi;\n  include " + dir + "skivaddon.conf;\n}\n");
        m_pid = ::fork();
        if (m_pid == 0) {
            const int log =
                ::open((dir + "stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(log, 1);
            ::dup2(log, 2);
            ::execl(Binary().c_str(), "nginx", "-p", dir.c_str(), "-c",
                    (dir + "nginx.conf").c_str(), "-e", (dir + "error.log").c_str(), nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 200 && !Accepts(port); ++i) {
            int status;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                throw std::runtime_error("nginx did not start: " + Log());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    ~Nginx() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGQUIT);
            int status;
            ::waitpid(m_pid, &status, 0);
        }
    }
    std::string Log() const {
        std::string text;
        for (const char* f : {"stderr.log", "error.log"}) {
            try {
                text += ReadFile(m_dir + f);
            } catch (const std::exception&) {
            }
        }
        return text;
    }
    static std::string Binary() {
        for (const char* path : {"/usr/sbin/nginx", "/usr/bin/nginx"})
            if (::access(path, X_OK) == 0)
                return path;
        return {};
    }

private:
    std::string m_dir;
    pid_t m_pid = -1;
};

struct Session {
    HttpReply http;
    std::string error, memberkey, uploadUrl, downloadUrl, filesize;
};

class Fleet : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (Nginx::Binary().empty())
            GTEST_SKIP() << "skipped: nginx not installed";
        LaunchOptions base;
        if (std::string(GetParam()) == "engines") {
            std::string why;
            auto engines = Engines::instance->Get(why);
            if (!engines) {
                if (Engines::instance->failed())
                    FAIL() << why;
                GTEST_SKIP() << "skipped: " << why;
            }
            base = *engines;
        }
        frontPort = FreePort();
        base.dataDir = m_dir / "data/";
        base.extraArgs = {"--public-url", Url(frontPort),     "--trusted-proxy",
                          "127.0.0.1",    "--max-package-mb", "150"};
        for (int i = 0; i < 2; ++i) {
            LaunchOptions o = base;
            o.port = FreePort();
            svc[i] = std::make_unique<ServiceLauncher>(o);
        }
        front = std::make_unique<Nginx>(m_dir / "nginx/", frontPort,
                                        std::vector<int>{svc[0]->Port(), svc[1]->Port()},
                                        base.dataDir + "tls/");
        ca = svc[0]->CaFile();
        svc[0]->AddMember("alice", kPassword);
    }

    HttpCall Call(const std::string& from = "") const {
        HttpCall c;
        c.caFile = ca;
        c.fromAddress = from;
        return c;
    }
    // Logs in at `base` (an instance or the front).
    Session LogIn(const std::string& base, const std::string& id,
                  const std::string& password = kPassword, const std::string& from = "",
                  std::vector<std::string> headers = {}) const {
        HttpCall c = Call(from);
        c.http10 = true;
        c.headers = std::move(headers);
        Session s;
        s.http =
            PostForm(base + kLoginPath,
                     "avsMemberID=" + FormEncode(id) + "&avsPassword=" + FormEncode(password), c);
        s.error = TagValue(s.http.body, "error");
        s.memberkey = TagValue(s.http.body, "memberkey");
        s.uploadUrl = TagValue(s.http.body, "uploadURL");
        s.downloadUrl = TagValue(s.http.body, "downloadURL");
        s.filesize = TagValue(s.http.body, "filesize");
        return s;
    }
    HttpReply Store(const std::string& url, const Session& s, const std::string& id,
                    const std::string& bytes, long long bytesPerSecond = 0) const {
        UploadForm f;
        f.fileBytes = bytes;
        f.memberId = id;
        f.memberKey = s.memberkey;
        HttpCall c = Call();
        c.maxSendSpeed = bytesPerSecond;
        return PostMultipart(url, TestBoundary(), BuildUploadBody(f, TestBoundary()), c);
    }
    std::string Current(const std::string& base, const std::string& id) const {
        Session s = LogIn(base, id);
        EXPECT_EQ(s.error, "0") << s.http.body;
        HttpReply r = Get(OnPort(s.downloadUrl, PortOf(base)) + id + ".cab", Call());
        EXPECT_EQ(r.status, 200);
        return r.body;
    }
    static int PortOf(const std::string& base) {
        return std::stoi(base.substr(base.rfind(':') + 1));
    }

    std::string Front() const { return Url(frontPort); }
    ProcessResult Cli(const std::string& args) const {
        return RunCommand("SKIVADDON_SERVICE_URL=" + ShellQuote(Front()) + " SKIVADDON_CA_FILE=" +
                              ShellQuote(ca) + " WINEPREFIX=" + ShellQuote(m_dir / "prefix") + " " +
                              CliPath() + " " + args,
                          std::string(kPassword) + "\n");
    }

    TempDir m_dir;
    int frontPort = 0;
    std::unique_ptr<ServiceLauncher> svc[2];
    std::unique_ptr<Nginx> front;
    std::string ca;
};

void MakeSet(const std::string& game, unsigned seed) {
    WriteFile(game + "Launcher.exe", "MZ");
    WriteFile(game + "Interface/AddOns/Bags/Bags.lua", RandomBytes(300000, seed));
    WriteFile(game + "Interface/AddOns/Map/Map.lua", RandomBytes(90000, seed + 1));
    WriteFile(game + "WTF/Account/ME/SavedVariables/Bags.lua", RandomSavedVariables(9000, seed));
}

TEST_P(Fleet, MemberLogsInOnOneUploadsThroughAnotherAndDownloadsAnywhere) {
    // Login on the first, upload on the second, download through the front
    // and from the first.
    Session s = LogIn(svc[0]->BaseUrl(), "alice");
    ASSERT_EQ(s.error, "0") << s.http.body;
    EXPECT_EQ(s.uploadUrl.rfind(Front(), 0), 0u) << s.uploadUrl;
    const std::string bytes = RandomBytes(700 * 1024 + 3, 1);
    HttpReply up = Store(OnPort(s.uploadUrl, svc[1]->Port()), s, "alice", bytes);
    ASSERT_EQ(TagValue(up.body, "error"), "0") << up.body;
    HttpReply down = Get(s.downloadUrl + "alice.cab", Call());
    EXPECT_EQ(down.status, 200) << front->Log();
    EXPECT_TRUE(down.body == bytes);
    EXPECT_TRUE(Get(OnPort(s.downloadUrl, svc[0]->Port()) + "alice.cab", Call()).body == bytes);
    EXPECT_EQ(LogIn(svc[1]->BaseUrl(), "alice").filesize, std::to_string(bytes.size()));

    // The real client through the front: its delta exchanges go to both
    // instances in turn, and the set comes back whole on another computer.
    const std::string gameA = m_dir / "a/", gameB = m_dir / "b/";
    MakeSet(gameA, 10);
    WriteFile(gameB + "Launcher.exe", "MZ");
    for (unsigned round = 0; round < 2; ++round) {
        if (round == 1)
            WriteFile(gameA + "Interface/AddOns/Map/Map.lua", RandomBytes(90000, 77));
        ProcessResult save =
            Cli("--id alice --password-stdin --yes --game-folder " + ShellQuote(gameA) + " save");
        ASSERT_EQ(save.status, 0) << save.output << front->Log();
        ProcessResult install = Cli("--id alice --password-stdin --yes --game-folder " +
                                    ShellQuote(gameB) + " install");
        ASSERT_EQ(install.status, 0) << install.output;
        EXPECT_EQ(SnapshotTree(gameB + "Interface"), SnapshotTree(gameA + "Interface"));
        EXPECT_EQ(SnapshotTree(gameB + "WTF"), SnapshotTree(gameA + "WTF"));
    }
}

TEST_P(Fleet, RegistrationTokensAndLockoutsHoldAcrossInstances) {
    // A form opened on one instance registers on the other, once.
    HttpReply page = Get(svc[0]->BaseUrl() + kRegisterPath, Call());
    const std::string cookie =
        page.Header("Set-Cookie").substr(0, page.Header("Set-Cookie").find(';'));
    const std::string marker = "name=\"csrfToken\" value=\"";
    const std::size_t at = page.body.find(marker) + marker.size();
    const std::string token = page.body.substr(at, page.body.find('"', at) - at);
    auto submit = [&](int i, const std::string& id) {
        HttpCall c = Call();
        c.cookie = cookie;
        return PostForm(
            svc[i]->BaseUrl() + kRegisterPath,
            "memberId=" + id +
                "&password=password1&passwordConfirm=password1&csrfToken=" + FormEncode(token),
            c);
    };
    EXPECT_EQ(submit(1, "newbie").status, 200);
    EXPECT_EQ(submit(0, "newbie2").status, 403);
    EXPECT_EQ(LogIn(svc[0]->BaseUrl(), "newbie", "password1").error, "0");

    // Guesses through the front land on both instances, counted for the
    // guesser's own address: both refuse it, the member elsewhere gets in.
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(LogIn(Front(), "alice", "guess", "127.0.0.2").error, "3") << i;
    EXPECT_EQ(LogIn(svc[0]->BaseUrl(), "alice", kPassword, "127.0.0.2").error, "4");
    EXPECT_EQ(LogIn(svc[1]->BaseUrl(), "alice", kPassword, "127.0.0.2").error, "4");
    EXPECT_EQ(LogIn(Front(), "alice", kPassword, "127.0.0.3").error, "0");

    // A client that is not the proxy cannot name another address.
    for (int i = 0; i < 5; ++i)
        LogIn(svc[i % 2]->BaseUrl(), "alice", "guess", "127.0.0.4", {"X-Forwarded-For: 127.0.0.5"});
    EXPECT_EQ(LogIn(Front(), "alice", kPassword, "127.0.0.5").error, "0");
    EXPECT_EQ(LogIn(svc[0]->BaseUrl(), "alice", kPassword, "127.0.0.4").error, "4");
}

TEST_P(Fleet, SavesOnBothInstancesAtOnceLeaveOneCurrentVersion) {
    for (unsigned round = 0; round < 4; ++round) {
        // A member keeps a few live logins; each round checks with three.
        Session s = LogIn(Front(), "alice");
        ASSERT_EQ(s.error, "0") << s.http.body;
        const std::string sets[2] = {RandomBytes(400 * 1024, 100 + round),
                                     RandomBytes(300 * 1024, 200 + round)};
        HttpReply replies[2];
        std::thread other(
            [&] { replies[1] = Store(OnPort(s.uploadUrl, svc[1]->Port()), s, "alice", sets[1]); });
        replies[0] = Store(OnPort(s.uploadUrl, svc[0]->Port()), s, "alice", sets[0]);
        other.join();
        for (const HttpReply& r : replies)
            ASSERT_EQ(TagValue(r.body, "error"), "0") << r.body << svc[0]->LogText();
        const std::string onFirst = Current(svc[0]->BaseUrl(), "alice");
        EXPECT_TRUE(onFirst == sets[0] || onFirst == sets[1]) << "round " << round;
        EXPECT_TRUE(Current(svc[1]->BaseUrl(), "alice") == onFirst) << "round " << round;
        EXPECT_EQ(LogIn(Front(), "alice").filesize, std::to_string(onFirst.size()));
    }
}

TEST_P(Fleet, InstanceKilledMidUploadTheClientGoesOnThroughTheOther) {
    Session s = LogIn(Front(), "alice");
    ASSERT_EQ(s.error, "0") << s.http.body;
    const std::string first = RandomBytes(200 * 1024, 5);
    ASSERT_EQ(TagValue(Store(s.uploadUrl, s, "alice", first).body, "error"), "0");

    // 6 MiB at 2 MiB/s to the first instance, which dies a second in.
    const std::string second = RandomBytes(6 << 20, 6);
    HttpReply cut;
    std::thread upload(
        [&] { cut = Store(OnPort(s.uploadUrl, svc[0]->Port()), s, "alice", second, 2 << 20); });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    svc[0]->Kill();
    upload.join();
    EXPECT_NE(TagValue(cut.body, "error"), "0");
    EXPECT_TRUE(Current(Front(), "alice") == first);

    // The client logs in again and saves through the front: the survivor
    // takes every request. The killed instance comes back on its port
    // meanwhile; its start must leave the survivor's upload alone.
    Session again = LogIn(Front(), "alice");
    ASSERT_EQ(again.error, "0") << again.http.body;
    HttpReply up;
    std::thread retry([&] { up = Store(again.uploadUrl, again, "alice", second, 2 << 20); });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    svc[0]->Restart();
    retry.join();
    ASSERT_EQ(TagValue(up.body, "error"), "0") << up.body << svc[1]->LogText();
    EXPECT_TRUE(Current(Front(), "alice") == second);
    EXPECT_TRUE(Current(svc[0]->BaseUrl(), "alice") == second);
    EXPECT_TRUE(Current(svc[1]->BaseUrl(), "alice") == second);
}

INSTANTIATE_TEST_SUITE_P(Backends, Fleet, ::testing::Values("embedded", "engines"),
                         [](const auto& info) { return std::string(info.param); });

TEST(ClientAddress, TakenFromForwardedForOnlyForATrustedPeer) {
    using server::ClientAddress;
    const std::vector<std::string> proxies = {"127.0.0.1", "10.0.0.2"};
    EXPECT_EQ(ClientAddress("127.0.0.1", "203.0.113.9", proxies), "203.0.113.9");
    // The proxy appends the peer it saw; what the client wrote comes first.
    EXPECT_EQ(ClientAddress("10.0.0.2", "1.2.3.4, 203.0.113.9 ", proxies), "203.0.113.9");
    EXPECT_EQ(ClientAddress("::ffff:10.0.0.2", "2001:db8::7", proxies), "2001:db8::7");
    EXPECT_EQ(ClientAddress("198.51.100.1", "203.0.113.9", proxies), "198.51.100.1");
    EXPECT_EQ(ClientAddress("127.0.0.1", "unknown", proxies), "127.0.0.1");
    EXPECT_EQ(ClientAddress("127.0.0.1", "", proxies), "127.0.0.1");
}

}  // namespace
}  // namespace skiv::test
