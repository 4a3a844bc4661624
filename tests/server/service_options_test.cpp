#include "service_options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "object_store.h"
#include "support/temp_dir.h"

namespace skiv::server {
namespace {

using test::TempDir;
using test::WriteFile;

std::optional<ServiceOptions> Parse(std::vector<std::string> args, std::string& error) {
    args.insert(args.begin(), "skivaddon-service");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(ServiceOptionsTest, ListenAddresses) {
    std::string host;
    int port = -1;
    ASSERT_TRUE(ParseListen("127.0.0.1:0", host, port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 0);
    ASSERT_TRUE(ParseListen("[::1]:8443", host, port));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 8443);
    EXPECT_FALSE(ParseListen("127.0.0.1", host, port));
    EXPECT_FALSE(ParseListen("127.0.0.1:65536", host, port));
    EXPECT_FALSE(ParseListen("127.0.0.1:-1", host, port));
    EXPECT_FALSE(ParseListen(":8443", host, port));
    EXPECT_FALSE(ParseListen("::1:8443", host, port));
}

TEST(ServiceOptionsTest, PublicUrlsMustBeBareHttpsOrigins) {
    EXPECT_EQ(NormalisePublicUrl("https://addons.example.org/"), "https://addons.example.org");
    EXPECT_EQ(NormalisePublicUrl("https://10.0.0.5:8443"), "https://10.0.0.5:8443");
    EXPECT_EQ(NormalisePublicUrl("https://[::1]:8443"), "https://[::1]:8443");
    EXPECT_FALSE(NormalisePublicUrl("http://example.org"));
    EXPECT_FALSE(NormalisePublicUrl("https://example.org/sub"));
    EXPECT_FALSE(NormalisePublicUrl("https://exa<mple.org"));
    EXPECT_FALSE(NormalisePublicUrl("https://"));
    EXPECT_FALSE(NormalisePublicUrl("https://host:0"));
    EXPECT_EQ(UrlHost("https://[::1]:8443"), "::1");
    EXPECT_EQ(UrlHost("https://a.example:1"), "a.example");
}

TEST(ServiceOptionsTest, CommandLines) {
    std::string error;
    auto o = Parse({"--data", "/d", "--listen", "0.0.0.0:9000", "--max-package-mb", "5",
                    "--hash-memory-kib", "8192", "member", "add", "bob"},
                   error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->listenPort, 9000);
    EXPECT_EQ(o->maxPackageMb, 5);
    EXPECT_EQ(o->hashCost.memoryBytes, 8192u * 1024);
    EXPECT_EQ(o->command, (std::vector<std::string>{"member", "add", "bob"}));

    EXPECT_FALSE(Parse({"--listen", "127.0.0.1:1"}, error));  // no --data
    EXPECT_FALSE(Parse({"--data", "/d", "--cert", "c.pem"}, error));
    EXPECT_FALSE(Parse({"--data", "/d", "--max-package-mb", "0"}, error));
    EXPECT_FALSE(Parse({"--data", "/d", "--max-package-mb"}, error));
    EXPECT_FALSE(Parse({"--data", "/d", "member", "add"}, error));
    EXPECT_FALSE(Parse({"--data", "/d", "--bogus"}, error));
    EXPECT_NE(error.find("--bogus"), std::string::npos);
}

TEST(ServiceOptionsTest, TrustedProxiesAndMigrate) {
    TempDir dir;
    const std::string file = dir / "service.toml";
    WriteFile(file,
              "data = \"/d\"\ntrusted-proxy = [\"::ffff:10.0.0.2\", \"10.0.0.2\", \"::1\"]\n");
    std::string error;
    auto o = Parse({"--config", file}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->trustedProxies, (std::vector<std::string>{"10.0.0.2", "::1"}));
    // The command line's list replaces the file's.
    o = Parse({"--config", file, "--trusted-proxy", "127.0.0.1"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->trustedProxies, (std::vector<std::string>{"127.0.0.1"}));
    EXPECT_FALSE(Parse({"--data", "/d", "--trusted-proxy", "nginx.local"}, error));
    WriteFile(file, "data = \"/d\"\ntrusted-proxy = [1]\n");
    EXPECT_FALSE(Parse({"--config", file}, error));

    // migrate needs both folders and no --data; the folders go with it only.
    o = Parse({"migrate", "--from", "/a", "--to", "/b"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->migrateFrom, "/a");
    EXPECT_FALSE(Parse({"migrate", "--from", "/a"}, error));
    EXPECT_FALSE(Parse({"--data", "/d", "--from", "/a", "member", "list"}, error));
}

TEST(ServiceOptionsTest, SettingsFileUnderTheFlags) {
    TempDir dir;
    const std::string file = dir / "service.toml";
    WriteFile(file,
              "data = \"/srv/skiv\"\nlisten = \"0.0.0.0:443\"\nmax-package-mb = 9\n"
              "public-url = \"https://addons.example.org\"\n"
              "store = \"postgresql://skiv@db:5432/skiv\"\ndb_pool = 16\n");
    std::string error;
    auto o = Parse({"--config", file, "--max-package-mb", "12", "member", "list"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->dataDir, "/srv/skiv");
    EXPECT_EQ(o->listenPort, 443);
    EXPECT_EQ(o->maxPackageMb, 12);  // the flag wins
    EXPECT_EQ(o->publicUrl, "https://addons.example.org");
    EXPECT_EQ(o->configFile, file);
    EXPECT_EQ(o->store, "postgresql://skiv@db:5432/skiv");
    EXPECT_EQ(o->dbPool, 16);
    o->store = "postgresql://skiv:pa55@db/skiv";
    EXPECT_NE(SettingsText(*o).find("store postgresql://skiv:(hidden)@db/skiv\n"),
              std::string::npos);

    // Each fault names the file and what is wrong with it.
    const std::pair<const char*, const char*> bad[] = {
        {"data = \"/d\"\nlisten-on = \"x\"\n", "unknown setting listen-on"},
        {"data = \"/d\"\nmax-package-mb = 0\n", "max-package-mb wants 1 to 4096"},
        {"data = \"/d\"\nquota-mb = 1.5\n", "quota-mb wants a string or a whole number"},
        {"data = \"/d\"\nlisten = \n", ":2:"},
        {"data = \"/d\"\nstore = \"/d/other.sqlite\"\n", "store wants postgresql://"},
        {"data = \"/d\"\ndb_pool = 0\n", "db-pool wants 1 to 1024"},
    };
    for (const auto& [text, expected] : bad) {
        WriteFile(file, text);
        EXPECT_FALSE(Parse({"--config", file}, error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_EQ(error.rfind(file, 0), 0u) << error;
    }
    EXPECT_FALSE(Parse({"--config", dir / "missing.toml"}, error));
}

// Object storage: the address is checked at parse time (also from the
// settings file, whose keys may be written with underscores), and the key
// file is refused unless only its owner can read it.
TEST(ServiceOptionsTest, ObjectStorageAddressAndKeys) {
    TempDir dir;
    std::string error;
    auto o = Parse({"--data", dir / "d", "--packages",
                    "s3://pieces?endpoint=http://127.0.0.1:9000/&region=eu-west-1"},
                   error);
    ASSERT_TRUE(o) << error;
    std::optional<ObjectStoreLocation> where = ParseObjectStoreUrl(o->packages, error);
    ASSERT_TRUE(where);
    EXPECT_EQ(where->bucket, "pieces");
    EXPECT_EQ(where->endpoint, "http://127.0.0.1:9000");
    EXPECT_EQ(where->region, "eu-west-1");
    for (const char* bad : {"s3://?endpoint=http://h:1", "s3://b?endpoint=ftp://h:1",
                            "s3://b?endpoint=http://h:1&colour=red", "s3://b/c?endpoint=http://h"})
        EXPECT_FALSE(Parse({"--data", dir / "d", "--packages", bad}, error)) << bad;

    WriteFile(dir / "service.toml", "data = \"" + dir / "d" +
                                        "\"\npackages = \"s3://b?endpoint=http://h:1\"\n"
                                        "s3_key_file = \"" +
                                        dir / "keys" + "\"\n");
    o = Parse({"--config", dir / "service.toml"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->s3KeyFile, dir / "keys");

    WriteFile(dir / "keys", "access_key = AK1\nsecret_key=SK1\n");
    ASSERT_EQ(::chmod((dir / "keys").c_str(), 0640), 0);
    EXPECT_FALSE(LoadObjectStoreKeys(dir / "keys", error));
    EXPECT_NE(error.find("only its owner"), std::string::npos) << error;
    ASSERT_EQ(::chmod((dir / "keys").c_str(), 0600), 0);
    std::optional<ObjectStoreKeys> keys = LoadObjectStoreKeys(dir / "keys", error);
    ASSERT_TRUE(keys) << error;
    EXPECT_EQ(keys->access, "AK1");
    EXPECT_EQ(keys->secret, "SK1");
    ::setenv("SKIVADDON_S3_ACCESS_KEY", "AK2", 1);
    ::unsetenv("SKIVADDON_S3_SECRET_KEY");
    EXPECT_FALSE(LoadObjectStoreKeys("", error));
    ::setenv("SKIVADDON_S3_SECRET_KEY", "SK2", 1);
    keys = LoadObjectStoreKeys("", error);
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->secret, "SK2");
    ::unsetenv("SKIVADDON_S3_ACCESS_KEY");
    ::unsetenv("SKIVADDON_S3_SECRET_KEY");
}

}  // namespace
}  // namespace skiv::server
