// Connections as a resource: idle sockets, unfinished handshakes and
// trickled request heads must neither starve members nor stay open past
// their deadline.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "raw_peer.h"
#include "service_test_util.h"
#include "support/temp_dir.h"

namespace skiv::test {
namespace {

using Clock = std::chrono::steady_clock;

// The service's deadline for a TLS handshake plus the first request head,
// and a margin for a loaded machine.
constexpr double kHeadSeconds = 10;
constexpr double kMargin = 15;

// Flood peers come from many loopback addresses, fewer per address than
// the per-address cap, so that only the global resources are under test.
std::string FloodSource(int i) {
    return "127.0.10." + std::to_string(1 + i % 50);
}

struct Timed {
    bool ok = false;
    double seconds = 0;
};

Timed LoginAndDownload(const ServiceLauncher& svc, const std::string& expected, Timed& download) {
    Timed login;
    Clock::time_point t = Clock::now();
    LoginReply r = Login(svc, "alice", "password1");
    login.seconds = std::chrono::duration<double>(Clock::now() - t).count();
    login.ok = r.error == "0";
    t = Clock::now();
    HttpReply d = Fetch(svc, r.downloadUrl + "alice.cab");
    download.seconds = std::chrono::duration<double>(Clock::now() - t).count();
    download.ok = d.status == 200 && d.body == expected;
    return login;
}

TEST(Connections, FloodsDoNotStarveMembersAndEndAtTheirDeadline) {
    RaiseFileLimit();
    ServiceLauncher svc;
    svc.AddMember("alice", "password1");
    LoginReply session = Login(svc, "alice", "password1");
    ASSERT_EQ(session.error, "0");
    UploadForm form;
    form.fileBytes = RandomBytes(20u << 20, 7);
    form.memberId = "alice";
    form.memberKey = session.memberkey;
    ASSERT_EQ(TagValue(Upload(svc, session.uploadUrl, form).body, "error"), "0");

    Timed normalDownload;
    Timed normalLogin = LoginAndDownload(svc, form.fileBytes, normalDownload);
    ASSERT_TRUE(normalLogin.ok && normalDownload.ok);

    // 1,000 idle TCP connections, 200 handshakes stopped after a few bytes
    // of the client hello, 200 request heads trickled a line a second.
    std::vector<RawPeer> idle, half, slow;
    for (int i = 0; i < 1000; ++i)
        idle.emplace_back(svc.Port(), FloodSource(i));
    const std::string helloStart("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11);
    for (int i = 0; i < 200; ++i) {
        half.emplace_back(svc.Port(), FloodSource(i + 7));
        ASSERT_TRUE(half.back().SendRaw(helloStart));
    }
    for (int i = 0; i < 200; ++i) {
        slow.emplace_back(svc.Port(), FloodSource(i + 13));
        ASSERT_TRUE(slow.back().StartTls()) << "handshake " << i;
        slow.back().Send("GET / HTTP/1.1\r\n");
    }
    std::atomic<bool> trickling{true};
    std::thread trickle([&] {
        for (int line = 0; trickling && line < 120; ++line) {
            for (auto& p : slow)
                p.Send("X-Slow-" + std::to_string(line) + ": 1\r\n");
            for (int i = 0; i < 10 && trickling; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    Timed floodDownload;
    Timed floodLogin = LoginAndDownload(svc, form.fileBytes, floodDownload);
    EXPECT_TRUE(floodLogin.ok);
    EXPECT_TRUE(floodDownload.ok);
    EXPECT_LT(floodLogin.seconds, normalLogin.seconds + 2) << "normal " << normalLogin.seconds;
    EXPECT_LT(floodDownload.seconds, normalDownload.seconds + 2)
        << "normal " << normalDownload.seconds;

    std::printf(
        "figures: login %.2f s normal, %.2f s under flood; 20 MiB download %.2f s "
        "normal, %.2f s under flood\n",
        normalLogin.seconds, floodLogin.seconds, normalDownload.seconds, floodDownload.seconds);
    for (auto* group : {&idle, &half, &slow}) {
        std::vector<double> closed = WaitForCloses(*group, kHeadSeconds + kMargin);
        int late = 0;
        double last = 0;
        for (double s : closed) {
            late += (s < 0 || s > kHeadSeconds + kMargin) ? 1 : 0;
            last = std::max(last, s);
        }
        EXPECT_EQ(late, 0) << "of " << group->size() << " flood connections still open";
        std::printf("figures: %zu flood connections, the last closed %.1f s after it opened\n",
                    group->size(), last);
    }
    trickling = false;
    trickle.join();

    // A kept-alive connection that asks nothing more is closed too.
    RawPeer kept(svc.Port());
    ASSERT_TRUE(kept.StartTls());
    kept.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_NE(kept.ReadUntil("</html>", 10).find("200 OK"), std::string::npos);
    std::vector<RawPeer> one;
    one.push_back(std::move(kept));
    const double idleSeconds = WaitForCloses(one, 5 + kMargin)[0];
    EXPECT_GT(idleSeconds, 0);
}

// Past the per-address cap, connections from that address are turned away
// while other addresses are still served.
TEST(Connections, PerAddressCapTurnsAwayOnlyThatAddress) {
    ServiceLauncher svc({"--max-connections-per-address", "5"});
    svc.AddMember("alice", "password1");
    std::vector<RawPeer> hog;
    for (int i = 0; i < 5; ++i)
        hog.emplace_back(svc.Port(), "127.0.20.1");
    RawPeer extra(svc.Port(), "127.0.20.1");
    EXPECT_FALSE(extra.StartTls());
    EXPECT_EQ(Login(svc, "alice", "password1").error, "0");
}

// Password checks run on a bounded pool: a burst beyond its queue is
// answered "busy" (error 2) at once instead of piling up, and the rest
// are served.
TEST(Connections, LoginBurstBeyondTheCheckQueueIsAnsweredBusy) {
    ServiceLauncher svc({"--hash-queue", "1", "--hash-memory-kib", "65536", "--hash-passes", "3"});
    svc.AddMember("alice", "password1");
    std::vector<std::string> errors(12);
    std::vector<std::thread> burst;
    for (std::size_t i = 0; i < errors.size(); ++i)
        burst.emplace_back([&, i] { errors[i] = Login(svc, "alice", "password1").error; });
    for (auto& t : burst)
        t.join();
    const auto count = [&](const char* e) { return std::count(errors.begin(), errors.end(), e); };
    EXPECT_GT(count("0"), 0);
    EXPECT_GT(count("2"), 0);
    EXPECT_EQ(count("0") + count("2"), static_cast<long>(errors.size()));
    EXPECT_EQ(Login(svc, "alice", "password1").error, "0");
}

}  // namespace
}  // namespace skiv::test
