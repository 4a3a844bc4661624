// What the service records of a package as it streams in, against the
// client's own reading of the same bytes: its SHA-256 (a second, separate
// implementation) and its archive's entry count and decompressed size.

#include "package_digest.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "gzip_member.h"
#include "platform/sha256.h"
#include "support/temp_dir.h"

namespace skiv::server {
namespace {

// An archive head saying `count` entries, then `extra` bytes.
std::string Archive(std::int32_t count, std::size_t extra) {
    std::string a(516, '\0');
    std::memcpy(a.data() + 512, &count, 4);  // little-endian on the test hosts
    return a + test::RandomBytes(extra, 3);
}

PackageDigest Digest(const std::string& bytes, std::size_t chunk) {
    PackageDigester d;
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        d.Feed(bytes.data() + at, std::min(chunk, bytes.size() - at));
    return d.Finish();
}

TEST(PackageDigestTest, MatchesTheClientsReadingInAnyChunking) {
    const std::string archive = Archive(9, 200000), second = Archive(2, 10);
    const std::string gz = test::GzipMember(archive);
    struct Case {
        const char* what;
        std::string bytes;
        std::int64_t entries, size;
    } cases[] = {
        {"gzip", gz, 9, std::int64_t(archive.size())},
        // The client's gzip reading runs on into a second member.
        {"two members", gz + test::GzipMember(second), 9,
         std::int64_t(archive.size() + second.size())},
        {"not gzip", archive, 9, std::int64_t(archive.size())},
        {"gzip cut short", gz.substr(0, gz.size() - 1), -1, -1},
        {"gzip damaged", gz.substr(0, 40) + "xxxx" + gz.substr(44), -1, -1},
        {"shorter than a head", "ab", -1, -1},
        // Expanding far beyond any real set is not followed to the end.
        {"gzip bomb", test::GzipMember(Archive(1, 0) + std::string(64 << 20, '\0')), -1, -1},
    };
    for (const Case& c : cases) {
        Sha256 client;
        client.Update(c.bytes.data(), c.bytes.size());
        const std::string sha = client.FinalHex();
        for (std::size_t chunk : {std::size_t(1), std::size_t(7), std::size_t(1) << 20}) {
            if (chunk == 1 && c.bytes.size() > 100000)
                chunk = 3;
            const PackageDigest d = Digest(c.bytes, chunk);
            EXPECT_EQ(d.sha256, sha) << c.what << " in chunks of " << chunk;
            EXPECT_EQ(d.entries, c.entries) << c.what << " in chunks of " << chunk;
            EXPECT_EQ(d.bytes, c.size) << c.what << " in chunks of " << chunk;
        }
    }
    // And the client's SHA-256 itself, on the standard's own examples.
    Sha256 abc;
    abc.Update("abc", 3);
    EXPECT_EQ(abc.FinalHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    Sha256 two;
    const char* msg = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    two.Update(msg, std::strlen(msg));
    EXPECT_EQ(two.FinalHex(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
}  // namespace skiv::server
