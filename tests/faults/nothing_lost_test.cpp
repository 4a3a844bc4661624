// Every failure we can provoke through an install, against the real
// service: afterwards the game folder holds exactly the set it held before
// or exactly the new one, file by file, and nothing of the install's own
// working folders is left behind. (A process killed at each step is in
// crash_test.cpp, a read-only game folder in disk_fault_test.cpp.)

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>

#include "e2e/e2e_fixture.h"
#include "faults/fault_fixture.h"
#include "support/cut_proxy.h"
#include "support/process.h"

namespace skiv::test {
namespace {

namespace stdfs = std::filesystem;

constexpr std::size_t kStoredBig = 600 * 1024;  // many transfer and gzip chunks

// A process of this user named like the game: a copy of sleep(1).
class FakeGame {
public:
    FakeGame() {
        const std::string exe = m_dir / "Wow.exe";
        stdfs::copy_file("/bin/sleep", exe);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl(exe.c_str(), "Wow.exe", "60", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // The name shows in /proc once exec is done.
        for (int i = 0;
             i < 200 && ReadFile("/proc/" + std::to_string(m_pid) + "/comm") != "Wow.exe\n"; ++i)
            ::usleep(5000);
    }
    ~FakeGame() {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }

private:
    TempDir m_dir;
    pid_t m_pid = -1;
};

class NothingLost : public ::testing::Test {
public:
    NothingLost() : svc({"--public-url", "https://127.0.0.1:" + std::to_string(proxy.Port())}) {
        proxy.SetTarget(svc.Port());
        ::setenv("SKIVADDON_CA_FILE", svc.CaFile().c_str(), 1);
        ::setenv("WINEPREFIX", prefix.path().c_str(), 1);
        ::unsetenv("ProgramFiles");
        // The classic exchanges, whose download the service's record checks
        // (a delta install is checked against its manifest instead).
        ::setenv("SKIVADDON_NO_DELTA", "1", 1);
        svc.AddMember(kMember, kPassword);
        // The set the service holds, saved from another computer.
        auto other = NewComputer();
        MakeAddOns(other->game, 1, kStoredBig);
        other->LogIn();
        other->Press(&Controller::SaveSet);
        EXPECT_EQ(other->ctl.LastWorkerResult(), ResultCode::Ok);
        stored = Packable(BasicPart(SnapshotTree(other->game)));
    }

    ~NothingLost() override { ::unsetenv("SKIVADDON_NO_DELTA"); }

    std::unique_ptr<Computer> NewComputer() {
        return std::make_unique<Computer>("https://127.0.0.1:" + std::to_string(proxy.Port()));
    }

    // The stored pieces of the member's versions ("p.<member>.<sha256>").
    std::vector<std::string> StoredPieces() const {
        std::vector<std::string> pieces;
        for (const auto& e : stdfs::directory_iterator(svc.DataDir() + "packages")) {
            if (e.is_regular_file() && e.path().filename().string().rfind("p.", 0) == 0)
                pieces.push_back(e.path());
        }
        return pieces;
    }

