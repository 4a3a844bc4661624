// The package store over both places a shelf can keep pieces: its folder,
// and a bucket of a real S3 gateway (a throw-away single-node cluster made
// by tests/support/engines/ceph_cluster, once for the suite). Without that
// engine the bucket leg skips and says why.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "gzip_member.h"
#include "https_client.h"
#include "member_store.h"
#include "object_store.h"
#include "package_shelf.h"
#include "secrets.h"
#include "service_test_util.h"
#include "support/temp_dir.h"
#include "version_store.h"

namespace skiv::server {
namespace {

// The cluster of the suite; started by the first test that wants it.
class Cluster {
public:
    static Cluster& Get() {
        static Cluster cluster;
        return cluster;
    }
    ~Cluster() {
        if (m_started)
            Run("stop");
    }
    bool ready() const { return m_ready; }
    // Not installed: skip. Installed but not started: a failure.
    bool missing() const { return m_missing; }
    const std::string& why() const { return m_why; }
    const ObjectStoreLocation& where() const { return m_where; }
    const ObjectStoreKeys& keys() const { return m_keys; }
    int Run(const std::string& command) {
        const std::string line = skiv::test::SourceDir() + "/tests/support/engines/ceph_cluster " +
                                 command + " " + m_dir.path() + "ceph >" + m_dir.path() + command +
                                 ".out 2>&1";
        const int rc = std::system(line.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

private:
    Cluster() {
        m_started = true;
        const int rc = Run("start");
        std::string out;
        try {
            out = skiv::test::ReadFile(m_dir / "start.out");
        } catch (const std::exception&) {
        }
        if (rc != 0) {
            m_started = rc != 77;
            m_missing = rc == 77;
            m_why =
                rc == 77 ? out : "ceph_cluster start failed (" + std::to_string(rc) + "): " + out;
            return;
        }
        std::string url = skiv::test::ReadFile(m_dir / "ceph/url");
        url = url.substr(0, url.find('\n'));
        std::string error;
        m_where = *ParseObjectStoreUrl(url, error);
        std::ifstream env(m_dir / "ceph/env");
        for (std::string line; std::getline(env, line);) {
            const std::string value = line.substr(line.find('=') + 1);
            (line.rfind("SKIVADDON_S3_ACCESS_KEY=", 0) == 0 ? m_keys.access : m_keys.secret) =
                value;
        }
        m_ready = true;
    }
    skiv::test::TempDir m_dir;
    bool m_started = false;
    bool m_ready = false;
    bool m_missing = false;
    std::string m_why;
    ObjectStoreLocation m_where;
    ObjectStoreKeys m_keys;
};

// Parameter: true = the bucket, false = the folder.
class PieceStoreTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        InitCrypto();
        if (GetParam()) {
            if (Cluster::Get().missing())
                GTEST_SKIP() << Cluster::Get().why();
            ASSERT_TRUE(Cluster::Get().ready()) << Cluster::Get().why();
        }
        m_members = std::make_unique<MemberStore>(m_dir / "members.sqlite");
        ASSERT_TRUE(m_members->AddMember("Alice", "hash", 1));
        m_shelf = MakeShelf();
        m_shelf->Sweep({});  // the bucket is the suite's; each test starts it empty
    }

    std::unique_ptr<PackageShelf> MakeShelf(ObjectStoreLimits limits = {}) {
        if (!GetParam())
            return std::make_unique<PackageShelf>(m_dir / "shelf");
        return std::make_unique<PackageShelf>(
            m_dir / "shelf",
            std::make_unique<ObjectStore>(Cluster::Get().where(), Cluster::Get().keys(), limits));
    }

    // The member's current package as a download reads it.
    static std::string ReadVersion(VersionStore& versions, PackageShelf& shelf) {
        std::optional<VersionStore::Stream> v = versions.OpenVersion("alice", 1);
        if (!v || !v->whole)
            return "(none)";
        std::string out;
        char buf[70000];  // not a multiple of any window: reads straddle them
        for (const auto& piece : v->pieces) {
            std::optional<StoredPackage> file = shelf.Open(piece.name);
            if (!file)
                return "(missing " + piece.name + ")";
            while (const std::size_t n = file->reader->Read(buf, sizeof buf))
                out.append(buf, n);
        }
        return out;
    }

