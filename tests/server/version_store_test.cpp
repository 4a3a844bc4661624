// The manifest parser, and the package store's recovery at start and its
// pins across instances on both engines and a real shelf.

#include "version_store.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "admin_commands.h"
#include "back_ends.h"
#include "gzip_member.h"
#include "member_store.h"
#include "secrets.h"
#include "store_engines.h"
#include "support/temp_dir.h"
#include "upload_hasher.h"

namespace skiv::server {
namespace {

std::string Sha(const std::string& bytes) {
    Sha256Stream s;
    s.Update(bytes.data(), bytes.size());
    return s.Hex();
}

// A tar entry: header with name, octal size and type, then the data padded.
std::string TarEntry(const std::string& name, const std::string& data, char type = '0') {
    std::string head(512, '\0');
    head.replace(0, name.size(), name);
    char size[13];
    std::snprintf(size, sizeof size, "%011o", static_cast<unsigned>(data.size()));
    head.replace(124, 11, size);
    head[156] = type;
    return head + data + std::string((512 - data.size() % 512) % 512, '\0');
}

TEST(ManifestTest, ReadsWhatItWritesAndRefusesAnythingElse) {
    Manifest m;
    m.packageBytes = 30;
    m.packageSha = std::string(64, 'a');
    m.entries = 3;
    m.unpackedBytes = 100;
    m.changed = -1;
    m.computer = "PC%20one";
    m.pieces = {{std::string(64, 'b'), 10, true}, {std::string(64, 'c'), 20, false}};
    const std::string text = FormatManifest(m);
    std::string error;
    std::optional<Manifest> back = ParseManifest(text, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(FormatManifest(*back), text);
    EXPECT_TRUE(back->pieces[0].shared);

    auto with = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::string badOnes[] = {
        with("\n", "\r\n"),                                          // CR LF
        with("skiv-manifest 1", "skiv-manifest 2"),                  // version
        with("package 30", "package 31"),                            // pieces do not add up
        with("package 30", "package 030"),                           // leading zero
        with(std::string(64, 'a'), std::string(64, 'A')),            // upper-case hex
        with("PC%20one", "PC one"),                                  // unencoded space
        with("files 3 100\nchanged -1", "changed -1\nfiles 3 100"),  // order
        with(" shared", " public"),
        with("piece " + std::string(64, 'c') + " 20",
             "piece " + std::string(64, 'b') + " 20"),  // one hash, two sizes
        text.substr(0, text.find("piece")),             // no pieces
        with("\npiece " + std::string(64, 'b'), "\n\npiece " + std::string(64, 'b')),
        text + "\n",  // a blank line after the last piece
    };
    for (const auto& bad : badOnes) {
        EXPECT_FALSE(ParseManifest(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

// A data folder of the single-package layout: at start its package becomes
// the member's first version (its gzip members found, its archive counted),
// files no row names are removed, and a second start changes nothing.
class VersionStoreTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        InitCrypto();
        std::string why;
        target = FreshStore(GetParam(), dir, why);
        if (target.empty())
            GTEST_SKIP() << why;
    }
    skiv::test::TempDir dir;
    std::string target;
};
INSTANTIATE_TEST_SUITE_P(Engines, VersionStoreTest, kStoreEngines, EngineName);

TEST_P(VersionStoreTest, RecoverAdoptsAnOlderPackageAndSweepsStrays) {
    MemberStore members(target);
    PackageShelf shelf(dir / "shelf");
    ASSERT_TRUE(members.AddMember("Alice", "hash", 1));
    const std::string tar =
        TarEntry("WTF/a.lua", "0123456789") + TarEntry("././@LongLink", "Interface/AddOns/x", 'L') +
        TarEntry("Interface/AddOns/x", std::string(600, 'x')) + std::string(1024, '\0');
    const std::string package =
        test::GzipMember(tar.substr(0, 700)) + test::GzipMember(tar.substr(700));
    skiv::test::WriteFile(shelf.folder() + "alice-1.ksp", package);
    members.RecordPackage("Alice", "alice-1.ksp", static_cast<std::int64_t>(package.size()), 2,
                          500);
    skiv::test::WriteFile(shelf.folder() + "p.alice." + std::string(64, 'f'), "stray");

    for (int start = 0; start < 2; ++start) {
        VersionStore versions(target, shelf, 10);
        versions.Recover(1000);
        std::optional<VersionStore::Stream> current = versions.OpenVersion("alice", 1);
        ASSERT_TRUE(current);
        ASSERT_EQ(current->pieces.size(), 1u);
        EXPECT_EQ(current->pieces[0].name, "alice-1.ksp");
        EXPECT_FALSE(versions.OpenVersion("alice", 2)) << "adopted twice";
        const std::string manifest = *versions.ManifestText("alice", 1);
        EXPECT_NE(manifest.find("package " + std::to_string(package.size()) + " " + Sha(package)),
                  std::string::npos);
        EXPECT_NE(manifest.find("files 2 610\n"), std::string::npos) << manifest;
        EXPECT_EQ(versions.VersionList("alice").substr(0, 6), "1\t500\t");
        EXPECT_EQ(shelf.Names(), std::vector<std::string>{"alice-1.ksp"});
    }
    // The login still describes it.
    EXPECT_EQ(members.FindMember("alice")->fileType, 2);

    // A new whole package is split at its gzip members, and the adopted one
    // stays as the version before it.
    VersionStore versions(target, shelf, 10);
    IncomingFile in = shelf.Begin();
    ASSERT_TRUE(in.Write(package.data(), package.size()));
    versions.StoreWhole("alice", std::move(in), 1, 2000);
    std::optional<VersionStore::Stream> split = versions.OpenVersion("alice", 1);
    ASSERT_TRUE(split);
    ASSERT_EQ(split->pieces.size(), 2u);
    EXPECT_EQ(split->pieces[0].name, "p.alice." + Sha(test::GzipMember(tar.substr(0, 700))));
    EXPECT_EQ(split->size, static_cast<std::int64_t>(package.size()));
    EXPECT_TRUE(versions.OpenVersion("alice", 2));

    // A delta save marking the add-on piece shared finds Alice's private
    // copy and sends nothing; Bob, holding none, is asked for both pieces.
    ASSERT_TRUE(members.AddMember("Bob", "hash", 1));
    Manifest delta;
    delta.packageBytes = static_cast<std::int64_t>(package.size());
    delta.packageSha = Sha(package);
    for (const std::string& part : {tar.substr(0, 700), tar.substr(700)})
        delta.pieces.push_back({Sha(test::GzipMember(part)),
                                static_cast<std::int64_t>(test::GzipMember(part).size()),
                                delta.pieces.size() == 1});
    const std::string text = FormatManifest(delta);
    const std::string token(32, 'a');
    EXPECT_TRUE(versions.BeginUpload("alice", delta, text, token, 9000, 3000).empty());
    EXPECT_EQ(versions.BeginUpload("bob", delta, text, std::string(32, 'b'), 9000, 3000).size(),
              2u);
    ASSERT_EQ(versions.Commit("alice", token, 1, 3000), VersionStore::CommitResult::Ok);
    std::optional<VersionStore::Stream> again = versions.OpenVersion("alice", 1);
    ASSERT_TRUE(again);
    ASSERT_EQ(again->pieces.size(), 2u);
    EXPECT_EQ(again->pieces[1].name, "p.alice." + delta.pieces[1].sha);
}

// Two instances on one store and shelf: a download open on one holds its
// pieces while the other replaces the version and collects, and lets them
// go when it ends.
TEST_P(VersionStoreTest, PinsHoldAcrossInstancesUntilReleased) {
    MemberStore members(target);
    PackageShelf shelf(dir / "shelf");
    ASSERT_TRUE(members.AddMember("bob", "hash", 1));
    VersionStore one(target, shelf, 1);
    VersionStore two(target, shelf, 1);
    auto store = [&](VersionStore& on, const std::string& bytes, std::int64_t now) {
        IncomingFile in = shelf.Begin();
        ASSERT_TRUE(in.Write(bytes.data(), bytes.size()));
        on.StoreWhole("bob", std::move(in), 1, now);
    };
    store(one, "first package", 100);
    std::optional<VersionStore::Stream> download = one.OpenVersion("bob", 1);
    ASSERT_TRUE(download);
    const std::string held = download->pieces[0].name;

    store(two, "second package", 200);  // keeps one version, collects
    EXPECT_FALSE(two.OpenVersion("bob", 2));
    EXPECT_TRUE(shelf.Open(held)) << "collected under a download of the other instance";

    download.reset();
    EXPECT_EQ(two.Collect(300), 1);
    EXPECT_FALSE(shelf.Open(held));
    EXPECT_EQ(shelf.Names().size(), 1u);
}

// A delta upload from start to commit: only what the store lacks is asked
// for, a shared piece serves another member, and a commit counts once.
TEST_P(VersionStoreTest, DeltaUploadAsksOnlyForWhatIsMissingAndCommitsOnce) {
    MemberStore members(target);
    PackageShelf shelf(dir / "shelf");
    ASSERT_TRUE(members.AddMember("Dana", "hash", 1));
    ASSERT_TRUE(members.AddMember("erin", "hash", 1));
    VersionStore versions(target, shelf, 10);
    const std::string own = "private settings", addon = "shared add-on code";
    Manifest m;
    m.packageBytes = static_cast<std::int64_t>(own.size() + addon.size());
    m.packageSha = Sha(own + addon);
    m.computer = "PC";
    m.pieces = {{Sha(own), static_cast<std::int64_t>(own.size()), false},
                {Sha(addon), static_cast<std::int64_t>(addon.size()), true}};
    auto upload = [&](const std::string& member, const std::string& token) {
        std::vector<std::string> missing =
            versions.BeginUpload(member, m, FormatManifest(m), token, 1000, 100);
        for (const std::string& sha : missing) {
            std::optional<VersionStore::PieceRef> ref =
                versions.UploadPiece(member, token, sha, 100);
            EXPECT_TRUE(ref) << sha;
            if (!ref)
                continue;
            const std::string& bytes = sha == Sha(own) ? own : addon;
            IncomingFile in = shelf.Begin();
            EXPECT_TRUE(in.Write(bytes.data(), bytes.size()));
            versions.PutPiece(std::move(in), ref->name);
        }
        return missing;
    };
    EXPECT_EQ(upload("dana", "t1"), (std::vector<std::string>{Sha(own), Sha(addon)}));
    EXPECT_FALSE(versions.UploadPiece("erin", "t1", Sha(own), 100)) << "another member's upload";
    EXPECT_EQ(versions.Commit("DANA", "t1", 2, 150), VersionStore::CommitResult::Ok);
    EXPECT_EQ(versions.Commit("dana", "t1", 2, 150), VersionStore::CommitResult::UnknownUpload);
    EXPECT_EQ(members.FindMember("dana")->fileSize, m.packageBytes);
    // Erin holds the shared piece already, not Dana's private one.
    EXPECT_EQ(upload("erin", "t2"), std::vector<std::string>{Sha(own)});
    EXPECT_EQ(versions.Commit("erin", "t2", 0, 160), VersionStore::CommitResult::Ok);
    std::optional<VersionStore::Stream> got = versions.OpenVersion("erin", 1);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->pieces[1].name, VersionStore::PieceName("erin", Sha(addon), true));
    EXPECT_EQ(got->size, m.packageBytes);
    EXPECT_TRUE(upload("dana", "t3").empty());  // everything is there
}

// The background hashing of an upload's package: it hashes what is there,
// waits for a missing piece, goes on when told it arrived, and the check
// at commit uses its work (no piece is read twice) and gives the verdict a
// hash from scratch would.
TEST(UploadHasherTest, EarlyWorkIsUsedAndGivesTheCommitsVerdict) {
    InitCrypto();
    skiv::test::TempDir dir;
    PackageShelf shelf(dir / "shelf");
    auto place = [&](const std::string& name, const std::string& bytes) {
        IncomingFile in = shelf.Begin();
        ASSERT_TRUE(in.Write(bytes.data(), bytes.size()));
        in.Flush();
        shelf.PlaceAs(std::move(in), name);
    };
    std::atomic<int> opened{0};
    UploadHasher hasher([&](const std::string& name) {
        auto file = shelf.Open(name);
        if (file)
            ++opened;
        return file;
    });
    auto openedReaches = [&](int n) {
        for (int i = 0; i < 500 && opened < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return opened.load() >= n;
    };
    const std::vector<std::string> bytes = {"head and table", "add-on code", "saved variables"};
    const std::vector<UploadHasher::Piece> pieces = {{"a", 14}, {"b", 11}, {"c", 15}};
    const std::string whole = Sha(bytes[0] + bytes[1] + bytes[2]);
    place("a", bytes[0]);
    place("b", bytes[1]);

    hasher.Begin("t1", pieces, 1000, 100);
    ASSERT_TRUE(openedReaches(2));  // a and b, then it waits for c
    place("c", bytes[2]);
    hasher.Arrived("c");
    ASSERT_TRUE(openedReaches(3));
    EXPECT_TRUE(hasher.Check("t1", pieces, 40, whole));
    EXPECT_EQ(opened, 3) << "the check hashed again what the background had";

    // All there at the start: the background finishes, and a lie about the
    // whole is still caught; so is a wrong size.
    hasher.Begin("t2", pieces, 1000, 100);
    hasher.Begin("t3", pieces, 1000, 100);
    ASSERT_TRUE(openedReaches(9));
    EXPECT_FALSE(hasher.Check("t2", pieces, 40, Sha("something else")));
    EXPECT_FALSE(hasher.Check("t3", pieces, 41, whole));
    // A commit naming other pieces than the upload began with, or a token
    // never begun here, is hashed from scratch.
    hasher.Begin("t4", pieces, 1000, 100);
    const std::vector<UploadHasher::Piece> reordered = {pieces[1], pieces[0], pieces[2]};
    EXPECT_TRUE(hasher.Check("t4", reordered, 40, Sha(bytes[1] + bytes[0] + bytes[2])));
    EXPECT_TRUE(hasher.Check("never begun", pieces, 40, whole));
    EXPECT_FALSE(hasher.Check("t5", {{"a", 14}, {"gone", 3}}, 17, whole));
    EXPECT_EQ(hasher.Tracked(), 0u);

    // The table drops what expired and keeps at most its bound.
    UploadHasher small([&](const std::string& name) { return shelf.Open(name); }, 3);
    small.Begin("x", pieces, 200, 100);
    small.Begin("y", pieces, 1000, 100);
    small.Begin("z", pieces, 1000, 300);
    EXPECT_EQ(small.Tracked(), 2u);
    small.Begin("v", pieces, 1000, 300);
    small.Begin("w", pieces, 1000, 300);
    EXPECT_EQ(small.Tracked(), 3u);
}

// A member's records and pieces move from a data folder to PostgreSQL
// (pieces in a folder of their own) and on into a new data folder, with
// nothing lost; each copy goes on taking versions.
TEST(MigrateTest, MovesMembersAndVersionsBetweenEnginesBothWays) {
    InitCrypto();
    skiv::test::TempDir dir;
    std::string why;
    const std::string postgres = FreshStore("postgresql", dir, why);
    if (postgres.empty())
        GTEST_SKIP() << why;
    auto side = [&](const std::string& name, const std::string& store) {
        BackEndSettings s;
        s.dataDir = dir / (name + "/");
        ::mkdir(s.dataDir.c_str(), 0700);
        s.store = store;
        s.dbPool = 2;
        return s;
    };
    const BackEndSettings first = side("first", ""), middle = side("middle", postgres),
                          last = side("last", "");
    auto store = [](BackEnds& on, const std::string& bytes, std::int64_t now) {
        IncomingFile in = on.shelf().Begin();
        ASSERT_TRUE(in.Write(bytes.data(), bytes.size()));
        on.versions().StoreWhole("carol", std::move(in), 1, now);
    };
    std::string list;
    {
        BackEnds source(first);
        ASSERT_TRUE(source.members().AddMember("Carol", "hash", 5));
        store(source, "one", 100);
        store(source, "two", 200);
        list = source.versions().VersionList("carol");
    }
    std::ostringstream out, err;
    for (const auto& [from, to] : {std::pair{first, middle}, std::pair{middle, last}}) {
        BackEnds source(from), target(to);
        EXPECT_EQ(MigrateMembers(source.members(), source.versions(), target.members(),
                                 target.versions(), out, err),
                  1)
            << err.str();
    }
    for (const BackEndSettings& at : {middle, last}) {
        BackEnds there(at);
        EXPECT_EQ(there.members().FindMember("carol")->id, "Carol");
        EXPECT_EQ(there.versions().VersionList("carol"), list);
        store(there, "three " + at.dataDir, 300);
        std::optional<VersionStore::Stream> now = there.versions().OpenVersion("carol", 1);
        ASSERT_TRUE(now);
        EXPECT_EQ(now->size, static_cast<std::int64_t>(6 + at.dataDir.size()));
        EXPECT_EQ(there.versions().VersionList("carol").substr(0, 6), "1\t300\t");
    }
}

}  // namespace
}  // namespace skiv::server