    CutProxy proxy;
    TempDir prefix;
    ServiceLauncher svc;
    TreeSnapshot stored;
};

struct Failure {
    const char* name;
    // Done after the login, before the install is pressed.
    std::function<void(NothingLost&, Computer&)> provoke;
    int code;             // the worker's result; 0: the command refuses, no worker
    const char* message;  // the last message the player sees
};

void CutAt(NothingLost& t, Computer& c, int percent) {
    t.proxy.CutDownstreamAfter(std::uint64_t(c.ctl.Session().fileSize) * percent / 100);
}

// Every stored piece loses its last byte or has one changed.
void DamageStored(NothingLost& t, bool shorten) {
    const std::vector<std::string> pieces = t.StoredPieces();
    ASSERT_FALSE(pieces.empty());
    for (const std::string& path : pieces) {
        std::string bytes = ReadFile(path);
        if (shorten)
            bytes.pop_back();
        else
            bytes[bytes.size() / 2] ^= 0x01;
        WriteFile(path, bytes);
    }
}

constexpr const char* kMismatch =
    "내려받은 애드온 파일이 서버에 저장된 것과 다릅니다:(1041)\n게임 폴더는 바뀌지 "
    "않았습니다. 잠시 후 다시 시도해 주세요.";

const Failure kFailures[] = {
    {"ServiceStopped", [](NothingLost& t, Computer&) { t.svc.Stop(); }, 1032,
     "애드온 세팅 실패:(1032)"},
    {"CutAt10", [](NothingLost& t, Computer& c) { CutAt(t, c, 10); }, 1032,
     "애드온 세팅 실패:(1032)"},
    {"CutAt50", [](NothingLost& t, Computer& c) { CutAt(t, c, 50); }, 1032,
     "애드온 세팅 실패:(1032)"},
    {"CutAt90", [](NothingLost& t, Computer& c) { CutAt(t, c, 90); }, 1032,
     "애드온 세팅 실패:(1032)"},
    // The store knows each piece's size: a short one is refused before a
    // byte is sent (status 500), a changed one reaches the client's check.
    {"OneByteShort", [](NothingLost& t, Computer&) { DamageStored(t, true); }, 1035,
     "애드온 세팅 실패:(1035)"},
    {"OneByteChanged", [](NothingLost& t, Computer&) { DamageStored(t, false); }, 1041, kMismatch},
};

class InstallFailure : public NothingLost, public ::testing::WithParamInterface<Failure> {};

TEST_P(InstallFailure, LeavesExactlyTheSetBefore) {
    const Failure& f = GetParam();
    auto c = NewComputer();
    MakeAddOns(c->game, 2, 5000);
    const TreeSnapshot before = SnapshotTree(c->game);
    c->LogIn();
    ASSERT_TRUE(c->ctl.Session().loggedIn) << c->window.LastMessage();
    ASSERT_TRUE(c->ctl.Session().packageCheck.has_value());

    f.provoke(*this, *c);
    c->Press(&Controller::InstallSet);
    EXPECT_EQ(Number(c->ctl.LastWorkerResult()), f.code);
    EXPECT_EQ(c->window.LastMessage(), f.message);
    const TreeSnapshot after = SnapshotTree(c->game);
    EXPECT_EQ(AddOnPart(after), AddOnPart(before));
    for (const char* gone : {"SkivAddonStaging/", "SkivAddonReplaced/"})
        EXPECT_FALSE(fs::Exists(c->game + gone)) << gone;
    // Nothing was replaced, so there is nothing to roll back to.
    EXPECT_FALSE(c->ctl.Session().backupMade);

    // Once the fault is gone the same install goes through.
    proxy.CutDownstreamAfter(0);
    if (!svc.Running()) {
        svc.Restart();
        proxy.SetTarget(svc.Port());
    }
    if (f.code == 1041 || f.code == 1035)
        return;  // the service's copy stays damaged; it keeps being refused
    c->LogIn();
    c->Press(&Controller::InstallSet);
    EXPECT_EQ(c->window.LastMessage(), "애드온이 모두 세팅되었습니다");
    EXPECT_EQ(BasicPart(SnapshotTree(c->game)), stored);
}

INSTANTIATE_TEST_SUITE_P(Faults, InstallFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// The game running: install, roll back and reset refuse before they start,
// save only warns. Gone again, the install goes through.
TEST_F(NothingLost, RunningGameRefusesInstallRollbackAndReset) {
    auto c = NewComputer();
    MakeAddOns(c->game, 3, 5000);
    const TreeSnapshot before = SnapshotTree(c->game);
    c->LogIn();
    {
        FakeGame game;
        const std::string refusal =
            "게임(Wow.exe)이 실행 중입니다. 게임을 종료한 뒤 다시 시도해 주세요.";
        c->ctl.Session().backupMade = true;
        for (auto command : {&Controller::InstallSet, &Controller::RollBack}) {
            c->Press(command);
            EXPECT_EQ(c->window.LastMessage(), refusal);
        }
        c->window.SetTaskOptions({.rollBack = RollBackChoice::DeleteOnly});
        c->Press(&Controller::RollBack);
        EXPECT_EQ(c->window.LastMessage(), refusal);
        EXPECT_EQ(c->ctl.WorkersStarted(), 0u);
        EXPECT_EQ(SnapshotTree(c->game), before);

        c->window.QueueAnswer(false);  // the save's own question
        c->Press(&Controller::SaveSet);
        EXPECT_NE(c->window.Messages().back().find("SavedVariables"), std::string::npos);
        EXPECT_EQ(c->ctl.WorkersStarted(), 0u);
    }
    c->ctl.Session().backupMade = false;
    c->window.SetTaskOptions({});
    c->Press(&Controller::InstallSet);
    EXPECT_EQ(c->window.LastMessage(), "애드온이 모두 세팅되었습니다");
    EXPECT_EQ(BasicPart(SnapshotTree(c->game)), stored);
}

// ---- a disk that fills up while the new set is unpacked ---------------------

// The game folder lies on a small file system of its own (a tmpfs in a
// private mount namespace of the child): room for the package, its archive
// and the backup, but not for the staged set as well.
TEST(NothingLostDisk, FullDiskDuringTheStagedUnpackKeepsTheOldSet) {
    if (::geteuid() != 0 || RunCommand("unshare -m true").status != 0)
        GTEST_SKIP() << "needs root and mount namespaces for a small file system";
    TempDir prefix, place;
    ::setenv("WINEPREFIX", prefix.path().c_str(), 1);
    ::unsetenv("ProgramFiles");
    ::unsetenv("SKIVADDON_CA_FILE");
    ::unsetenv("SKIVADDON_SERVICE_URL");
    ServiceLauncher svc;
    svc.AddMember(kFaultMember, kFaultPassword);
    const std::string other = place / "other/";
    MakeAddOns(other, 4, 400 * 1024);  // random: the package is as large as the set
    ASSERT_TRUE(RunAccount(svc, {"--game-folder", other, "save"}).Exited(0));

    const std::string source = place / "source/", game = place / "game/", out = place / "out/";
    MakeAddOns(source, 5, 2000);
    stdfs::create_directories(game);
    stdfs::create_directories(out);
    // Mounts, copies the set in, runs the program, copies the result out.
    const std::string script = "mount -t tmpfs -o size=1000k tmpfs " + ShellQuote(game) +
                               " && cp -a " + ShellQuote(source + ".") + " " + ShellQuote(game) +
                               " && \"$@\"; rc=$?; cp -a " + ShellQuote(game + ".") + " " +
                               ShellQuote(out) + "; exit $rc";
    ChildResult r =
        RunAccount(svc, {"--game-folder", game, "install"}, {},
                   {"unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh"});
    ASSERT_TRUE(r.Exited(1)) << r.Describe();
    // The staged unpack ran out of room (the download and backup did not).
    EXPECT_NE(r.output.find("install failed: (4)"), std::string::npos) << r.Describe();
    const TreeSnapshot before = SnapshotTree(source), after = SnapshotTree(out);
    EXPECT_EQ(AddOnPart(after), AddOnPart(before));
    EXPECT_FALSE(stdfs::exists(out + "SkivAddonStaging"));
    bool ok = false;
    EXPECT_EQ(UnpackWithCli(out + "Backup/SkivAddonBackup.kso", ok), Packable(AddOnPart(before)));
    EXPECT_TRUE(ok);
}

}  // namespace
}  // namespace skiv::test
