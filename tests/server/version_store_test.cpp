// The manifest parser and the package store's recovery at start, on a real
// SQLite file and shelf.

#include "version_store.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>

#include "member_store.h"
#include "secrets.h"
#include "support/temp_dir.h"

namespace skiv::server {
namespace {

std::string Sha(const std::string& bytes) {
    Sha256Stream s;
    s.Update(bytes.data(), bytes.size());
    return s.Hex();
}

std::string Gzip(const std::string& plain) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, plain.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
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
    };
    for (const auto& bad : badOnes) {
        EXPECT_FALSE(ParseManifest(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

// A data folder of the single-package layout: at start its package becomes
// the member's first version (its gzip members found, its archive counted),
// files no row names are removed, and a second start changes nothing.
TEST(VersionStoreTest, RecoverAdoptsAnOlderPackageAndSweepsStrays) {
    InitCrypto();
    skiv::test::TempDir dir;
    MemberStore members(dir / "members.sqlite");
    PackageShelf shelf(dir / "shelf");
    ASSERT_TRUE(members.AddMember("Alice", "hash", 1));
    const std::string tar =
        TarEntry("WTF/a.lua", "0123456789") + TarEntry("././@LongLink", "Interface/AddOns/x", 'L') +
        TarEntry("Interface/AddOns/x", std::string(600, 'x')) + std::string(1024, '\0');
    const std::string package = Gzip(tar.substr(0, 700)) + Gzip(tar.substr(700));
    skiv::test::WriteFile(shelf.folder() + "alice-1.ksp", package);
    members.RecordPackage("Alice", "alice-1.ksp", static_cast<std::int64_t>(package.size()), 2,
                          500);
    skiv::test::WriteFile(shelf.folder() + "p.alice." + std::string(64, 'f'), "stray");

    for (int start = 0; start < 2; ++start) {
        VersionStore versions(dir / "members.sqlite", shelf, 10);
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
    VersionStore versions(dir / "members.sqlite", shelf, 10);
    IncomingFile in = shelf.Begin();
    ASSERT_TRUE(in.Write(package.data(), package.size()));
    versions.StoreWhole("alice", std::move(in), 1, 2000);
    std::optional<VersionStore::Stream> split = versions.OpenVersion("alice", 1);
    ASSERT_TRUE(split);
    ASSERT_EQ(split->pieces.size(), 2u);
    EXPECT_EQ(split->pieces[0].name, "p.alice." + Sha(Gzip(tar.substr(0, 700))));
    EXPECT_EQ(split->size, static_cast<std::int64_t>(package.size()));
    EXPECT_TRUE(versions.OpenVersion("alice", 2));

    // A delta save marking the add-on piece shared finds Alice's private
    // copy and sends nothing; Bob, holding none, is asked for both pieces.
    ASSERT_TRUE(members.AddMember("Bob", "hash", 1));
    Manifest delta;
    delta.packageBytes = static_cast<std::int64_t>(package.size());
    delta.packageSha = Sha(package);
    for (const std::string& part : {tar.substr(0, 700), tar.substr(700)})
        delta.pieces.push_back({Sha(Gzip(part)), static_cast<std::int64_t>(Gzip(part).size()),
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

}  // namespace
}  // namespace skiv::server
