// Game installs of every layout, each found by discovery (or chosen) and
// used for a whole save and install against the real service.

#include <unistd.h>

#include <gmock/gmock.h>

#include <functional>

#include "e2e_fixture.h"
#include "support/process.h"

namespace skiv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kBuildInfo =
    "Branch!STRING:0|Active!DEC:1|Build Key!HEX:16|Version!STRING:0|Product!STRING:0\n"
    "eu|1|0a1b|11.0.2.56421|wow\n"
    "eu|1|0c2d|1.15.2.55140|wow_classic\n";

// A flavor folder with its executable and the folders a save packs.
void MakeFlavor(const std::string& folder, const char* exe) {
    WriteFile(folder + exe, "MZ");
    fs::EnsureFolder(folder + "Cache");
}

// Makes c: of a prefix its drive_c, as Wine does.
void LinkDriveC(const std::string& prefix) {
    fs::EnsureFolder(prefix + "dosdevices");
    ASSERT_EQ(::symlink("../drive_c", (prefix + "dosdevices/c:").c_str()), 0);
}

struct Layout {
    const char* name;
    // Builds the install below home (the test's WINEPREFIX is prefix) and
    // scripts the window's answers; returns the folder the user chooses in
    // the folder chooser, if it is asked.
    std::function<std::string(const std::string& home, const std::string& prefix, FakeWindow&)>
        make;
    const char* gameFolderTail;  // where the game folder found must end
    const char* flavor;
    const char* version;
    const char* launched;   // what the launch option must start (a tail)
    const char* ownPrefix;  // the Wine prefix below home it starts in; null: the test's WINEPREFIX
};

const Layout kLayouts[] = {
    {"OldLayout",
     [](const std::string&, const std::string& prefix, FakeWindow&) {
         WriteFile(prefix + "drive_c/Program Files (x86)/World of Warcraft/Launcher.exe", "MZ");
         return std::string();
     },
     "/World of Warcraft/", "", "", "/World of Warcraft/Launcher.exe", nullptr},
    {"ModernRootWithThreeFlavors",
     [](const std::string&, const std::string& prefix, FakeWindow& window) {
         const std::string root = prefix + "drive_c/Games/World of Warcraft/";
         MakeFlavor(root + "_retail_/", "Wow.exe");
         MakeFlavor(root + "_classic_/", "WowClassic.exe");
         MakeFlavor(root + "_classic_era_/", "WowClassic.exe");
         fs::EnsureFolder(root + "_retail_/WTF");
         fs::EnsureFolder(root + "_classic_/WTF");
         fs::EnsureFolder(root + "_classic_era_/Interface");
         WriteFile(root + "World of Warcraft Launcher.exe", "MZ");
         WriteFile(root + ".build.info", kBuildInfo);
         LinkDriveC(prefix);
         WriteFile(prefix + "system.reg",
                   "WINE REGISTRY Version 2\n\n[Software\\\\Wow6432Node\\\\Blizzard "
                   "Entertainment\\\\World of Warcraft] 1\n\"InstallPath\"=\"C:\\\\Games\\\\World "
                   "of Warcraft\\\\_retail_\\\\\"\n");
         window.QueueFlavor(1);
         return std::string();
     },
     "/World of Warcraft/_classic_/", "_classic_", "1.15.2.55140",
     "/World of Warcraft/World of Warcraft Launcher.exe", nullptr},
    {"FlavorFolderChosenDirectly",
     [](const std::string& home, const std::string&, FakeWindow&) {
         MakeFlavor(home + "wow/_retail_/", "Wow.exe");
         fs::EnsureFolder(home + "wow/_retail_/Interface");
         return home + "wow/_retail_/";
     },
     "/wow/_retail_/", "_retail_", "", "/wow/_retail_/Wow.exe", nullptr},
    {"LutrisPrefixThroughTheInstallDatabase",
     [](const std::string& home, const std::string&, FakeWindow&) {
         const std::string prefix = home + "Games/world-of-warcraft/";
         MakeFlavor(prefix + "drive_c/WoW/_retail_/", "Wow.exe");
         fs::EnsureFolder(prefix + "drive_c/WoW/_retail_/WTF");
         WriteFile(prefix + "drive_c/WoW/.build.info", kBuildInfo);
         LinkDriveC(prefix);
         WriteFile(prefix + "drive_c/ProgramData/Blizzard Entertainment/Game Launcher/installs.db",
                   "# installed products\nwow|C:\\WoW\\_retail_\\\n");
         return std::string();
     },
     "/WoW/_retail_/", "_retail_", "11.0.2.56421", "/WoW/_retail_/Wow.exe",
     "Games/world-of-warcraft"},
    {"ProtonPrefix",
     [](const std::string& home, const std::string&, FakeWindow&) {
         const std::string pfx = home + ".local/share/Steam/steamapps/compatdata/2420/pfx/";
         const std::string game = pfx + "drive_c/Program Files (x86)/World of Warcraft/";
         MakeFlavor(game + "_classic_era_/", "WowClassic.exe");
         fs::EnsureFolder(game + "_classic_era_/WTF");
         // An install database that is no text is passed over.
         WriteFile(pfx + "drive_c/ProgramData/Blizzard Entertainment/Game Launcher/installs.db",
                   std::string("\0\x01\x02", 3));
         return std::string();
     },
     "/pfx/drive_c/Program Files (x86)/World of Warcraft/_classic_era_/", "_classic_era_", "",
     "/_classic_era_/WowClassic.exe", ".local/share/Steam/steamapps/compatdata/2420/pfx"},
};

