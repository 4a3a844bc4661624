#include "workspace/game_installs.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <sstream>

#include "platform/fs.h"
#include "platform/game_systems.h"
#include "platform/registry.h"

namespace skiv {

namespace {

constexpr const char* kGameKey = "SOFTWARE\\Blizzard Entertainment\\World of Warcraft";
constexpr const char* kRootLauncher = "World of Warcraft Launcher.exe";
constexpr const char* kSettingsFile = "game.conf";
constexpr std::size_t kMaxDatabaseBytes = 1 << 20;

struct Flavor {
    const char* folder;   // the flavor folder's name
    const char* product;  // its product code in .build.info and the install database
    const char* name;     // as the window shows it
};

// In the order the window lists them.
constexpr Flavor kFlavors[] = {
    {"_retail_", "wow", "본 서버"},
    {"_classic_", "wow_classic", "클래식"},
    {"_classic_era_", "wow_classic_era", "클래식 시대"},
    {"_ptr_", "wowt", "공개 테스트 서버"},
    {"_xptr_", "wowxptr", "확장팩 공개 테스트 서버"},
    {"_beta_", "wow_beta", "베타"},
    {"_classic_ptr_", "wow_classic_ptr", "클래식 공개 테스트 서버"},
    {"_classic_era_ptr_", "wow_classic_era_ptr", "클래식 시대 공개 테스트 서버"},
    {"_classic_beta_", "wow_classic_beta", "클래식 베타"},
};

constexpr const char* kExecutables[] = {
    "wow.exe",     "wow-64.exe",     "wowt.exe",        "wowt-64.exe",     "wowb.exe",
    "wowb-64.exe", "wowclassic.exe", "wowclassict.exe", "wowclassicb.exe",
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsFlavorName(const std::string& name) {
    return name.size() > 2 && name.front() == '_' && name.back() == '_';
}

// "/a/b/_retail_/" -> "_retail_"
std::string LastName(const std::string& folder) {
    std::string f = folder;
    while (!f.empty() && f.back() == '/')
        f.pop_back();
    return f.substr(f.rfind('/') + 1);
}

std::string Parent(const std::string& folder) {
    std::string f = folder;
    while (!f.empty() && f.back() == '/')
        f.pop_back();
    const auto slash = f.rfind('/');
    return slash == std::string::npos ? std::string() : f.substr(0, slash + 1);
}

// The file names of a folder (Wine's file systems ignore case, so the
// names are matched without it).
std::vector<std::string> FileNames(const std::string& folder) {
    std::vector<std::string> out;
    auto listing = fs::DirListing::Open(folder);
    if (!listing)
        return out;
    fs::DirItem item;
    while (listing->Next(item)) {
        if (item.name != "." && item.name != "..")
            out.push_back(item.name);
    }
    return out;
}

// The folder's game executable (its name as listed), or empty.
std::string GameExecutable(const std::string& folder) {
    for (const std::string& name : FileNames(folder)) {
        const std::string lower = Lower(name);
        for (const char* exe : kExecutables) {
            if (lower == exe && !fs::IsFolder(folder + name))
                return name;
        }
    }
    return {};
}

bool IsFlavorFolder(const std::string& folder) {
    return !GameExecutable(folder).empty() &&
           (fs::IsFolder(folder + "Interface/") || fs::IsFolder(folder + "WTF/"));
}

// The versions of the root's .build.info by product code: a '|'-separated
// table whose first line names the columns ("Name!TYPE:SIZE").
std::vector<std::pair<std::string, std::string>> BuildVersions(const std::string& root) {
    std::vector<std::pair<std::string, std::string>> out;
    const std::optional<std::string> text = fs::ReadWholeFile(root + ".build.info", 1 << 20);
    if (!text)
        return out;
    std::istringstream in(*text);
    std::string line;
    if (!std::getline(in, line))
        return out;
    auto cells = [](std::string text) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        std::vector<std::string> v;
        std::istringstream ss(text);
        std::string cell;
        while (std::getline(ss, cell, '|'))
            v.push_back(cell);
        return v;
    };
    const auto header = cells(line);
    std::size_t product = header.size(), version = header.size();
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string name = Lower(header[i].substr(0, header[i].find('!')));
        if (name == "product")
            product = i;
        if (name == "version")
            version = i;
    }
    if (version == header.size())
        return out;
    while (std::getline(in, line)) {
        const auto row = cells(line);
        if (row.size() <= version)
            continue;
        out.emplace_back(product < row.size() ? row[product] : std::string(), row[version]);
    }
    return out;
}

std::string VersionOf(const std::string& root, const std::string& flavor) {
    const auto versions = BuildVersions(root);
    for (const Flavor& f : kFlavors) {
        if (flavor != f.folder)
            continue;
        for (const auto& [product, version] : versions) {
            if (product == f.product)
                return version;
        }
    }
    // A file without product codes describes its one flavor.
    if (versions.size() == 1 && versions[0].first.empty())
        return versions[0].second;
    return {};
}

GameInstall FlavorInstall(const std::string& folder, const std::string& prefix) {
    GameInstall g;
    g.folder = folder;
    g.flavor = LastName(folder);
    const std::string exe = GameExecutable(folder);
    if (!IsFlavorName(g.flavor)) {
        // A renamed flavor folder: its executable tells which flavor it is.
        const std::string lower = Lower(exe);
        g.flavor = lower.rfind("wowclassic", 0) == 0 ? "_classic_" : "_retail_";
    }
    g.root = Parent(folder);
    g.prefix = prefix;
    g.program = fs::Exists(g.root + kRootLauncher) ? g.root + kRootLauncher : folder + exe;
    g.version = VersionOf(g.root, g.flavor);
    return g;
}

// The order of the flavor table, unknown flavors after it by name.
int FlavorRank(const std::string& flavor) {
    for (std::size_t i = 0; i < std::size(kFlavors); ++i) {
        if (flavor == kFlavors[i].folder)
            return static_cast<int>(i);
    }
    return static_cast<int>(std::size(kFlavors));
}

// Adds installs whose folder is not yet listed (by identity, so a folder
// reached through dosdevices/ and through drive_c/ is one).
class InstallList {
public:
    void Add(std::vector<GameInstall> installs) {
        for (GameInstall& g : installs) {
            auto id = fs::GetFolderId(g.folder);
            if (id && std::find(m_ids.begin(), m_ids.end(), *id) != m_ids.end())
                continue;
            if (id)
                m_ids.push_back(*id);
            m_installs.push_back(std::move(g));
        }
    }
    std::vector<GameInstall> Take() { return std::move(m_installs); }

private:
    std::vector<fs::FolderId> m_ids;
    std::vector<GameInstall> m_installs;
};

std::vector<GameInstall> FlavorsOnly(std::vector<GameInstall> installs) {
    std::erase_if(installs, [](const GameInstall& g) { return g.flavor.empty(); });
    return installs;
}

}  // namespace

