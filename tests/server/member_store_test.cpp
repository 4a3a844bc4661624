// The store and the package shelf on a real SQLite file and real folders.

#include "member_store.h"

#include <gtest/gtest.h>

#include <thread>

#include "package_shelf.h"
#include "secrets.h"
#include "support/temp_dir.h"

namespace skiv::server {
namespace {

class MemberStoreTest : public ::testing::Test {
protected:
    void SetUp() override { InitCrypto(); }
    skiv::test::TempDir dir;
    MemberStore store{dir / "members.sqlite"};
};

TEST_F(MemberStoreTest, IdsAreUniqueWithoutRegardToCase) {
    EXPECT_TRUE(store.AddMember("Alice", "h1", 10));
    EXPECT_FALSE(store.AddMember("alice", "h2", 11));
    auto m = store.FindMember("ALICE");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->id, "Alice");
    EXPECT_EQ(m->passwordHash, "h1");
    EXPECT_EQ(m->fileType, 0);
    EXPECT_FALSE(m->savedAt);
    EXPECT_FALSE(store.FindMember("Alic"));
}

TEST_F(MemberStoreTest, FailuresLockAtTheLimitAndClear) {
    for (int i = 0; i < 4; ++i)
        store.RecordFailure("x", 100, 5, 900);
    EXPECT_EQ(store.LockedUntil("x", 100), 0);
    store.RecordFailure("X", 100, 5, 900);
    EXPECT_EQ(store.LockedUntil("x", 100), 1000);
    EXPECT_EQ(store.LockedUntil("x", 1000), 0);  // expired
    // The count started again with the lock.
    store.RecordFailure("x", 1001, 5, 900);
    EXPECT_EQ(store.LockedUntil("x", 1001), 0);
    store.ClearFailures("x");
    for (int i = 0; i < 4; ++i)
        store.RecordFailure("x", 1002, 5, 900);
    EXPECT_EQ(store.LockedUntil("x", 1002), 0);
}

TEST_F(MemberStoreTest, SessionsAreBoundToTheMemberExpireAndAreTrimmed) {
    store.AddMember("a", "h", 0);
    store.AddMember("b", "h", 0);
    store.AddSession("a", {"keyA", "capA", 200}, 100, 3);
    EXPECT_TRUE(store.MemberKeyValid("A", "keyA", 150));
    EXPECT_TRUE(store.CapabilityValid("a", "capA", 150));
    EXPECT_FALSE(store.CapabilityValid("a", "keyA", 150));  // the two secrets differ in role
    EXPECT_FALSE(store.MemberKeyValid("b", "keyA", 150));
    EXPECT_FALSE(store.MemberKeyValid("a", "keyA", 200));  // expired
    EXPECT_FALSE(store.MemberKeyValid("a", "keyA", 250));

    for (int i = 0; i < 4; ++i)
        store.AddSession("a", {"k" + std::to_string(i), "c" + std::to_string(i), 1000}, 150, 3);
    EXPECT_FALSE(store.MemberKeyValid("a", "k0", 160));  // oldest dropped beyond three
    EXPECT_TRUE(store.MemberKeyValid("a", "k1", 160));
    EXPECT_TRUE(store.MemberKeyValid("a", "k3", 160));

    ASSERT_TRUE(store.SetSuspended("a", true));
    EXPECT_FALSE(store.MemberKeyValid("a", "k3", 160));
    ASSERT_TRUE(store.SetSuspended("a", false));
    EXPECT_FALSE(store.MemberKeyValid("a", "k3", 160));  // suspension ended the sessions
    EXPECT_FALSE(store.SetSuspended("nobody", true));
}

TEST_F(MemberStoreTest, RecordPackageReturnsTheReplacedName) {
    store.AddMember("a", "h", 0);
    EXPECT_EQ(store.RecordPackage("a", "a-1.ksp", 10, 1, 500), "");
    EXPECT_EQ(store.RecordPackage("a", "a-2.ksp", 20, 2, 600), "a-1.ksp");
    auto m = store.FindMember("a");
    EXPECT_EQ(m->packageName, "a-2.ksp");
    EXPECT_EQ(m->fileSize, 20);
    EXPECT_EQ(m->fileType, 2);
    EXPECT_EQ(m->savedAt, 600);
    EXPECT_THROW(store.RecordPackage("ghost", "g.ksp", 1, 1, 1), SqliteError);
    EXPECT_EQ(store.PackageNames(), std::vector<std::string>{"a-2.ksp"});
}

TEST_F(MemberStoreTest, ConcurrentWritersFromManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                std::string id = "m" + std::to_string(t) + "_" + std::to_string(i);
                store.AddMember(id, "h", 0);
                store.AddSession(id, {"k", "c", 100}, 1, 8);
                store.RecordFailure("guess" + std::to_string(i), 1, 5, 900);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(store.ListMembers().size(), 100u);
    EXPECT_EQ(store.LockedUntil("guess3", 1), 0);  // 4 failures each
}

TEST_F(MemberStoreTest, SettingIsCreatedOnce) {
    EXPECT_EQ(store.SettingOr("s", "first"), "first");
    EXPECT_EQ(store.SettingOr("s", "second"), "first");
    MemberStore reopened(dir / "members.sqlite");
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