    // Puts different bytes of the same size under `name`, as a fault of
    // the disk or the store would.
    void Tamper(const std::string& name, const std::string& bytes) {
        if (!GetParam()) {
            skiv::test::WriteFile(m_shelf->folder() + name, bytes);
            return;
        }
        skiv::test::WriteFile(m_dir / "tampered", bytes);
        Sha256Stream sha;
        sha.Update(bytes.data(), bytes.size());
        m_shelf->objects()->Put(name, m_dir / "tampered", static_cast<std::int64_t>(bytes.size()),
                                sha.Hex());
    }

    skiv::test::TempDir m_dir;
    std::unique_ptr<MemberStore> m_members;
    std::unique_ptr<PackageShelf> m_shelf;
};

// A whole upload split at its gzip members, read back across read windows,
// a delta upload that reuses a piece, collection of what no version needs,
// and a restart that sweeps a stray but keeps every piece a row names.
TEST_P(PieceStoreTest, StoresReadsCollectsAndRecovers) {
    const std::string a = test::GzipMember(skiv::test::RandomBytes(1500000, 1));
    const std::string b = test::GzipMember(skiv::test::RandomBytes(300, 2));
    const std::string package = a + b;
    VersionStore versions(m_dir / "members.sqlite", *m_shelf, 1);
    versions.Recover(1000);
    IncomingFile in = m_shelf->Begin();
    ASSERT_TRUE(in.Write(package.data(), package.size()));
    versions.StoreWhole("alice", std::move(in), 1, 1000);
    EXPECT_EQ(ReadVersion(versions, *m_shelf), package);
    EXPECT_EQ(m_shelf->Names().size(), 2u);
    EXPECT_EQ(m_shelf->StoredBytes(), static_cast<std::int64_t>(package.size()));

    // The next version keeps `a`, drops `b` and adds `c`; keep 1 collects b.
    const std::string c = test::GzipMember("new settings");
    Sha256Stream whole;
    whole.Update(a.data(), a.size());
    whole.Update(c.data(), c.size());
    Manifest m;
    m.packageBytes = static_cast<std::int64_t>(a.size() + c.size());
    m.packageSha = whole.Hex();
    IncomingFile piece = m_shelf->Begin();
    ASSERT_TRUE(piece.Write(c.data(), c.size()));
    m.pieces = {{std::string(), static_cast<std::int64_t>(a.size()), false},
                {piece.Sha256(), static_cast<std::int64_t>(c.size()), false}};
    Sha256Stream aSha;
    aSha.Update(a.data(), a.size());
    m.pieces[0].sha = aSha.Hex();
    const std::vector<std::string> missing =
        versions.BeginUpload("alice", m, FormatManifest(m), "t1", 5000, 1100);
    ASSERT_EQ(missing, std::vector<std::string>{piece.Sha256()});
    versions.PutPiece(std::move(piece), VersionStore::PieceName("alice", m.pieces[1].sha, false));
    ASSERT_EQ(versions.Commit("alice", "t1", 1, 1200), VersionStore::CommitResult::Ok);
    EXPECT_EQ(ReadVersion(versions, *m_shelf), a + c);
    EXPECT_EQ(m_shelf->Names().size(), 2u) << "b was not collected";

    IncomingFile stray = m_shelf->Begin();
    ASSERT_TRUE(stray.Write("stray", 5));
    m_shelf->PlaceAs(std::move(stray), "p.alice." + std::string(64, 'e'));
    VersionStore again(m_dir / "members.sqlite", *m_shelf, 1);
    again.Recover(1300);
    EXPECT_EQ(m_shelf->Names().size(), 2u) << "the stray stayed";
    EXPECT_EQ(ReadVersion(again, *m_shelf), a + c);
}

// Bytes changed behind the service's back: in the bucket, the read that
// would complete the piece refuses it; on either shelf a commit needing it
// fails rather than making a version of it current.
TEST_P(PieceStoreTest, APieceWhoseBytesChangedIsRefused) {
    const std::string p = test::GzipMember(skiv::test::RandomBytes(200000, 3));
    VersionStore versions(m_dir / "members.sqlite", *m_shelf, 5);
    IncomingFile in = m_shelf->Begin();
    ASSERT_TRUE(in.Write(p.data(), p.size()));
    const std::string name = VersionStore::PieceName("alice", in.Sha256(), false);
    versions.StoreWhole("alice", std::move(in), 1, 1000);
    std::string bad = p;
    bad[bad.size() - 10] ^= 0x55;
    Tamper(name, bad);

    std::optional<StoredPackage> file = m_shelf->Open(name);
    ASSERT_TRUE(file);
    std::string got;
    char buf[65536];
    testing::internal::CaptureStderr();
    try {
        while (const std::size_t n = file->reader->Read(buf, sizeof buf))
            got.append(buf, n);
        EXPECT_FALSE(GetParam()) << "the damaged piece was read to its end";
        EXPECT_TRUE(got == bad) << "the folder hands out what it holds";
    } catch (const PieceError& e) {
        EXPECT_TRUE(GetParam()) << e.what();
        EXPECT_EQ(e.kind(), PieceError::Kind::Damaged);
        EXPECT_LT(got.size(), p.size()) << "its last bytes went out";
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find("piece " + name + " refused") != std::string::npos, GetParam()) << log;

    // A delta upload naming the damaged piece cannot commit on it.
    Manifest m;
    m.packageBytes = static_cast<std::int64_t>(p.size());
    Sha256Stream sha;
    sha.Update(p.data(), p.size());
    m.packageSha = sha.Hex();
    m.pieces = {{m.packageSha, m.packageBytes, false}};
    versions.BeginUpload("alice", m, FormatManifest(m), "t2", 5000, 1100);
    testing::internal::CaptureStderr();
    EXPECT_NE(versions.Commit("alice", "t2", 1, 1200), VersionStore::CommitResult::Ok);
    testing::internal::GetCapturedStderr();
}

INSTANTIATE_TEST_SUITE_P(Shelf, PieceStoreTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Bucket" : "Folder"; });

// What only the bucket has: parts, and the gateway going away.
class BucketTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitCrypto();
        if (Cluster::Get().missing()) {
            GTEST_SKIP() << Cluster::Get().why();
        }
        ASSERT_TRUE(Cluster::Get().ready()) << Cluster::Get().why();
    }
    skiv::test::TempDir m_dir;
};

// A piece above the threshold goes up in parts and comes back whole; an
// upload whose part fails leaves no object behind.
TEST_F(BucketTest, AMultipartUploadRoundTrips) {
    ObjectStoreLimits limits;
    limits.multipartAbove = 6 << 20;
    limits.partBytes = 5 << 20;
    PackageShelf shelf(m_dir / "shelf", std::make_unique<ObjectStore>(
                                            Cluster::Get().where(), Cluster::Get().keys(), limits));
    const std::string big = skiv::test::RandomBytes((12 << 20) + 12345, 4);
    IncomingFile in = shelf.Begin();
    ASSERT_TRUE(in.Write(big.data(), big.size()));
    const std::string name = "s." + in.Sha256();
    shelf.PlaceAs(std::move(in), name);
    std::optional<StoredPackage> file = shelf.Open(name);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size, static_cast<std::int64_t>(big.size()));
    std::string back;
    std::vector<char> buf(1 << 20);
    while (const std::size_t n = file->reader->Read(buf.data(), buf.size()))
        back.append(buf.data(), n);
    EXPECT_TRUE(back == big) << "the parts came back other than they went";
    shelf.Remove(name);
    EXPECT_FALSE(shelf.Open(name));

