// The delta wire's texts: the manifest both ways, and the login reply's
// extra tag.

#include <gtest/gtest.h>

#include "service/delta_exchange.h"
#include "service/tag_reply.h"

namespace skiv {
namespace {

TEST(DeltaManifest, RoundTripsAndRefusesWhatDoesNotAddUp) {
    Manifest m;
    m.packageBytes = 300;
    m.packageSha256 = std::string(64, 'a');
    m.files = 7;
    m.unpackedBytes = 9000;
    m.changed = 2;
    m.computer = "게임 PC #2%";
    m.pieces = {{std::string(64, 'b'), 100, false}, {std::string(64, 'c'), 200, true}};
    const std::string text = FormatManifest(m);
    EXPECT_NE(text.find("computer %EA%B2%8C%EC%9E%84%20PC%20%232%25\n"), std::string::npos);
    Manifest back;
    ASSERT_TRUE(ParseManifest(text, back));
    EXPECT_EQ(back.computer, m.computer);
    EXPECT_EQ(back.changed, 2);
    ASSERT_EQ(back.pieces.size(), 2u);
    EXPECT_TRUE(back.pieces[1].shared);
    EXPECT_EQ(FormatManifest(back), text);

    // Sizes that do not add up to the package, a hash that is not one, a
    // line of another kind: each refused.
    std::string bad = text;
    bad.replace(bad.find(" 200 "), 5, " 201 ");
    EXPECT_FALSE(ParseManifest(bad, back));
    bad = text;
    bad.replace(bad.find(std::string(64, 'c')), 1, "C");
    EXPECT_FALSE(ParseManifest(bad, back));
    EXPECT_FALSE(ParseManifest(text + "extra 1\n", back));
    EXPECT_FALSE(ParseManifest(text.substr(0, text.find("piece")), back));
}

TEST(DeltaManifest, ExtraLoginTagFollowsTheSixValues) {
    const std::string six =
        "<error>0</error><filesize>1</filesize><savedate>d</savedate><filetype>1</filetype>"
        "<memberkey>k</memberkey><uploadURL>u</uploadURL><downloadURL>w</downloadURL>";
    EXPECT_EQ(LoginExtraTag(six + "<delta>https://h/skivaddon/delta/c/</delta>", "delta"),
              "https://h/skivaddon/delta/c/");
    EXPECT_EQ(LoginExtraTag(six, "delta"), "");
    // Only after the six: a tag before them is not an offer.
    EXPECT_EQ(LoginExtraTag("<delta>x</delta>" + six, "delta"), "");
}

}  // namespace
}  // namespace skiv
