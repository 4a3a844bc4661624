// Finding the game folder at login, and the target folder of an install
// into a folder of the user's choosing.

#include "platform/fs.h"
#include "platform/paths.h"
#include "workspace/controller.h"

namespace skiv {

namespace {
bool HasLauncher(const std::string& folder) {
    return fs::Exists(folder + "Launcher.exe");
}
}  // namespace

int CAddOnController::GetWowPath() {
    const std::string programFiles = paths::GetProgramFilesFolder();
    if (programFiles.empty()) {
        m_log.Write("[GetWowPath]Program Files 폴더를 찾을 수 없습니다");
        return rc::kNoProgramFiles;
    }
    // The registry value is used unchanged: a value without its final
    // separator glues "Launcher.exe" onto the folder's name and is not found.
    std::string folder = programFiles + "/World of Warcraft/";
    if (auto installPath = m_gameKey.QueryString("InstallPath")) {
        folder = RegistryKey::MapWindowsPath(*installPath, paths::GetWinePrefix());
    }
    if (HasLauncher(folder)) {
        m_session.gameFolder = folder;
        return 0;
    }
    auto chosen = m_window.ChooseFolder(fs::WithSlash(programFiles));
    if (!chosen) {
        m_window.ShowMessage("월드 오브 워크래프트 설치 폴더를 선택해야만 합니다");
        return rc::kChooserCancelled;
    }
    std::string f = fs::WithSlash(*chosen);
    if (!HasLauncher(f)) {
        m_log.Write("[GetWowPath]월드 오브 워크래프트의 설치 폴더가 잘못 선택되었습니다");
        m_window.ShowMessage("월드 오브 워크래프트 설치 폴더가 잘못 선택되었습니다");
        return rc::kNoLauncherInChoice;
    }
    m_session.gameFolder = f;
    return 0;
}

int CAddOnController::SetUserLoadPath() {
    auto chosen = m_window.ChooseFolder(paths::GetDesktopFolder());
    // An empty choice is no folder: WithSlash would make it the root.
    if (!chosen || chosen->empty()) {
        m_log.Write("[SetUserLoadPath]애드온을 로딩할 폴더를 선택하지 않았습니다");
        return rc::kLoadFolderDeclined;
    }
    m_session.loadFolder = fs::WithSlash(*chosen);
    return 0;
}

}  // namespace skiv