// A player's computer on the install the layout made.
struct Player {
    explicit Player(const std::string& baseUrl) : ctl(window, log, ServiceConfig{baseUrl}) {
        log.SetFolder(logDir.path());
    }
    void LogIn() {
        window.SetId(kMember);
        window.SetPassword(kPassword);
        ctl.Login();
    }
    void Press(void (Controller::*command)()) {
        (ctl.*command)();
        ctl.WaitForWorker();
    }
    TempDir logDir;
    OperationLog log;
    FakeWindow window;
    Controller ctl;
};

class FlavorEndToEnd : public EndToEnd, public ::testing::WithParamInterface<Layout> {
protected:
    FlavorEndToEnd() {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            if (const char* v = std::getenv(name))
                m_saved.emplace_back(name, v);
        }
        ::setenv("HOME", home.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    }
    ~FlavorEndToEnd() override {
        ::unsetenv("XDG_CONFIG_HOME");
        for (const auto& [name, value] : m_saved)
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    TempDir home;
    std::vector<std::pair<std::string, std::string>> m_saved;
};

TEST_P(FlavorEndToEnd, IsFoundSavedAndInstalledWithItsFlavor) {
    const Layout& layout = GetParam();
    Player a(svc.BaseUrl());
    const std::string chosen = layout.make(home.path(), prefix.path(), a.window);
    if (!chosen.empty())
        a.window.QueueFolder(chosen);
    a.LogIn();
    ASSERT_TRUE(a.ctl.Session().loggedIn) << a.window.LastMessage();
    const SessionState& s = a.ctl.Session();
    EXPECT_THAT(s.gameFolder, ::testing::EndsWith(layout.gameFolderTail));
    EXPECT_EQ(s.flavor, layout.flavor);
    EXPECT_EQ(s.gameVersion, layout.version);
    EXPECT_EQ(a.window.ChooserOpenedAt().size(), chosen.empty() ? 0u : 1u);

    const std::string game = s.gameFolder;
    MakeAddOnSet(game, 7, false);
    const TreeSnapshot saved = SnapshotTree(game + "WTF");
    a.Press(&Controller::SaveSet);
    ASSERT_EQ(a.window.LastMessage(), "애드온이 모두 저장되었습니다");

    // Another login on the same install: the service tells where the set
    // came from; an install brings the saved set back and starts the game.
    Player b(svc.BaseUrl());
    if (!chosen.empty())
        b.window.QueueFolder(chosen);
    b.LogIn();
    ASSERT_TRUE(b.ctl.Session().loggedIn) << b.window.LastMessage();
    EXPECT_EQ(b.ctl.Session().savedFlavor, layout.flavor);
    EXPECT_EQ(b.ctl.Session().savedGameVersion, layout.version);
    WriteFile(game + "WTF/Config.wtf", "SET uiScale \"0.5\"\n");
    b.window.SetTaskOptions({.launchAfterInstall = true});
    b.Press(&Controller::InstallSet);
    ASSERT_EQ(b.window.LastMessage(), "애드온이 모두 세팅되었습니다");
    EXPECT_EQ(SnapshotTree(game + "WTF"), saved);
    ASSERT_EQ(b.window.Started().size(), 1u);
    const std::string started = b.window.Started()[0];
    EXPECT_THAT(started, ::testing::EndsWith(layout.launched));
    if (*layout.flavor == '\0') {
        EXPECT_EQ(started, game + "Launcher.exe");  // the one-folder layout as ever
    } else {
        const std::string winePrefix = layout.ownPrefix
                                           ? home / layout.ownPrefix
                                           : prefix.path().substr(0, prefix.path().size() - 1);
        EXPECT_THAT(started, StartsWith(winePrefix + ":"));
    }
    const std::string name = layout.name;
    if (name == "ProtonPrefix") {
        EXPECT_THAT(LogLinesIn(a.logDir.path()),
                    ::testing::Contains(HasSubstr("설치 목록을 읽을 수 없어 건너뜁니다")));
    }
    if (name != "ModernRootWithThreeFlavors")
        return;

    // Several flavors: the second login marked the first one's choice.
    ASSERT_EQ(b.window.FlavorQuestions().size(), 1u);
    EXPECT_EQ(b.window.FlavorQuestions()[0].preselected, 1u);
    EXPECT_EQ(b.window.FlavorQuestions()[0].choices[0].name, "본 서버");
    // A set saved from _classic_ is installed into _retail_ only when the
    // player says so.
    Player c(svc.BaseUrl());
    c.window.QueueFlavor(0);
    c.window.QueueAnswer(false);
    c.LogIn();
    ASSERT_EQ(c.ctl.Session().flavor, "_retail_");
    c.Press(&Controller::InstallSet);
    ASSERT_EQ(c.window.Questions().size(), 1u);
    EXPECT_THAT(c.window.Questions()[0].text,
                StartsWith("이 설정은 _classic_(클래식) 에서 저장되었습니다."));
    EXPECT_EQ(c.ctl.WorkersStarted(), 0u);

    // The command line lists the three and picks one by name.
    auto games = RunCommand(CliPath() + " games");
    ASSERT_EQ(games.status, 0) << games.output;
    EXPECT_THAT(games.output, HasSubstr("_classic_era_\t클래식 시대\t"));
    EXPECT_THAT(games.output, HasSubstr("_classic_\t클래식\t"));
    auto pick = RunCommand("SKIVADDON_SERVICE_URL=" + ShellQuote(svc.BaseUrl()) +
                               " SKIVADDON_CA_FILE=" + ShellQuote(svc.CaFile()) + " " + CliPath() +
                               " --id alice --password-stdin --yes --flavor classic install",
                           std::string(kPassword) + "\n");
    ASSERT_EQ(pick.status, 0) << pick.output;
    EXPECT_THAT(pick.output, HasSubstr("_classic_/"));
}

INSTANTIATE_TEST_SUITE_P(Layouts, FlavorEndToEnd, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace skiv::test
