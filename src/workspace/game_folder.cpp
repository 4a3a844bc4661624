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
}  // namespace

ResultCode FindGameFolder(WindowOps& window, LogSink& log, std::string& folder) {
    const std::string programFiles = paths::GetProgramFilesFolder();
    if (programFiles.empty()) {
        log.Write("[GetWowPath]Program Files 폴더를 찾을 수 없습니다");
        return ResultCode::NoProgramFiles;
    }
    // The registry value is used unchanged: a value without its final
    // separator glues "Launcher.exe" onto the folder's name and is not found.
    std::string candidate = programFiles + "/World of Warcraft/";
    RegistryKey key;
    key.Open(kGameKey, paths::GetWinePrefix());
    if (auto installPath = key.QueryString("InstallPath"))
        candidate = RegistryKey::MapWindowsPath(*installPath, paths::GetWinePrefix());
    if (HasLauncher(candidate)) {
        folder = candidate;
        return ResultCode::Ok;
    }
    auto chosen = window.ChooseFolder(fs::WithSlash(programFiles));
    if (!chosen) {
        window.ShowMessage("월드 오브 워크래프트 설치 폴더를 선택해야만 합니다");
        return ResultCode::ChooserCancelled;
    }
    std::string f = fs::WithSlash(*chosen);
    if (!HasLauncher(f)) {
        log.Write("[GetWowPath]월드 오브 워크래프트의 설치 폴더가 잘못 선택되었습니다");
        window.ShowMessage("월드 오브 워크래프트 설치 폴더가 잘못 선택되었습니다");
        return ResultCode::NoLauncherInChoice;
    }
    folder = f;
    return ResultCode::Ok;
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