std::string FlavorDisplayName(const std::string& flavor) {
    if (flavor.empty())
        return "월드 오브 워크래프트";
    for (const Flavor& f : kFlavors) {
        if (flavor == f.folder)
            return f.name;
    }
    return flavor;
}

std::string NormalizeFlavor(const std::string& flavor) {
    if (flavor.empty() || IsFlavorName(flavor))
        return flavor;
    return "_" + flavor + "_";
}

std::vector<GameInstall> InstallsAt(const std::string& folder, const std::string& prefix) {
    if (folder.empty() || !fs::IsFolder(folder))
        return {};
    if (fs::Exists(folder + "Launcher.exe"))
        return {GameInstall{folder, "", folder, prefix, folder + "Launcher.exe", ""}};
    if (IsFlavorFolder(folder))
        return {FlavorInstall(folder, prefix)};
    std::vector<GameInstall> out;
    for (const std::string& name : FileNames(folder)) {
        const std::string sub = folder + name + "/";
        if (IsFlavorName(name) && IsFlavorFolder(sub))
            out.push_back(FlavorInstall(sub, prefix));
    }
    std::sort(out.begin(), out.end(), [](const GameInstall& a, const GameInstall& b) {
        const int ra = FlavorRank(a.flavor), rb = FlavorRank(b.flavor);
        return ra != rb ? ra < rb : a.flavor < b.flavor;
    });
    return out;
}

