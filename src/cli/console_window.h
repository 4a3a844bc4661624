#pragma once
// The window operations on a terminal: messages to standard output,
// questions on the terminal (No without one, Yes with --yes), the task
// options and the folder chooser answered by the command line.

#include <mutex>
#include <optional>
#include <string>

#include "workspace/window_ops.h"

namespace skiv::cli {

class ConsoleWindow final : public WindowOps {
public:
    explicit ConsoleWindow(bool assumeYes) : m_assumeYes(assumeYes) {}

    void ShowMessage(std::string_view text) override;
    bool AskYesNo(std::string_view text, std::string_view title, bool questionIcon) override;
    void ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) override;
    void SetViewMode(ViewMode mode) override;
    void SetProgress(int position) override;
    std::string GetIdText() override { return m_id; }
    std::string GetPasswordText() override { return m_password; }
    TaskOptions GetTaskOptions() override;
    std::optional<std::string> ChooseFolder(std::string_view initialFolder) override;
    void StartProgram(std::string_view file, std::string_view workFolder) override;
    // The backup named by --backup; without it, asked on the terminal.
    std::optional<int> ChooseBackup(const std::vector<BackupChoice>& backups) override;

    void SetTaskOptions(TaskOptions options);
    void SetCredentials(std::string id, std::string password) {
        m_id = std::move(id);
        m_password = std::move(password);
    }
    // Answers of the folder chooser, in the order it is opened; an empty
    // queue answers "cancelled".
    void SetGameFolderAnswer(std::optional<std::string> folder) {
        m_gameFolder = std::move(folder);
    }
    void SetIntoFolderAnswer(std::optional<std::string> folder) {
        m_intoFolder = std::move(folder);
    }
    // Which answer the next chooser gets: the game folder at login, the
    // target folder during an install.
    void ExpectInstallChooser(bool install) { m_installChooser = install; }
    void SetBackupAnswer(std::optional<int> number) { m_backup = number; }
    ViewMode LastViewMode() const { return m_viewMode; }

private:
    std::mutex m_lock;
    bool m_assumeYes;
    std::string m_id, m_password;
    TaskOptions m_options;
    std::optional<std::string> m_gameFolder, m_intoFolder;
    bool m_installChooser = false;
    std::optional<int> m_backup;
    ViewMode m_viewMode = ViewMode::LoggedOut;
    int m_lastProgress = -1;
};

}  // namespace skiv::cli