    // A part that cannot be read ends the upload with no object made.
    skiv::test::WriteFile(m_dir / "short", big.substr(0, 7 << 20));
    EXPECT_THROW(shelf.objects()->Put("s.short", m_dir / "short",
                                      static_cast<std::int64_t>(big.size()), std::string(64, '0')),
                 ObjectStoreError);
    EXPECT_FALSE(shelf.objects()->Size("s.short"));
}

// The gateway killed in the middle of a download: the read fails plainly,
// nothing is lost, and the same download succeeds once it is back.
TEST_F(BucketTest, TheStoreGoingAwayDuringADownloadIsAClearErrorAndNothingIsLost) {
    ObjectStoreLimits limits;
    limits.connectSeconds = 2;
    PackageShelf shelf(m_dir / "shelf", std::make_unique<ObjectStore>(
                                            Cluster::Get().where(), Cluster::Get().keys(), limits));
    shelf.Sweep({});
    MemberStore members(m_dir / "members.sqlite");
    ASSERT_TRUE(members.AddMember("Alice", "hash", 1));
    VersionStore versions(m_dir / "members.sqlite", shelf, 5);
    const std::string p = test::GzipMember(skiv::test::RandomBytes(3 << 20, 5));
    IncomingFile in = shelf.Begin();
    ASSERT_TRUE(in.Write(p.data(), p.size()));
    versions.StoreWhole("alice", std::move(in), 1, 1000);

    std::optional<VersionStore::Stream> v = versions.OpenVersion("alice", 1);
    ASSERT_TRUE(v && v->whole);
    std::optional<StoredPackage> file = shelf.Open(v->pieces[0].name);
    ASSERT_TRUE(file);
    std::vector<char> buf(1 << 20);
    ASSERT_GT(file->reader->Read(buf.data(), buf.size()), 0u);
    ASSERT_EQ(Cluster::Get().Run("gateway-stop"), 0);
    try {
        while (file->reader->Read(buf.data(), buf.size()) > 0) {
        }
        ADD_FAILURE() << "the download went on without the store";
    } catch (const PieceError& e) {
        EXPECT_EQ(e.kind(), PieceError::Kind::Unavailable);
        EXPECT_NE(std::string(e.what()).find("object store GET"), std::string::npos) << e.what();
    }
    EXPECT_THROW(shelf.Open(v->pieces[0].name), PieceError);
    ASSERT_EQ(Cluster::Get().Run("gateway-start"), 0);

    std::string back;
    std::optional<StoredPackage> again = shelf.Open(v->pieces[0].name);
    ASSERT_TRUE(again);
    while (const std::size_t n = again->reader->Read(buf.data(), buf.size()))
        back.append(buf.data(), n);
    EXPECT_TRUE(back == p);
}