bool LooksLikeFlavorLayout(const std::string& folder) {
    if (IsFlavorName(LastName(folder)) || !GameExecutable(folder).empty() ||
        fs::Exists(folder + kRootLauncher))
        return true;
    for (const std::string& name : FileNames(folder)) {
        if (IsFlavorName(name) && fs::IsFolder(folder + name))
            return true;
    }
    return false;
}

std::vector<std::string> ReadInstallDatabase(const std::string& file, LogSink& log) {
    std::vector<std::string> out;
    if (!fs::Exists(file))
        return out;
    const std::optional<std::string> text = fs::ReadWholeFile(file, kMaxDatabaseBytes);
    if (!text || text->find('\0') != std::string::npos) {
        log.Write("[GetWowPath]런처의 설치 목록을 읽을 수 없어 건너뜁니다:(%s)", file.c_str());
        return out;
    }
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto bar = line.find('|');
        if (line.empty() || line[0] == '#' || bar == std::string::npos || bar + 1 == line.size())
            continue;
        out.push_back(line.substr(bar + 1));
    }
    return out;
}

std::vector<GameInstall> FindFlavorInstalls(LogSink& log) {
    InstallList list;
    const auto systems = platform::FindGameSystems();
    for (std::size_t i = 0; i < systems.size(); ++i) {
        const platform::GameSystem& sys = systems[i];
        // The default system's old layout is found by its own rules.
        auto keep = [&](std::vector<GameInstall> found) {
            return i == 0 ? FlavorsOnly(std::move(found)) : found;
        };
        // A game folder named by a Windows path, or the root it names.
        auto named = [&](const std::string& windowsPath) {
            const std::string folder =
                fs::WithSlash(RegistryKey::MapWindowsPath(windowsPath, sys.prefix));
            auto found = keep(InstallsAt(folder, sys.prefix));
            // A flavor folder's siblings are installs of the same root.
            const bool flavorFolder =
                found.size() == 1 && !found[0].flavor.empty() && found[0].folder == folder;
            const std::string root = flavorFolder ? found[0].root : std::string();
            list.Add(std::move(found));
            if (flavorFolder)
                list.Add(FlavorsOnly(InstallsAt(root, sys.prefix)));
        };
        RegistryKey key;
        if (key.Open(kGameKey, sys.prefix)) {
            if (auto installPath = key.QueryString("InstallPath"))
                named(*installPath);
        }
        for (const std::string& path : ReadInstallDatabase(sys.programData + kInstallDatabase, log))
            named(path);
        for (const std::string& programFiles : sys.programFiles)
            list.Add(keep(InstallsAt(programFiles + "/World of Warcraft/", sys.prefix)));
    }
    return list.Take();
}

std::optional<std::string> RememberedGameFolder() {
    const std::optional<std::string> text =
        fs::ReadWholeFile(platform::GetSettingsFolder() + kSettingsFile, 64 * 1024);
    std::istringstream in(text.value_or(""));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("folder=", 0) == 0 && line.size() > 7)
            return line.substr(7);
    }
    return std::nullopt;
}

void RememberGameFolder(const std::string& folder, LogSink& log) {
    const std::string settings = platform::GetSettingsFolder();
    fs::EnsureFolder(Parent(settings));
    fs::EnsureFolder(settings);
    if (!fs::WriteWholeFile(
            settings + kSettingsFile,
            "# The game folder chosen last among several.\nfolder=" + folder + "\n"))
        log.Write("[GetWowPath]선택한 게임 폴더를 저장하지 못했습니다:(%s)", settings.c_str());
}

}  // namespace skiv
