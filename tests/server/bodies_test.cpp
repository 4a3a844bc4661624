// Request bodies and heads as a resource: what no route reads is never
// buffered, encoded bodies are refused unread, oversized heads are cut,
// and a body that trickles is cut at the floor.

#include <gtest/gtest.h>
#include <signal.h>
#include <zlib.h>

#include <cstdio>
#include <thread>

#include "raw_peer.h"
#include "service_test_util.h"

namespace skiv::test {
namespace {

// A gzip stream of `size` zero bytes: small on the wire, huge inflated.
std::string GzipOfZeros(std::size_t size) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::string zeros(1 << 20, '\0'), out;
    char buf[1 << 16];
    for (std::size_t done = 0; done < size; done += zeros.size()) {
        z.next_in = reinterpret_cast<Bytef*>(zeros.data());
        z.avail_in = static_cast<uInt>(zeros.size());
        const int flush = done + zeros.size() >= size ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buf);
            z.avail_out = sizeof buf;
            deflate(&z, flush);
            out.append(buf, sizeof buf - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

std::string PathOf(const std::string& url) {
    return url.substr(url.find('/', std::string("https://").size()));
}

std::string UploadHead(const std::string& path, const std::string& extra, std::size_t length) {
    return "POST " + path +
           " HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=" + TestBoundary() +
           "\r\n" + extra + "Content-Length: " + std::to_string(length) + "\r\n\r\n";
}

TEST(Bodies, FloodsStayOutOfMemoryAndTrickledBodiesAreCut) {
    ::signal(SIGPIPE, SIG_IGN);
    ServiceLauncher svc;
    svc.AddMember("alice", "password1");
    LoginReply session = Login(svc, "alice", "password1");
    ASSERT_EQ(session.error, "0");
    const long long idle = ProcessBytes(svc.Pid(), "VmRSS");
    ASSERT_GT(idle, 0);

    // A real upload that brings 1 KiB a second: below the floor.
    UploadForm form;
    form.fileBytes = std::string(1 << 20, 'p');
    form.memberId = "alice";
    form.memberKey = session.memberkey;
    const std::string body = BuildUploadBody(form, TestBoundary());
    std::vector<RawPeer> trickled;
    trickled.emplace_back(svc.Port());
    ASSERT_TRUE(trickled[0].StartTls());
    ASSERT_TRUE(trickled[0].Send(UploadHead(PathOf(session.uploadUrl), "", body.size())));
    std::thread trickle([&] {
        for (std::size_t at = 0; at < 40 * 1024; at += 1024) {
            if (!trickled[0].Send(body.substr(at, 1024)))
                break;
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });

    // 100 MiB, chunked, to a path with no route.
    {
        RawPeer p(svc.Port());
        ASSERT_TRUE(p.StartTls());
        p.Send("POST /nowhere HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n");
        const std::string chunk = "10000\r\n" + std::string(0x10000, 'c') + "\r\n";
        std::size_t sent = 0;
        while (sent < (100u << 20) && p.Send(chunk))
            sent += 0x10000;
        EXPECT_LT(sent, 100u << 20) << "the service read a body no route takes";
    }
    // A gzip body that inflates to 200 MiB, refused unread.
    {
        RawPeer p(svc.Port());
        ASSERT_TRUE(p.StartTls());
        const std::string bomb = GzipOfZeros(200u << 20);
        p.Send(UploadHead(PathOf(session.uploadUrl), "Content-Encoding: gzip\r\n", bomb.size()));
        p.Send(bomb);
        EXPECT_NE(p.ReadUntilClosed(10).find("<error>1</error>"), std::string::npos);
    }
    // 500,000 header lines.
    {
        RawPeer p(svc.Port());
        ASSERT_TRUE(p.StartTls());
        p.Send("GET / HTTP/1.1\r\nHost: x\r\n");
        std::string lines;
        for (int i = 0; i < 1000; ++i)
            lines += "X-Flood-" + std::to_string(i) + ": " + std::string(56, 'h') + "\r\n";
        int sent = 0;
        while (sent < 500 && p.Send(lines))
            ++sent;
        EXPECT_LT(sent, 500) << "the service kept reading an endless head";
    }
    const long long peak = ProcessBytes(svc.Pid(), "VmHWM");
    EXPECT_LT(peak - idle, 64ll << 20) << "idle " << idle << " peak " << peak;
    std::printf("figures: service RSS %.1f MiB idle, peak %.1f MiB through the floods\n",
                idle / 1048576.0, peak / 1048576.0);

    // The trickled upload is cut within the floor's window and a margin,
    // and leaves nothing stored.
    std::vector<double> closed = WaitForCloses(trickled, 40);
    trickle.join();
    EXPECT_GT(closed[0], 0) << "a body below the floor was never cut";
    std::printf("figures: a body at 1 KiB/s cut %.1f s after its connection opened\n", closed[0]);
    EXPECT_EQ(Login(svc, "alice", "password1").filesize, "0");
}

}  // namespace
}  // namespace skiv::test
