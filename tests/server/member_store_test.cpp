// The store on both engines, and the package shelf on real folders.

#include "member_store.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "package_shelf.h"
#include "secrets.h"
#include "store_engines.h"
#include "support/temp_dir.h"

namespace skiv::server {
namespace {

class MemberStoreTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        InitCrypto();
        std::string why;
        target = FreshStore(GetParam(), dir, why);
        if (target.empty())
            GTEST_SKIP() << why;
        owned = std::make_unique<MemberStore>(target);
    }
    skiv::test::TempDir dir;
    std::string target;
    std::unique_ptr<MemberStore> owned;
    MemberStore& store() { return *owned; }
};
INSTANTIATE_TEST_SUITE_P(Engines, MemberStoreTest, kStoreEngines, EngineName);

TEST_P(MemberStoreTest, IdsAreUniqueWithoutRegardToCase) {
    EXPECT_TRUE(store().AddMember("Alice", "h1", 10));
    EXPECT_FALSE(store().AddMember("alice", "h2", 11));
    auto m = store().FindMember("ALICE");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->id, "Alice");
    EXPECT_EQ(m->passwordHash, "h1");
    EXPECT_EQ(m->fileType, 0);
    EXPECT_FALSE(m->savedAt);
    EXPECT_FALSE(store().FindMember("Alic"));
}

TEST_P(MemberStoreTest, LoginThrottleBacksOffLongerAndCountsIpv6ByPrefix) {
    const LoginLimits limits{3, 5, 100, 60, 200};
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(store().BeginLoginAttempt("x", "10.0.0.1", 100, limits));
    EXPECT_FALSE(store().BeginLoginAttempt("X", "10.0.0.1", 159, limits));
    // Past the block, one more failure doubles it; then it stops growing.
    EXPECT_TRUE(store().BeginLoginAttempt("x", "10.0.0.1", 160, limits));
    EXPECT_FALSE(store().BeginLoginAttempt("x", "10.0.0.1", 279, limits));
    EXPECT_TRUE(store().BeginLoginAttempt("x", "10.0.0.1", 280, limits));
    EXPECT_FALSE(store().BeginLoginAttempt("x", "10.0.0.1", 479, limits));
    // 5 failures from 10.0.0.1 now: the address is blocked for any ID.
    EXPECT_FALSE(store().BeginLoginAttempt("y", "10.0.0.1", 300, limits));

    // An attempt counts before its password is checked; a right one takes
    // back its own count only.
    ASSERT_TRUE(store().BeginLoginAttempt("a", "10.0.0.3", 100, limits));
    ASSERT_TRUE(store().BeginLoginAttempt("a", "10.0.0.3", 100, limits));
    ASSERT_TRUE(store().BeginLoginAttempt("a", "10.0.0.3", 100, limits));
    EXPECT_FALSE(store().BeginLoginAttempt("a", "10.0.0.3", 100, limits));
    store().LoginSucceeded("a", "10.0.0.3", limits);
    EXPECT_TRUE(store().BeginLoginAttempt("a", "10.0.0.3", 100, limits));
    EXPECT_FALSE(store().BeginLoginAttempt("a", "10.0.0.3", 100, limits));

    // An IPv6 client's /64 counts as one address; the IPv4-mapped form of
    // an IPv4 address is that address.
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(store().BeginLoginAttempt("id" + std::to_string(i),
                                              "2001:db8::" + std::to_string(i), 100, limits));
    EXPECT_FALSE(store().BeginLoginAttempt("id9", "2001:db8::ffff:1", 100, limits));
    EXPECT_TRUE(store().BeginLoginAttempt("id9", "2001:db8:0:1::1", 100, limits));
    EXPECT_FALSE(store().BeginLoginAttempt("other", "::ffff:10.0.0.1", 300, limits));
}

