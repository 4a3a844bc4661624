#pragma once
// End to end: the real skivaddon-service on loopback with its own CA, and
// controllers driven through the scripted window, each on a game folder of
// its own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>

#include "platform/fs.h"
#include "support/fake_window.h"
#include "support/log_lines.h"
#include "support/service_launcher.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"
#include "workspace/controller.h"

namespace skiv::test {

inline constexpr const char* kMember = "alice";
// Holds every byte a form body must escape.
inline constexpr const char* kPassword = "p&ss=w+rd%20 한";

// One player's computer: a game folder, a log and a controller.
struct Computer {
    Computer(const std::string& baseUrl) : ctl(window, log, ServiceConfig{baseUrl}) {
        log.SetFolder(logDir.path());
        game = gameDir / "World of Warcraft/";
        fs::EnsureFolder(gameDir / "World of Warcraft");
        WriteFile(game + "Launcher.exe", "MZ");
    }
    // Logs in, answering the folder chooser with this game folder.
    void LogIn(const std::string& id = kMember, const std::string& password = kPassword) {
        window.SetId(id);
        window.SetPassword(password);
        window.QueueFolder(game);
        ctl.Login();
    }
    std::vector<std::string> LogLines() const { return LogLinesIn(logDir.path()); }
    // Presses a task button (Yes to every question) and waits for its worker.
    void Press(void (Controller::*command)()) {
        (ctl.*command)();
        ctl.WaitForWorker();
    }

    TempDir gameDir, logDir;
    std::string game;
    OperationLog log;
    FakeWindow window;
    Controller ctl;
};

class EndToEnd : public ::testing::Test {
protected:
    explicit EndToEnd(std::vector<std::string> serviceArgs = {}) : svc(std::move(serviceArgs)) {
        ::setenv("SKIVADDON_CA_FILE", svc.CaFile().c_str(), 1);
        // Discovery finds no game through the registry: an empty prefix.
        ::setenv("WINEPREFIX", prefix.path().c_str(), 1);
        ::unsetenv("ProgramFiles");
        svc.AddMember(kMember, kPassword);
    }
    std::unique_ptr<Computer> NewComputer() { return std::make_unique<Computer>(svc.BaseUrl()); }

    // A small add-on set with nested folders, dot files and a dot folder.
    static void MakeAddOnSet(const std::string& game, unsigned seed, bool cacheAndFonts) {
        WriteFile(game + "Interface/AddOns/Bags/Bags.lua", RandomBytes(40000, seed));
        WriteFile(game + "Interface/AddOns/Bags/Locale/koKR.lua", "L['가방'] = true\n");
        WriteFile(game + "Interface/AddOns/Bags/.pkgmeta", "meta");
        WriteFile(game + "Interface/AddOns/.git/HEAD", "ref");
        WriteFile(game + "WTF/Config.wtf", "SET uiScale \"0.9\"\n");
        WriteFile(game + "WTF/Account/ME/SavedVariables/Bags.lua",
                  RandomSavedVariables(9000, seed + 1));
        if (cacheAndFonts) {
            WriteFile(game + "Cache/WDB/data.wdb", RandomBytes(3000, seed + 2));
            WriteFile(game + "Fonts/ARIALN.TTF", RandomBytes(2000, seed + 3));
        }
    }

    TempDir prefix;
    ServiceLauncher svc;
};

// Progress positions a save or install may show: its fixed steps, the
// transfer range, and the final clear.
inline bool ProgressInRange(const std::vector<int>& positions) {
    for (int p : positions) {
        bool fixed = p == 0 || p == 2 || p == 5 || p == 7 || p == 100;
        if (!fixed && (p < 10 || p > 90))
            return false;
    }
    return true;
}

}  // namespace skiv::test
