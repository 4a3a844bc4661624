// Upload and download of packages against the real service binary.

#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <thread>
#include <vector>

#include "raw_peer.h"
#include "service_test_util.h"
#include "support/faults.h"
#include "support/process.h"

namespace skiv::test {
namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_type == DT_REG)
                names.push_back(e->d_name);
        }
        ::closedir(d);
    }
    return names;
}

// Package bytes that also hold the boundary and part-header look-alikes, so
// a parser that cuts at the wrong place is caught.
std::string TrickyPackage(std::size_t size, unsigned seed) {
    std::string bytes = RandomBytes(size, seed);
    const std::string traps[] = {"\r\n--" + TestBoundary().substr(0, 20), "\r\n--", "\r\n\r\n",
                                 "--" + TestBoundary() + "-", "\r"};
    std::size_t at = 0;
    for (const auto& t : traps) {
        at += size / 7;
        if (at + t.size() < bytes.size())
            bytes.replace(at, t.size(), t);
    }
    return bytes;
}

class PackageTest : public ::testing::Test {
protected:
    explicit PackageTest(std::vector<std::string> args = {}) : svc(std::move(args)) {}
    void SetUp() override {
        svc.AddMember("alice", "password1");
        session = Login(svc, "alice", "password1");
        ASSERT_EQ(session.error, "0") << session.http.body;
    }
    UploadForm Form(std::string bytes, const std::string& type = "1") {
        UploadForm f;
        f.fileType = type;
        f.fileBytes = std::move(bytes);
        f.memberId = "alice";
        f.memberKey = session.memberkey;
        return f;
    }
    std::string Package() { return session.downloadUrl + "alice.cab"; }
    void StoreFirst(const std::string& bytes) {
        HttpReply up = Upload(svc, session.uploadUrl, Form(bytes));
        ASSERT_EQ(TagValue(up.body, "error"), "0") << up.body;
    }

    ServiceLauncher svc;
    LoginReply session;
};

TEST_F(PackageTest, UploadThenDownloadIsByteExactAndShowsAtNextLogin) {
    const std::string bytes = TrickyPackage(700 * 1024 + 13, 7);
    HttpReply up = Upload(svc, session.uploadUrl, Form(bytes, "2"));
    ASSERT_EQ(up.curlCode, 0);
    EXPECT_EQ(up.status, 200);
    EXPECT_EQ(up.body.find("<error>0</error>"), 0u) << up.body;

    HttpReply down = Fetch(svc, Package());
    EXPECT_EQ(down.status, 200);
    EXPECT_EQ(down.Header("Content-Length"), std::to_string(bytes.size()));
    EXPECT_TRUE(down.body == bytes) << "downloaded " << down.body.size() << " bytes";

    LoginReply next = Login(svc, "alice", "password1");
    EXPECT_EQ(next.filesize, std::to_string(bytes.size()));
    EXPECT_EQ(next.filetype, "2");
    EXPECT_TRUE(Shaped(next.savedate, "####-##-## ##:##")) << next.savedate;

    // A second upload becomes the current version; the first is kept as
    // the version before it, each in a piece file of its own.
    const std::string second = RandomBytes(5000, 8);
    ASSERT_EQ(TagValue(Upload(svc, session.uploadUrl, Form(second)).body, "error"), "0");
    EXPECT_TRUE(Fetch(svc, Package()).body == second);
    EXPECT_EQ(FilesIn(svc.DataDir() + "packages").size(), 2u);
}

TEST_F(PackageTest, WrongOrForeignKeyGetsFourAndKeepsThePackage) {
    const std::string old = RandomBytes(3000, 1);
    StoreFirst(old);
    UploadForm bad = Form(RandomBytes(2000, 2));
    bad.memberKey = std::string(64, 'a');
    HttpReply r = Upload(svc, session.uploadUrl, bad);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(TagValue(r.body, "error"), "4");
    EXPECT_FALSE(TagValue(r.body, "errormsg").empty());

    // Another member's valid key does not open alice's package.
    svc.AddMember("bob", "password2");
    LoginReply bob = Login(svc, "bob", "password2");
    bad.memberKey = bob.memberkey;
    EXPECT_EQ(TagValue(Upload(svc, session.uploadUrl, bad).body, "error"), "4");

    // A suspended member's key stops working.
    svc.Suspend("alice");
    EXPECT_EQ(TagValue(Upload(svc, session.uploadUrl, Form("x")).body, "error"), "4");
    EXPECT_EQ(Fetch(svc, Package()).status, 403);
    svc.Resume("alice");
    session = Login(svc, "alice", "password1");
    EXPECT_TRUE(Fetch(svc, Package()).body == old);
}