TEST_P(MemberStoreTest, SessionsAreBoundToTheMemberExpireAndAreTrimmed) {
    store().AddMember("a", "h", 0);
    store().AddMember("b", "h", 0);
    store().AddSession("a", {"keyA", "capA", 200}, 100, 3);
    EXPECT_TRUE(store().MemberKeyValid("A", "keyA", 150));
    EXPECT_TRUE(store().CapabilityValid("a", "capA", 150));
    EXPECT_FALSE(store().CapabilityValid("a", "keyA", 150));  // the two secrets differ in role
    EXPECT_FALSE(store().MemberKeyValid("b", "keyA", 150));
    EXPECT_FALSE(store().MemberKeyValid("a", "keyA", 200));  // expired
    EXPECT_FALSE(store().MemberKeyValid("a", "keyA", 250));

    for (int i = 0; i < 4; ++i)
        store().AddSession("a", {"k" + std::to_string(i), "c" + std::to_string(i), 1000}, 150, 3);
    EXPECT_FALSE(store().MemberKeyValid("a", "k0", 160));  // oldest dropped beyond three
    EXPECT_TRUE(store().MemberKeyValid("a", "k1", 160));
    EXPECT_TRUE(store().MemberKeyValid("a", "k3", 160));

    ASSERT_TRUE(store().SetSuspended("a", true));
    EXPECT_FALSE(store().MemberKeyValid("a", "k3", 160));
    ASSERT_TRUE(store().SetSuspended("a", false));
    EXPECT_FALSE(store().MemberKeyValid("a", "k3", 160));  // suspension ended the sessions
    EXPECT_FALSE(store().SetSuspended("nobody", true));
}

TEST(MemberStoreFileTest, KeepsOnlyDigestsOfSecretsAndMigratesAnOldFile) {
    InitCrypto();
    skiv::test::TempDir dir;
    const std::string path = dir / "members.sqlite";
    {
        // The first layout: live secrets in the sessions table.
        Database old(path);
        old.Exec(
            "CREATE TABLE members (id TEXT PRIMARY KEY COLLATE NOCASE, password_hash TEXT NOT "
            "NULL, suspended INTEGER NOT NULL DEFAULT 0, created_at INTEGER NOT NULL, file_size "
            "INTEGER NOT NULL DEFAULT 0, file_type INTEGER NOT NULL DEFAULT 0, saved_at INTEGER, "
            "package_name TEXT);"
            "CREATE TABLE sessions (member_id TEXT NOT NULL, member_key TEXT NOT NULL, "
            "capability TEXT NOT NULL, issued_at INTEGER NOT NULL, expires_at INTEGER NOT NULL);"
            "CREATE TABLE login_failures (login_id TEXT PRIMARY KEY, failures INTEGER NOT NULL, "
            "locked_until INTEGER NOT NULL DEFAULT 0, last_failure INTEGER NOT NULL);"
            "INSERT INTO members (id, password_hash, created_at) VALUES ('alice', 'h', 1);"
            "INSERT INTO sessions VALUES ('alice', 'oldkey', 'oldcap', 1, 999999);"
            "INSERT INTO login_failures VALUES ('alice', 0, 999999, 1);");
    }
    MemberStore store(path);
    ASSERT_TRUE(store.FindMember("alice"));
    EXPECT_FALSE(store.MemberKeyValid("alice", "oldkey", 10));
    EXPECT_TRUE(store.BeginLoginAttempt("alice", "10.0.0.1", 10, {}));  // the old lock is gone
    store.AddSession("alice", {"newkey", "newcap", 1000}, 10, 8);
    EXPECT_TRUE(store.MemberKeyValid("alice", "newkey", 20));
    EXPECT_TRUE(store.CapabilityValid("alice", "newcap", 20));

    // Nothing in the file can be replayed as a key or capability.
    Database raw(path);
    auto rows = raw.Prepare("SELECT * FROM sessions");
    int seen = 0;
    while (rows.Step()) {
        ++seen;
        for (int c = 0; c < 5; ++c) {
            for (const char* secret : {"newkey", "newcap", "oldkey"})
                EXPECT_NE(rows.Text(c), secret);
        }
    }
    EXPECT_EQ(seen, 1);
    MemberStore reopened(path);  // a migrated file opens as it is
    EXPECT_TRUE(reopened.MemberKeyValid("alice", "newkey", 20));
}

