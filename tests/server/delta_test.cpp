// The delta exchanges and the package store behind them, against the real
// service binary: only missing pieces travel, lying or incomplete uploads
// leave the previous version current, old versions and unneeded pieces go
// while an upload in flight keeps what it was promised, and a service
// killed at any step of a save comes back with the old or the new version.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <dirent.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <thread>

#include "gzip_member.h"
#include "service_test_util.h"
#include "support/faults.h"

namespace skiv::test {
namespace {

std::string Sha(const std::string& bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(bytes.data(), bytes.size(), md, &n, EVP_sha256(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < n; ++i) {
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

// Pieces of a package: gzip members of distinct (partly compressible) data.
std::string Piece(unsigned seed, std::size_t size = 40000) {
    return GzipMember(RandomBytes(size / 2, seed) +
                      std::string(size / 2, static_cast<char>('a' + seed % 26)));
}

struct Package {
    std::vector<std::string> pieces;
    std::vector<bool> shared;
    std::string computer = "PC%ED%95%9C";
    std::string Bytes() const {
        std::string all;
        for (const auto& p : pieces)
            all += p;
        return all;
    }
    std::string Manifest(const std::string& packageSha = "") const {
        const std::string all = Bytes();
        std::string m = "skiv-manifest 1\npackage " + std::to_string(all.size()) + " " +
                        (packageSha.empty() ? Sha(all) : packageSha) +
                        "\nfiles 12 345\nchanged 3\n" + "computer " + computer + "\n";
        for (std::size_t i = 0; i < pieces.size(); ++i)
            m += "piece " + Sha(pieces[i]) + " " + std::to_string(pieces[i].size()) +
                 (i < shared.size() && shared[i] ? " shared\n" : " private\n");
        return m;
    }
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::set<std::string> Shelved(const ServiceLauncher& svc) {
    std::set<std::string> names;
    if (DIR* d = ::opendir((svc.DataDir() + "packages").c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_type == DT_REG)
                names.insert(e->d_name);
        ::closedir(d);
    }
    return names;
}

class DeltaTest : public ::testing::Test {
protected:
    explicit DeltaTest(std::vector<std::string> args = {}) : svc(std::move(args)) {}
    void SetUp() override {
        svc.AddMember("alice", "password1");
        LogIn();
    }
    void LogIn() {
        session = Login(svc, "alice", "password1");
        ASSERT_EQ(session.error, "0") << session.http.body;
        base = TagValue(session.http.body, "delta");
    }
    HttpCall Call() const {
        HttpCall c;
        c.caFile = svc.CaFile();
        return c;
    }
    std::string Classic(const std::string& bytes) {
        UploadForm f;
        f.fileBytes = bytes;
        f.memberId = "alice";
        f.memberKey = session.memberkey;
        return TagValue(Upload(svc, session.uploadUrl, f).body, "error");
    }
    std::string Download() { return Fetch(svc, session.downloadUrl + "alice.cab").body; }
    // POST missing: the token, then the hashes asked for.
    std::vector<std::string> Missing(const std::string& manifest, long* status = nullptr) {
        HttpReply r = PostForm(base + "missing", manifest, Call());
        if (status)
            *status = r.status;
        return Lines(r.body);
    }
    long PutPiece(const std::string& token, const std::string& sha, const std::string& bytes) {
        return Put(base + "piece/" + sha + "?upload=" + token, bytes, Call()).status;
    }
    HttpReply Commit(const std::string& token) {
        return PostForm(base + "commit/" + token, "", Call());
    }
    // A whole delta save: the commit's error number, "" when cut.
    std::string Save(const Package& p) {
        std::vector<std::string> asked = Missing(p.Manifest());
        if (asked.empty() || asked[0].rfind("upload ", 0) != 0)
            return "";
        const std::string token = asked[0].substr(7);
        for (std::size_t i = 1; i < asked.size(); ++i)
            for (const auto& piece : p.pieces)
                if (Sha(piece) == asked[i] && PutPiece(token, asked[i], piece) != 201)
                    return "";
        return TagValue(Commit(token).body, "error");
    }

    ServiceLauncher svc;
    LoginReply session;
    std::string base;
};

TEST_F(DeltaTest, OnlyMissingPiecesTravelAndEveryVersionReadsBack) {
    // The extra tag comes after the six the older clients read.
    const std::string& reply = session.http.body;
    EXPECT_GT(reply.find("<delta>"), reply.find("</downloadURL>")) << reply;
    EXPECT_TRUE(Shaped(base, svc.BaseUrl() + "/skivaddon/delta/" + std::string(64, 'x') + "/"))
        << base;

    // A classic upload of a multi-member package is kept as its members.
    Package first{{Piece(1), Piece(2), Piece(3)}, {}};
    ASSERT_EQ(Classic(first.Bytes()), "0");
    std::vector<std::string> asked = Missing(first.Manifest());
    ASSERT_EQ(asked.size(), 1u) << "nothing is missing: " << asked.size();

    // One piece changed: only it is asked for and sent.
    Package second = first;
    second.pieces[1] = Piece(4);
    asked = Missing(second.Manifest());
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], Sha(second.pieces[1]));
    const std::string token = asked[0].substr(7);
    EXPECT_EQ(PutPiece(token, asked[1], second.pieces[1]), 201);
    HttpReply done = Commit(token);
    EXPECT_EQ(done.body, "<error>0</error>\r\n");
    // The same upload cannot be committed twice.
    EXPECT_EQ(TagValue(Commit(token).body, "error"), "1");

    // The classic download streams the new version's pieces; the login
    // describes it.
    EXPECT_TRUE(Download() == second.Bytes());
    EXPECT_EQ(Login(svc, "alice", "password1").filesize, std::to_string(second.Bytes().size()));

    std::vector<std::string> versions = Lines(Fetch(svc, base + "versions").body);
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_TRUE(Shaped(versions[0], "1\t##########\t" + std::to_string(second.Bytes().size()) +
                                        "\t12\t3\tPC%ED%95%9C"))
        << versions[0];
    EXPECT_EQ(versions[1].substr(0, 2), "2\t");
    EXPECT_EQ(Fetch(svc, base + "manifest/1").body, second.Manifest());
    // The classic upload's manifest names its members and the package.
    const std::string old = Fetch(svc, base + "manifest/2").body;
    EXPECT_NE(old.find("package " + std::to_string(first.Bytes().size()) + " " +
                       Sha(first.Bytes()) + "\n"),
              std::string::npos)
        << old;
    EXPECT_NE(old.find("piece " + Sha(first.pieces[1])), std::string::npos) << old;
    EXPECT_EQ(Fetch(svc, base + "manifest/3").status, 404);
    EXPECT_TRUE(Fetch(svc, base + "piece/" + Sha(first.pieces[1])).body == first.pieces[1]);

    // Another member sees none of alice's pieces, shares only pieces marked
    // shared, and cannot use alice's upload.
    svc.AddMember("bob", "password2");
    const std::string bobBase = TagValue(Login(svc, "bob", "password2").http.body, "delta");
    EXPECT_EQ(Fetch(svc, bobBase + "piece/" + Sha(first.pieces[0])).status, 404);
    Package bobs{{first.pieces[0]}, {false}};
    std::vector<std::string> bobAsked =
        Lines(PostForm(bobBase + "missing", bobs.Manifest(), Call()).body);
    ASSERT_EQ(bobAsked.size(), 2u) << "alice's private piece must not count for bob";
    EXPECT_EQ(Put(bobBase + "piece/" + Sha(second.pieces[1]) + "?upload=" + token, second.pieces[1],
                  Call())
                  .status,
              404);

    Package addOns{{Piece(9)}, {true}};
    ASSERT_EQ(Save(addOns), "0");
    bobs = {{Piece(9)}, {true}};
    EXPECT_EQ(Lines(PostForm(bobBase + "missing", bobs.Manifest(), Call()).body).size(), 1u)
        << "a shared piece is stored once for everyone";
    // The log names the routes but never the capability or the token.
    const std::string log = svc.LogText();
    EXPECT_NE(log.find("/skivaddon/delta/*/missing"), std::string::npos) << log;
    EXPECT_EQ(log.find(base.substr(base.size() - 65, 64)), std::string::npos);
    EXPECT_EQ(log.find(token), std::string::npos);
    // A capability nobody holds opens nothing.
    EXPECT_EQ(
        Fetch(svc, svc.BaseUrl() + "/skivaddon/delta/" + std::string(64, 'a') + "/versions").status,
        403);
}

TEST_F(DeltaTest, LyingCutOrIncompleteUploadsLeaveThePreviousVersionCurrent) {
    Package first{{Piece(11), Piece(12)}, {}};
    ASSERT_EQ(Save(first), "0");
    ASSERT_TRUE(Download() == first.Bytes());

    Package next{{Piece(11), Piece(13), Piece(14)}, {}};
    std::vector<std::string> asked = Missing(next.Manifest());
    ASSERT_EQ(asked.size(), 3u);
    const std::string token = asked[0].substr(7);
    // Bytes that are not what their hash says, or of another size: 422,
    // and nothing kept (the piece is still missing).
    EXPECT_EQ(PutPiece(token, Sha(next.pieces[1]), next.pieces[2].substr(0, next.pieces[1].size())),
              422);
    EXPECT_EQ(PutPiece(token, Sha(next.pieces[1]), next.pieces[1] + "x"), 422);
    // A piece the manifest does not name, or a token that is not open.
    EXPECT_EQ(PutPiece(token, Sha(Piece(99)), Piece(99)), 404);
    EXPECT_EQ(PutPiece(std::string(32, '0'), Sha(next.pieces[1]), next.pieces[1]), 404);
    EXPECT_EQ(Missing(next.Manifest()).size(), 3u);

    // Committing with a piece never sent: refused, the old version stays.
    EXPECT_EQ(PutPiece(token, Sha(next.pieces[1]), next.pieces[1]), 201);
    HttpReply partial = Commit(token);
    EXPECT_EQ(TagValue(partial.body, "error"), "1");
    EXPECT_FALSE(TagValue(partial.body, "errormsg").empty());
    EXPECT_TRUE(Download() == first.Bytes());

    // Every piece present but the package hash is a lie: refused.
    std::vector<std::string> again = Missing(next.Manifest(std::string(64, 'e')));
    const std::string lie = again[0].substr(7);
    for (std::size_t i = 1; i < again.size(); ++i)
        for (const auto& p : next.pieces)
            if (Sha(p) == again[i]) {
                EXPECT_EQ(PutPiece(lie, again[i], p), 201);
            }
    EXPECT_EQ(TagValue(Commit(lie).body, "error"), "1");
    EXPECT_TRUE(Download() == first.Bytes());
    EXPECT_EQ(Lines(Fetch(svc, base + "versions").body).size(), 1u);

    // Malformed manifests are refused with a reason.
    long status = 0;
    for (const std::string& bad : {std::string("skiv-manifest 2\n"), next.Manifest().substr(0, 60),
                                   "skiv-manifest 1\npackage 5 " + std::string(64, 'a') +
                                       "\nfiles 1 1\nchanged 0\ncomputer x\npiece " +
                                       std::string(64, 'b') + " 4 private\n"}) {
        std::vector<std::string> reason = Missing(bad, &status);
        EXPECT_EQ(status, 400) << bad;
        EXPECT_EQ(reason.size(), 1u) << bad;
    }

    // Two computers saving at once: both commit, the later one is current,
    // and it is whole.
    Package a{{Piece(21), Piece(22)}, {}}, b{{Piece(23), Piece(24)}, {}};
    std::string ra, rb;
    std::thread ta([&] { ra = Save(a); }), tb([&] { rb = Save(b); });
    ta.join();
    tb.join();
    EXPECT_EQ(ra, "0");
    EXPECT_EQ(rb, "0");
    const std::string now = Download();
    EXPECT_TRUE(now == a.Bytes() || now == b.Bytes());
    EXPECT_EQ(Fetch(svc, base + "manifest/1").body, now == a.Bytes() ? a.Manifest() : b.Manifest());
}

// A piece file lost from the store: the download says so at once instead
// of sending a body cut short, and the next save sends the piece again.
TEST_F(DeltaTest, ALostPieceFileIsReportedAndTheNextSaveRepairsIt) {
    Package p{{Piece(61), Piece(62)}, {}};
    ASSERT_EQ(Save(p), "0");
    ASSERT_EQ(::unlink((svc.DataDir() + "packages/p.alice." + Sha(Piece(62))).c_str()), 0);
    HttpReply down = Fetch(svc, session.downloadUrl + "alice.cab");
    EXPECT_EQ(down.status, 500);
    EXPECT_EQ(down.body, "stored package damaged\n");
    std::vector<std::string> asked = Missing(p.Manifest());
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], Sha(Piece(62)));
    EXPECT_EQ(Save(p), "0");
    EXPECT_TRUE(Download() == p.Bytes());
}

// A disk that fills while a piece streams in: 507, nothing half-written
// kept, the previous version current. The ceiling on file sizes is
// inherited by the service, so it is set before the service starts.
struct OneMebibyteFiles {
    FileSizeCeiling ceiling{1 << 20};
};
class DeltaDiskTest : private OneMebibyteFiles, public DeltaTest {};

TEST_F(DeltaDiskTest, AFullDiskRefusesThePieceAndKeepsThePreviousVersion) {
    Package small{{Piece(71)}, {}};
    ASSERT_EQ(Save(small), "0");
    Package big{{Piece(71), GzipMember(RandomBytes(3 << 20, 72))}, {}};
    std::vector<std::string> asked = Missing(big.Manifest());
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(PutPiece(asked[0].substr(7), asked[1], big.pieces[1]), 507);
    EXPECT_EQ(TagValue(Commit(asked[0].substr(7)).body, "error"), "1");
    EXPECT_TRUE(Download() == small.Bytes());
    EXPECT_EQ(Shelved(svc), (std::set<std::string>{"p.alice." + Sha(Piece(71))}));
}

class DeltaRetentionTest : public DeltaTest {
protected:
    DeltaRetentionTest() : DeltaTest({"--keep-versions", "2"}) {}
};

TEST_F(DeltaRetentionTest, OldVersionsGoButAnUploadInFlightKeepsItsPieces) {
    Package first{{Piece(31), Piece(32)}, {}};
    ASSERT_EQ(Save(first), "0");
    // An upload is answered: it needs piece 31 (present) and 33 (sent later).
    Package pending{{Piece(31), Piece(33)}, {}};
    std::vector<std::string> asked = Missing(pending.Manifest());
    ASSERT_EQ(asked.size(), 2u);
    const std::string token = asked[0].substr(7);

    // Two more versions push the first out.
    ASSERT_EQ(Save(Package{{Piece(34)}, {}}), "0");
    ASSERT_EQ(Save(Package{{Piece(35)}, {}}), "0");
    EXPECT_EQ(Lines(Fetch(svc, base + "versions").body).size(), 2u);
    const std::set<std::string> shelved = Shelved(svc);
    EXPECT_EQ(shelved.count("p.alice." + Sha(Piece(32))), 0u) << "an unneeded piece was kept";
    EXPECT_EQ(shelved.count("p.alice." + Sha(Piece(31))), 1u) << "a promised piece was collected";

    // The upload in flight completes as promised.
    EXPECT_EQ(PutPiece(token, Sha(Piece(33)), Piece(33)), 201);
    EXPECT_EQ(TagValue(Commit(token).body, "error"), "0");
    EXPECT_TRUE(Download() == pending.Bytes());
    // What remains is exactly the pieces of the two kept versions.
    EXPECT_EQ(Shelved(svc),
              (std::set<std::string>{"p.alice." + Sha(Piece(31)), "p.alice." + Sha(Piece(33)),
                                     "p.alice." + Sha(Piece(35))}));
}

// The service killed at each step of a delta save: after a restart the old
// or the new version is current and whole, no file is left that neither a
// version nor an open upload needs, and the next save works.
TEST_F(DeltaTest, KilledAtEachStepOfASaveComesBackWithOldOrNewVersion) {
    Package old{{Piece(41), Piece(42)}, {}};
    ASSERT_EQ(Save(old), "0");
    const struct {
        const char* point;
        bool committed;
    } steps[] = {{"store.piece-placed", false},
                 {"store.before-version-commit", false},
                 {"store.version-committed", true},
                 // The first collection runs at start.
                 {"store.collect-rows-dropped:2", true}};
    unsigned seed = 50;
    Package current = old;
    std::set<std::string> promised;  // pieces of interrupted uploads, still open
    for (const auto& step : steps) {
        Package next{{Piece(41), Piece(++seed)}, {}};
        ::setenv("SKIVADDON_CRASH_AT", step.point, 1);
        svc.Restart();
        ::unsetenv("SKIVADDON_CRASH_AT");
        LogIn();
        EXPECT_EQ(Save(next), "") << step.point << ": the service did not die";
        svc.Restart();
        LogIn();
        if (step.committed)
            current = next;
        EXPECT_TRUE(Download() == current.Bytes()) << step.point;
        EXPECT_EQ(Fetch(svc, base + "manifest/1").body, current.Manifest()) << step.point;
        // The shelf holds the pieces of the kept versions, and beyond them
        // at most those of interrupted uploads (still open, so still
        // promised to them).
        std::set<std::string> needed, allowed;
        for (const auto& line : Lines(Fetch(svc, base + "versions").body)) {
            const std::string manifest =
                Fetch(svc, base + "manifest/" + line.substr(0, line.find('\t'))).body;
            for (const auto& m : Lines(manifest))
                if (m.rfind("piece ", 0) == 0)
                    needed.insert("p.alice." + m.substr(6, 64));
        }
        for (const auto& piece : next.pieces)
            promised.insert("p.alice." + Sha(piece));
        allowed = needed;
        allowed.insert(promised.begin(), promised.end());
        const std::set<std::string> shelved = Shelved(svc);
        EXPECT_TRUE(std::includes(shelved.begin(), shelved.end(), needed.begin(), needed.end()))
            << step.point;
        EXPECT_TRUE(std::includes(allowed.begin(), allowed.end(), shelved.begin(), shelved.end()))
            << step.point;
        Package after{{Piece(41), Piece(++seed)}, {}};
        EXPECT_EQ(Save(after), "0") << step.point;
        current = after;
    }
}

TEST_F(DeltaTest, MigrateCopiesMembersAndVersionsBetweenDataFoldersBothWays) {
    Package first{{Piece(51), Piece(52), Piece(53)}, {}};
    ASSERT_EQ(Classic(first.Bytes()), "0");
    Package second{{Piece(51), Piece(54), Piece(55)}, {false, false, true}};
    ASSERT_EQ(Save(second), "0");
    svc.AddMember("carol", "password3");
    svc.Suspend("carol");
    const std::string versions = Fetch(svc, base + "versions").body;
    const std::string manifests[2] = {Fetch(svc, base + "manifest/1").body,
                                      Fetch(svc, base + "manifest/2").body};
    svc.Stop();

    TempDir scratch;
    const std::string there = scratch / "there/";
    std::string out;
    ASSERT_EQ(svc.RunAdmin({"migrate", "--from", svc.DataDir(), "--to", there}, "", &out), 0)
        << out;
    EXPECT_NE(out.find("2 members copied"), std::string::npos) << out;

    // Everything but the sessions arrived: the member logs in again and
    // finds the same versions, save times and pieces; carol stays suspended.
    LaunchOptions o;
    o.dataDir = there;
    auto other = std::make_unique<ServiceLauncher>(o);
    LoginReply again = Login(*other, "alice", "password1");
    ASSERT_EQ(again.error, "0") << again.http.body;
    const std::string otherBase = TagValue(again.http.body, "delta");
    EXPECT_EQ(Fetch(*other, otherBase + "versions").body, versions);
    EXPECT_EQ(Fetch(*other, otherBase + "manifest/1").body, manifests[0]);
    EXPECT_EQ(Fetch(*other, otherBase + "manifest/2").body, manifests[1]);
    EXPECT_TRUE(Fetch(*other, again.downloadUrl + "alice.cab").body == second.Bytes());
    EXPECT_TRUE(Fetch(*other, otherBase + "piece/" + Sha(first.pieces[2])).body == first.pieces[2]);
    EXPECT_EQ(Login(*other, "carol", "password3").error, "4");

    // Back the other way, into the first folder: a member it has already
    // is left alone, a new one is copied.
    other->AddMember("bob", "password2");
    LoginReply bob = Login(*other, "bob", "password2");
    UploadForm f;
    f.fileBytes = RandomBytes(5000, 56);
    f.memberId = "bob";
    f.memberKey = bob.memberkey;
    ASSERT_EQ(TagValue(Upload(*other, bob.uploadUrl, f).body, "error"), "0");
    other.reset();
    ASSERT_EQ(svc.RunAdmin({"migrate", "--from", there, "--to", svc.DataDir()}, "", &out), 0)
        << out;
    EXPECT_NE(out.find("member alice exists in the destination; left alone"), std::string::npos)
        << out;
    EXPECT_NE(out.find("1 member copied"), std::string::npos) << out;
    svc.Restart();
    LogIn();
    EXPECT_EQ(Fetch(svc, base + "versions").body, versions);
    bob = Login(svc, "bob", "password2");
    ASSERT_EQ(bob.error, "0");
    EXPECT_TRUE(Fetch(svc, bob.downloadUrl + "bob.cab").body == f.fileBytes);
}

}  // namespace
}  // namespace skiv::test