TEST_F(PackageTest, MalformedUploadsGetOneAndKeepThePackage) {
    const std::string old = RandomBytes(3000, 3);
    StoreFirst(old);

    UploadForm noKey = Form("new");
    noKey.includeKey = false;
    EXPECT_EQ(TagValue(Upload(svc, session.uploadUrl, noKey).body, "error"), "1");

    EXPECT_EQ(TagValue(Upload(svc, session.uploadUrl, Form("new", "3")).body, "error"), "1");

    // An empty file part is what a client sends when it could not read its
    // own package; it must not wipe the stored one.
    EXPECT_EQ(TagValue(Upload(svc, session.uploadUrl, Form("")).body, "error"), "1");

    // Without the closing boundary the body is incomplete.
    UploadForm unclosed = Form("new bytes");
    unclosed.closing = false;
    EXPECT_EQ(TagValue(Upload(svc, session.uploadUrl, unclosed).body, "error"), "1");

    // Not multipart at all.
    HttpCall call;
    call.caFile = svc.CaFile();
    HttpReply form = PostForm(session.uploadUrl, "avsMemberID=alice", call);
    EXPECT_EQ(form.status, 200);
    EXPECT_EQ(TagValue(form.body, "error"), "1");

    EXPECT_TRUE(Fetch(svc, Package()).body == old);
}

TEST_F(PackageTest, DownloadNeedsTheMembersCapability) {
    // Nothing stored yet.
    EXPECT_EQ(Fetch(svc, Package()).status, 404);
    StoreFirst("stored bytes");
    EXPECT_EQ(Fetch(svc, Package()).status, 200);

    // The member ID alone fetches nothing.
    EXPECT_EQ(Fetch(svc, svc.BaseUrl() + "/skivaddon/alice.cab").status, 404);
    EXPECT_EQ(Fetch(svc, svc.BaseUrl() + "/skivaddon/dl/alice.cab").status, 404);
    EXPECT_EQ(
        Fetch(svc, svc.BaseUrl() + "/skivaddon/dl/" + std::string(64, '0') + "/alice.cab").status,
        403);
    // A capability is bound to its member.
    svc.AddMember("bob", "password2");
    LoginReply bob = Login(svc, "bob", "password2");
    EXPECT_EQ(Fetch(svc, bob.downloadUrl + "alice.cab").status, 403);
    EXPECT_EQ(Fetch(svc, bob.downloadUrl + "bob.cab").status, 404);
    // The ID may be typed in another case, as at login.
    EXPECT_EQ(Fetch(svc, session.downloadUrl + "ALICE.cab").body, "stored bytes");
}

TEST_F(PackageTest, ConnectionCutMidUploadKeepsTheOldPackage) {
    const std::string old = RandomBytes(4000, 4);
    StoreFirst(old);
    const std::string next = RandomBytes(400 * 1024, 5);
    HttpReply cut = Upload(svc, session.uploadUrl, Form(next), 200 * 1024);
    EXPECT_NE(cut.curlCode, 0);

    EXPECT_TRUE(Fetch(svc, Package()).body == old);
    EXPECT_EQ(Login(svc, "alice", "password1").filesize, std::to_string(old.size()));
    // Once stopped (in-flight requests finished), no temporary file is left.
    EXPECT_EQ(svc.Stop(), 0);
    EXPECT_TRUE(FilesIn(svc.DataDir() + "packages/incoming").empty());
    EXPECT_EQ(FilesIn(svc.DataDir() + "packages").size(), 1u);
}