TEST_P(MemberStoreTest, RecordPackageReturnsTheReplacedName) {
    store().AddMember("a", "h", 0);
    EXPECT_EQ(store().RecordPackage("a", "a-1.ksp", 10, 1, 500), "");
    EXPECT_EQ(store().RecordPackage("a", "a-2.ksp", 20, 2, 600), "a-1.ksp");
    auto m = store().FindMember("a");
    EXPECT_EQ(m->packageName, "a-2.ksp");
    EXPECT_EQ(m->fileSize, 20);
    EXPECT_EQ(m->fileType, 2);
    EXPECT_EQ(m->savedAt, 600);
    EXPECT_TRUE(m->packageSha256.empty());  // nothing recorded of it
    // What was recorded at upload goes with its package, and is replaced
    // with it.
    store().RecordPackage("a", "a-3.ksp", 30, 1, 700, std::string(64, 'c'), 7, 9000);
    m = store().FindMember("a");
    EXPECT_EQ(m->packageSha256, std::string(64, 'c'));
    EXPECT_EQ(m->packageEntries, 7);
    EXPECT_EQ(m->packageBytes, 9000);
    store().RecordPackage("a", "a-4.ksp", 30, 1, 800);
    EXPECT_TRUE(store().FindMember("a")->packageSha256.empty());
    EXPECT_THROW(store().RecordPackage("ghost", "g.ksp", 1, 1, 1), SqliteError);
    EXPECT_EQ(store().PackageNames(), std::vector<std::string>{"a-4.ksp"});
}

TEST_P(MemberStoreTest, ConcurrentWritersFromManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                std::string id = "m" + std::to_string(t) + "_" + std::to_string(i);
                store().AddMember(id, "h", 0);
                store().AddSession(id, {"k", "c", 100}, 1, 8);
                store().BeginLoginAttempt("guess" + std::to_string(i),
                                          "10.0.0." + std::to_string(t), 1, {});
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(store().ListMembers().size(), 100u);
    // 4 failures each, under every limit.
    EXPECT_TRUE(store().BeginLoginAttempt("guess3", "10.0.0.0", 1, {}));
}

TEST_P(MemberStoreTest, SettingIsCreatedOnce) {
    EXPECT_EQ(store().SettingOr("s", "first"), "first");
    EXPECT_EQ(store().SettingOr("s", "second"), "first");
    MemberStore reopened(target);  // and the schema is not made twice
    EXPECT_EQ(reopened.SettingOr("s", "third"), "first");
}

TEST(PackageShelfTest, PlacesSweepsAndCleansLeftovers) {
    InitCrypto();
    skiv::test::TempDir dir;
    skiv::test::WriteFile(dir / "shelf/incoming/old.part", "interrupted");
    PackageShelf shelf(dir / "shelf");
    EXPECT_THROW(skiv::test::ReadFile(dir / "shelf/incoming/old.part"), std::runtime_error);

    IncomingFile in = shelf.Begin();
    std::string tempPath = in.path();
    ASSERT_TRUE(in.Write("hello ", 6));
    ASSERT_TRUE(in.Write("world", 5));
    EXPECT_EQ(in.size(), 11);
    std::string name = shelf.Place(std::move(in), "Alice");
    EXPECT_EQ(name.rfind("alice-", 0), 0u);
    EXPECT_THROW(skiv::test::ReadFile(tempPath), std::runtime_error);
    auto stored = shelf.Open(name);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size, 11);
    EXPECT_EQ(skiv::test::ReadFile(shelf.folder() + name), "hello world");
    EXPECT_FALSE(shelf.Open("../members.sqlite"));

    // An abandoned upload leaves nothing behind.
    {
        IncomingFile dropped = shelf.Begin();
        dropped.Write("x", 1);
    }
    skiv::test::WriteFile(shelf.folder() + "stray.ksp", "orphan");
    shelf.Sweep({name});
    EXPECT_FALSE(shelf.Open("stray.ksp"));
    EXPECT_TRUE(shelf.Open(name));
}

}  // namespace
}  // namespace skiv::server
