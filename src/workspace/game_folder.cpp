#include "workspace/game_folder.h"

#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace skiv {

namespace {
constexpr const char* kGameKey = "SOFTWARE\\Blizzard Entertainment\\World of Warcraft";

bool HasLauncher(const std::string& folder) {
    return fs::Exists(folder + "Launcher.exe");
}

GameInstall OldLayout(const std::string& folder) {
    return {folder, "", folder, paths::GetWinePrefix(), folder + "Launcher.exe", ""};
}

// One of several: asks, marking the one chosen last time.
ResultCode ChooseAmong(WindowOps& window, LogSink& log, const std::vector<GameInstall>& installs,
                       GameInstall& install) {
    if (installs.size() == 1) {
        install = installs[0];
        return ResultCode::Ok;
    }
    std::vector<FlavorChoice> choices;
    std::size_t preselected = 0;
    const auto remembered = RememberedGameFolder();
    for (const GameInstall& g : installs) {
        if (remembered && *remembered == g.folder)
            preselected = choices.size();
        choices.push_back({g.flavor, FlavorDisplayName(g.flavor), g.folder});
    }
    const auto chosen = window.ChooseFlavor(choices, preselected);
    if (!chosen || *chosen >= installs.size()) {
        window.ShowMessage("월드 오브 워크래프트 설치 폴더를 선택해야만 합니다");
        return ResultCode::ChooserCancelled;
    }
    install = installs[*chosen];
    RememberGameFolder(install.folder, log);
    return ResultCode::Ok;
}

}  // namespace

std::vector<GameInstall> FindGameInstalls(LogSink& log) {
    std::vector<GameInstall> out;
    const std::string programFiles = paths::GetProgramFilesFolder();
    // The registry value is used unchanged: a value without its final
    // separator glues "Launcher.exe" onto the folder's name and is not found.
    std::string candidate = programFiles + "/World of Warcraft/";
    RegistryKey key;
    key.Open(kGameKey, paths::GetWinePrefix());
    if (auto installPath = key.QueryString("InstallPath"))
        candidate = RegistryKey::MapWindowsPath(*installPath, paths::GetWinePrefix());
    if (!programFiles.empty() && HasLauncher(candidate))
        out.push_back(OldLayout(candidate));
    for (GameInstall& g : FindFlavorInstalls(log)) {
        const bool known = !out.empty() && fs::GetFolderId(g.folder) &&
                           fs::GetFolderId(g.folder) == fs::GetFolderId(out[0].folder);
        if (!known)
            out.push_back(std::move(g));
    }
    return out;
}

ResultCode FindGameFolder(WindowOps& window, LogSink& log, std::string& folder) {
    GameInstall install;
    const ResultCode r = FindGameInstall(window, log, {}, install);
    if (r == ResultCode::Ok)
        folder = install.folder;
    return r;
}

ResultCode FindGameInstall(WindowOps& window, LogSink& log, const GamePick& pick,
                           GameInstall& install) {
    const std::string programFiles = paths::GetProgramFilesFolder();
    if (programFiles.empty()) {
        log.Write("[GetWowPath]Program Files 폴더를 찾을 수 없습니다");
        return ResultCode::NoProgramFiles;
    }
    std::vector<GameInstall> installs;
    if (!pick.folder.empty())
        installs = InstallsAt(fs::WithSlash(pick.folder), paths::GetWinePrefix());
    if (installs.empty())
        installs = FindGameInstalls(log);
    if (!pick.flavor.empty()) {
        const std::string flavor = NormalizeFlavor(pick.flavor);
        std::erase_if(installs, [&](const GameInstall& g) { return g.flavor != flavor; });
        if (installs.empty()) {
            log.Write("[GetWowPath]%s 폴더를 찾을 수 없습니다", flavor.c_str());
            window.ShowMessage("월드 오브 워크래프트의 " + flavor + " 폴더(" +
                               FlavorDisplayName(flavor) + ")를 찾을 수 없습니다");
            return ResultCode::NoLauncherInChoice;
        }
    }
    if (!installs.empty())
        return ChooseAmong(window, log, installs, install);

    auto chosen = window.ChooseFolder(fs::WithSlash(programFiles));
    if (!chosen) {
        window.ShowMessage("월드 오브 워크래프트 설치 폴더를 선택해야만 합니다");
        return ResultCode::ChooserCancelled;
    }
    std::string f = fs::WithSlash(*chosen);
    if (HasLauncher(f)) {
        install = OldLayout(f);
        return ResultCode::Ok;
    }
    installs = InstallsAt(f, paths::GetWinePrefix());
    if (!installs.empty())
        return ChooseAmong(window, log, installs, install);
    if (LooksLikeFlavorLayout(f)) {
        log.Write("[GetWowPath]선택한 폴더에 게임 실행 파일과 Interface 또는 WTF 폴더가 없습니다");
        window.ShowMessage(
            "선택한 폴더에서 게임을 찾지 못했습니다. 게임 종류 폴더(_retail_, _classic_ 등)를 "
            "담은 설치 폴더나, 실행 파일(Wow.exe, WowClassic.exe 등)과 Interface 또는 WTF "
            "폴더가 함께 있는 게임 종류 폴더를 선택해 주세요");
        return ResultCode::NoLauncherInChoice;
    }
    log.Write("[GetWowPath]월드 오브 워크래프트의 설치 폴더가 잘못 선택되었습니다");
    window.ShowMessage("월드 오브 워크래프트 설치 폴더가 잘못 선택되었습니다");
    return ResultCode::NoLauncherInChoice;
}

ResultCode ChooseInstallFolder(WindowOps& window, LogSink& log, std::string& folder) {
    auto chosen = window.ChooseFolder(paths::GetDesktopFolder());
    // An empty choice is no folder: WithSlash would make it the root.
    if (!chosen || chosen->empty()) {
        log.Write("[SetUserLoadPath]애드온을 로딩할 폴더를 선택하지 않았습니다");
        return ResultCode::LoadFolderDeclined;
    }
    folder = fs::WithSlash(*chosen);
    return ResultCode::Ok;
}

}  // namespace skiv