// The real service with its pieces in the folder or the bucket: a whole
// upload comes back byte-exact, also after a restart, and a delta save
// sends only its new piece. In the bucket, a piece changed behind its
// back is refused mid-body and logged, and the gateway gone gives the
// fault answer, the download working again once it is back.
TEST_P(PieceStoreTest, TheServiceServesFromItsShelfAndRefusesWhatIsNotRight) {
    std::vector<std::string> args;
    if (GetParam()) {
        const ObjectStoreLocation& w = Cluster::Get().where();
        skiv::test::WriteFile(m_dir / "keys", "access_key=" + Cluster::Get().keys().access +
                                                  "\nsecret_key=" + Cluster::Get().keys().secret +
                                                  "\n");
        ::chmod((m_dir / "keys").c_str(), 0600);
        args = {"--packages",
                "s3://" + w.bucket + "?endpoint=" + w.endpoint + "&region=" + w.region,
                "--s3-key-file", m_dir / "keys"};
    }
    skiv::test::ServiceLauncher svc(args);
    svc.AddMember("alice", "password1");
    skiv::test::LoginReply session = skiv::test::Login(svc, "alice", "password1");
    ASSERT_EQ(session.error, "0");
    const std::string a = test::GzipMember(skiv::test::RandomBytes(400000, 6));
    const std::string b = test::GzipMember(skiv::test::RandomBytes(50000, 7));
    skiv::test::UploadForm form;
    form.fileBytes = a + b;
    form.memberId = "alice";
    form.memberKey = session.memberkey;
    skiv::test::HttpReply up = skiv::test::Upload(svc, session.uploadUrl, form);
    ASSERT_EQ(skiv::test::TagValue(up.body, "error"), "0") << up.body;
    const std::string url = session.downloadUrl + "alice.cab";
    EXPECT_TRUE(skiv::test::Fetch(svc, url).body == a + b);
    svc.Restart();
    session = skiv::test::Login(svc, "alice", "password1");
    const std::string again = session.downloadUrl + "alice.cab";
    EXPECT_TRUE(skiv::test::Fetch(svc, again).body == a + b) << "not kept over a restart";

    // A delta save keeps `a` and sends only `c`.
    const std::string base = skiv::test::TagValue(session.http.body, "delta");
    ASSERT_FALSE(base.empty()) << session.http.body;
    const std::string c = test::GzipMember(skiv::test::RandomBytes(70000, 8));
    auto sha = [](const std::string& bytes) {
        Sha256Stream h;
        h.Update(bytes.data(), bytes.size());
        return h.Hex();
    };
    Manifest m;
    m.packageBytes = static_cast<std::int64_t>(a.size() + c.size());
    m.packageSha = sha(a + c);
    m.entries = 1;
    m.unpackedBytes = 1;
    m.computer = "PC";
    m.pieces = {{sha(a), static_cast<std::int64_t>(a.size()), false},
                {sha(c), static_cast<std::int64_t>(c.size()), false}};
    skiv::test::HttpCall call;
    call.caFile = svc.CaFile();
    skiv::test::HttpReply missing = skiv::test::PostForm(base + "missing", FormatManifest(m), call);
    ASSERT_EQ(missing.status, 200) << missing.body;
    const std::string token = missing.body.substr(7, missing.body.find('\n') - 7);
    EXPECT_EQ(missing.body.substr(missing.body.find('\n') + 1), sha(c) + "\n");
    EXPECT_EQ(skiv::test::Put(base + "piece/" + sha(c) + "?upload=" + token, c, call).status, 201);
    skiv::test::HttpReply commit =
        skiv::test::PostForm(base + "commit/" + token + "?type=1", "", call);
    ASSERT_EQ(skiv::test::TagValue(commit.body, "error"), "0") << commit.body;
    EXPECT_TRUE(skiv::test::Fetch(svc, again).body == a + c);
    EXPECT_TRUE(skiv::test::Fetch(svc, base + "piece/" + sha(c)).body == c);

    if (GetParam()) {
        ASSERT_EQ(Cluster::Get().Run("gateway-stop"), 0);
        skiv::test::HttpReply down = skiv::test::Fetch(svc, again);
        EXPECT_EQ(down.status, 500);
        EXPECT_EQ(down.body, "service fault\n");
        ASSERT_EQ(Cluster::Get().Run("gateway-start"), 0);
        EXPECT_TRUE(skiv::test::Fetch(svc, again).body == a + c) << "lost with the gateway";
    }

    const std::string name = VersionStore::PieceName("alice", sha(c), false);
    std::string bad = c;
    bad[100] ^= 1;
    if (GetParam())
        Tamper(name, bad);
    else
        skiv::test::WriteFile(svc.DataDir() + "packages/" + name, bad);
    // The bucket cuts the body short and logs why; the folder sends what it
    // holds and leaves the check to the client, as it always did.
    skiv::test::HttpReply down = skiv::test::Fetch(svc, again);
    if (GetParam()) {
        EXPECT_NE(down.curlCode, 0) << "a damaged package went out whole";
        EXPECT_LT(down.body.size(), a.size() + c.size());
    } else {
        EXPECT_TRUE(down.body == a + bad);
    }
    svc.Stop();
    EXPECT_EQ(svc.LogText().find("piece damaged") != std::string::npos, GetParam())
        << svc.LogText();
}

}  // namespace
}  // namespace skiv::server