// The service killed while a package streams in: after a restart the old
// package is served and the half-written one is gone. curl is held to a
// slow rate so that the kill lands in the middle of the body.
TEST_F(PackageTest, KilledMidUploadKeepsTheOldPackageAndLeavesNoTemporary) {
    const std::string old = RandomBytes(4000, 14);
    StoreFirst(old);
    TempDir dir;
    WriteFile(dir / "next.ksp", RandomBytes(8 << 20, 15));
    std::thread client([&] {
        RunCommand("curl -s --limit-rate 1M --cacert " + ShellQuote(svc.CaFile()) +
                   " -F aviFileType=1 -F avoFileName=@" + ShellQuote(dir / "next.ksp") +
                   " -F avsMemberID=alice -F avsMemberKey=" + session.memberkey + " " +
                   ShellQuote(session.uploadUrl));
    });
    const std::string incoming = svc.DataDir() + "packages/incoming";
    bool streaming = false;
    for (int i = 0; i < 2000 && !streaming; ++i) {
        streaming = !FilesIn(incoming).empty();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    svc.Kill();
    client.join();
    ASSERT_TRUE(streaming) << "the upload never reached the service";

    svc.Restart();
    EXPECT_TRUE(FilesIn(incoming).empty());
    EXPECT_EQ(FilesIn(svc.DataDir() + "packages").size(), 1u);
    session = Login(svc, "alice", "password1");
    EXPECT_EQ(session.filesize, std::to_string(old.size()));
    EXPECT_TRUE(Fetch(svc, Package()).body == old);
}

// IDs that try to reach files or statements name no member: each request
// gets the answer for an unknown member, and nothing outside alice's own
// package is read or written.
TEST_F(PackageTest, HostileMemberIdsReachNothing) {
    StoreFirst("alice's bytes");
    for (const std::string id : {"../alice", "alice/../alice", "alice' OR '1'='1", "alice\"; --"}) {
        EXPECT_EQ(Login(svc, id, "password1").error, "3") << id;
        UploadForm f = Form("hostile");
        f.memberId = id;
        EXPECT_EQ(TagValue(Upload(svc, session.uploadUrl, f).body, "error"), "4") << id;
    }
    EXPECT_EQ(Fetch(svc, session.downloadUrl + "..%2Falice.cab").status, 404);
    EXPECT_EQ(Fetch(svc, session.downloadUrl + "../alice.cab").status, 404);
    EXPECT_TRUE(Fetch(svc, Package()).body == "alice's bytes");
    EXPECT_EQ(FilesIn(svc.DataDir() + "packages").size(), 1u);
}

// A disk that fills while a package is stored: error 2, the old package
// kept. The ceiling on file sizes is inherited by the service.
TEST(PackageDiskTest, FullDiskWhileStoringGetsTwoAndKeepsTheOldPackage) {
    FileSizeCeiling ceiling(1 << 20);
    ServiceLauncher svc;
    svc.AddMember("alice", "password1");
    LoginReply session = Login(svc, "alice", "password1");
    ASSERT_EQ(session.error, "0") << session.http.body;
    UploadForm f;
    f.memberId = "alice";
    f.memberKey = session.memberkey;
    f.fileBytes = RandomBytes(3000, 16);
    ASSERT_EQ(TagValue(Upload(svc, session.uploadUrl, f).body, "error"), "0");
    const std::string old = f.fileBytes;

    f.fileBytes = RandomBytes(3 << 20, 17);
    HttpReply full = Upload(svc, session.uploadUrl, f);
    EXPECT_EQ(TagValue(full.body, "error"), "2") << full.body;
    EXPECT_FALSE(TagValue(full.body, "errormsg").empty());
    EXPECT_TRUE(Fetch(svc, session.downloadUrl + "alice.cab").body == old);
    EXPECT_EQ(Login(svc, "alice", "password1").filesize, std::to_string(old.size()));
    EXPECT_TRUE(FilesIn(svc.DataDir() + "packages/incoming").empty());
}

TEST_F(PackageTest, ConcurrentUploadsAndDownloadsKeepEachMembersBytes) {
    constexpr int kMembers = 4;
    std::vector<LoginReply> sessions;
    std::vector<std::string> bytes;
    for (int i = 0; i < kMembers; ++i) {
        std::string id = "member" + std::to_string(i);
        svc.AddMember(id, "password" + std::to_string(i));
        sessions.push_back(Login(svc, id, "password" + std::to_string(i)));
        bytes.push_back(RandomBytes(150 * 1024 + static_cast<std::size_t>(i), 100 + i));
    }
    std::vector<std::string> results(kMembers);
    std::vector<std::string> downloads(kMembers);
    std::vector<std::thread> threads;
    for (int i = 0; i < kMembers; ++i) {
        threads.emplace_back([&, i] {
            UploadForm f;
            f.fileBytes = bytes[i];
            f.memberId = "member" + std::to_string(i);
            f.memberKey = sessions[i].memberkey;
            results[i] = TagValue(Upload(svc, sessions[i].uploadUrl, f).body, "error");
            downloads[i] = Fetch(svc, sessions[i].downloadUrl + f.memberId + ".cab").body;
        });
    }
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < kMembers; ++i) {
        EXPECT_EQ(results[i], "0") << i;
        EXPECT_TRUE(downloads[i] == bytes[i]) << i;
    }
}

class SmallLimitTest : public PackageTest {
protected:
    SmallLimitTest() : PackageTest({"--max-package-mb", "1"}) {}
};

