// The service killed, or the line cut, in the middle of an upload. The
// client must report a failure code, never success, and the service must
// still hold the package it held before, whole. (The same faults during a
// download are in nothing_lost_test.cpp.)
//
// All traffic goes through a cutting relay: the service names the relay in
// its upload and download addresses (--public-url).

#include <signal.h>

#include <atomic>

#include "e2e/e2e_fixture.h"
#include "faults/fault_fixture.h"
#include "support/cut_proxy.h"
#include "support/process.h"

namespace skiv::test {
namespace {

constexpr std::size_t kLarge = 8 << 20;  // well beyond the socket buffers on both sides

class TransferFault : public ::testing::Test {
protected:
    TransferFault() : svc({"--public-url", "https://127.0.0.1:" + std::to_string(proxy.Port())}) {
        proxy.SetTarget(svc.Port());
        ::setenv("SKIVADDON_CA_FILE", svc.CaFile().c_str(), 1);
        ::setenv("WINEPREFIX", prefix.path().c_str(), 1);
        ::unsetenv("ProgramFiles");
        // The cuts fall inside one whole-package transfer: the classic
        // exchanges (a delta exchange moves pieces far below the cut).
        ::setenv("SKIVADDON_NO_DELTA", "1", 1);
        svc.AddMember(kMember, kPassword);
    }
    ~TransferFault() override { ::unsetenv("SKIVADDON_NO_DELTA"); }

    std::unique_ptr<Computer> NewComputer() {
        return std::make_unique<Computer>("https://127.0.0.1:" + std::to_string(proxy.Port()));
    }

    // Saves a set from a computer of its own; returns what the service now
    // holds as the pack walk sees it.
    TreeSnapshot StoreSet(unsigned seed, std::size_t big) {
        auto c = NewComputer();
        MakeAddOns(c->game, seed, big);
        c->LogIn();
        c->Press(&Controller::SaveSet);
        EXPECT_EQ(c->ctl.LastWorkerResult(), ResultCode::Ok) << c->window.LastMessage();
        return Packable(BasicPart(SnapshotTree(c->game)));
    }

    // Installs the stored set into a chosen folder of a fresh computer.
    TreeSnapshot FetchStored() {
        auto c = NewComputer();
        c->LogIn();
        EXPECT_TRUE(c->ctl.Session().loggedIn) << c->window.LastMessage();
        c->window.SetTaskOptions({.installIntoFolder = true});
        const std::string into = c->gameDir / "chosen/";
        fs::EnsureFolder(into);
        c->window.QueueFolder(into);
        c->Press(&Controller::InstallSet);
        EXPECT_EQ(c->ctl.LastWorkerResult(), ResultCode::Ok) << c->window.LastMessage();
        TreeSnapshot tree = SnapshotTree(into);
        std::erase_if(tree, [](const auto& kv) { return kv.first.rfind("Backup/", 0) == 0; });
        return tree;
    }

    // A computer logged in with a large set of its own to save, and the
    // session's description of the set stored before.
    std::unique_ptr<Computer> LargeSaver(unsigned seed, SessionState& before) {
        auto c = NewComputer();
        MakeAddOns(c->game, seed, kLarge);
        c->LogIn();
        EXPECT_TRUE(c->ctl.Session().loggedIn) << c->window.LastMessage();
        before.fileSize = c->ctl.Session().fileSize;
        before.fileType = c->ctl.Session().fileType;
        before.saveDate = c->ctl.Session().saveDate;
        return c;
    }

    void RestartService() {
        svc.Restart();
        proxy.SetTarget(svc.Port());
    }

    CutProxy proxy;  // before the service: its port goes on the service's command line
    TempDir prefix;
    ServiceLauncher svc;
};

// What a save that failed in mid-transfer must leave: the session's
// description of the stored set as it was, and a failure shown.
void ExpectFailedSaveKeptSession(Computer& c, const SessionState& before) {
    // A transfer that breaks off is the form client's exception.
    const int r = Number(c.ctl.LastWorkerResult());
    EXPECT_EQ(r, Number(ResultCode::HttpException));
    EXPECT_EQ(c.window.LastMessage(),
              "내 세팅저장 실패:(" + std::to_string(r) + ") - 관리자에게 문의해 주세요");
    EXPECT_EQ(c.ctl.Session().fileSize, before.fileSize);
    EXPECT_EQ(c.ctl.Session().fileType, before.fileType);
    EXPECT_EQ(c.ctl.Session().saveDate, before.saveDate);
}

TEST_F(TransferFault, UploadCutMidwayFailsAndKeepsTheStoredPackage) {
    const TreeSnapshot stored = StoreSet(1, 200 * 1024);
    SessionState before;
    auto c = LargeSaver(2, before);
    ASSERT_TRUE(c->ctl.Session().loggedIn);

    proxy.CutUpstreamAfter(1 << 20);
    c->Press(&Controller::SaveSet);
    proxy.CutUpstreamAfter(0);
    EXPECT_EQ(proxy.Cuts(), 1);
    ExpectFailedSaveKeptSession(*c, before);
    EXPECT_EQ(FetchStored(), stored);
}

TEST_F(TransferFault, ServiceKilledDuringUploadKeepsTheStoredPackage) {
    const TreeSnapshot stored = StoreSet(5, 200 * 1024);
    SessionState before;
    auto c = LargeSaver(6, before);
    ASSERT_TRUE(c->ctl.Session().loggedIn);

    // Runs on the worker thread while the package is being sent.
    std::atomic<bool> killed{false};
    c->window.OnProgress([&](int p) {
        if (p >= 30 && p <= 90 && !killed.exchange(true))
            svc.Kill();
    });
    c->Press(&Controller::SaveSet);
    ASSERT_TRUE(killed);
    ExpectFailedSaveKeptSession(*c, before);

    RestartService();
    EXPECT_EQ(FetchStored(), stored);
}

}  // namespace
}  // namespace skiv::test