TEST_F(SmallLimitTest, TooLargePackageGetsThreeAndKeepsTheOldOne) {
    const std::string old = RandomBytes(1000, 6);
    StoreFirst(old);
    // Exactly the limit is accepted; one byte more is not.
    const std::string atLimit = RandomBytes(1 << 20, 9);
    EXPECT_EQ(TagValue(Upload(svc, session.uploadUrl, Form(atLimit)).body, "error"), "0");
    HttpReply big = Upload(svc, session.uploadUrl, Form(RandomBytes((1 << 20) + 1, 10)));
    EXPECT_EQ(big.curlCode, 0) << "the client must get to read the answer";
    EXPECT_EQ(big.status, 200);
    EXPECT_EQ(TagValue(big.body, "error"), "3");
    EXPECT_FALSE(TagValue(big.body, "errormsg").empty());
    EXPECT_TRUE(Fetch(svc, Package()).body == atLimit);
    EXPECT_TRUE(FilesIn(svc.DataDir() + "packages/incoming").empty());
}

// Uploads are admitted at the request head: without the pass a login hands
// out in the upload address, nothing reaches the disk however much body
// is sent; with it, the file streams in at once.
TEST_F(PackageTest, UploadsWithoutAGenuinePassNeverReachTheDisk) {
    EXPECT_EQ(
        TagValue(Upload(svc, svc.BaseUrl() + "/skivaddon/upload.aspx", Form("x")).body, "error"),
        "4");
    const std::string incoming = svc.DataDir() + "packages/incoming";
    const std::string body = BuildUploadBody(Form(RandomBytes(2 << 20, 30)), TestBoundary());
    const std::string pass = session.uploadUrl.substr(session.uploadUrl.find("?k=") + 3);
    std::string forged = pass;
    forged.back() = forged.back() == '0' ? '1' : '0';
    for (const std::string& query : {std::string(), "?k=" + forged, "?k=" + pass}) {
        RawPeer p(svc.Port());
        ASSERT_TRUE(p.StartTls());
        ASSERT_TRUE(p.Send("POST /skivaddon/upload.aspx" + query +
                           " HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=" +
                           TestBoundary() + "\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n\r\n" + body.substr(0, 1 << 20)));
        bool written = false;
        for (int i = 0; i < 200 && !written; ++i) {
            written = !FilesIn(incoming).empty();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(written, query == "?k=" + pass) << query;
    }
}

// A Range header is not honoured: the whole package, 200.
TEST_F(PackageTest, RangeRequestsGetTheWholePackage) {
    const std::string bytes = RandomBytes(2 << 20, 31);
    StoreFirst(bytes);
    for (const char* range :
         {"Range: bytes=5000000-", "Range: bytes=0-9,20-29", "Range: bytes=10-"}) {
        HttpCall call;
        call.caFile = svc.CaFile();
        call.headers = {range};
        HttpReply r = Get(Package(), call);
        EXPECT_EQ(r.status, 200) << range;
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(bytes.size())) << range;
        EXPECT_TRUE(r.body == bytes) << range;
    }
}

// Space is checked before an upload is accepted: past the quota, or below
// the free-space floor, the answer is 2 and the stored set stays.
TEST(PackageSpaceTest, QuotaAndFreeSpaceFloorRefuseWithTwoAndKeepTheSet) {
    for (const char* option : {"--quota-mb", "--min-free-mb"}) {
        // A quota of 1 MiB; a floor no disk has.
        ServiceLauncher svc({option, std::string(option) == "--quota-mb" ? "1" : "16777216"});
        svc.AddMember("alice", "password1");
        LoginReply session = Login(svc, "alice", "password1");
        ASSERT_EQ(session.error, "0");
        UploadForm f;
        f.memberId = "alice";
        f.memberKey = session.memberkey;
        std::string kept;
        if (std::string(option) == "--quota-mb") {
            f.fileBytes = kept = RandomBytes(600 << 10, 32);
            ASSERT_EQ(TagValue(Upload(svc, session.uploadUrl, f).body, "error"), "0");
        }
        f.fileBytes = RandomBytes(600 << 10, 33);
        HttpReply refused = Upload(svc, session.uploadUrl, f);
        EXPECT_EQ(TagValue(refused.body, "error"), "2") << option << refused.body;
        LoginReply after = Login(svc, "alice", "password1");
        EXPECT_EQ(after.filesize, std::to_string(kept.size())) << option;
        if (!kept.empty()) {
            EXPECT_TRUE(Fetch(svc, after.downloadUrl + "alice.cab").body == kept);
        }
        EXPECT_TRUE(FilesIn(svc.DataDir() + "packages/incoming").empty()) << option;
    }
}

}  // namespace
}  // namespace skiv::test
