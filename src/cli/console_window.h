#pragma once
// The window operations on a terminal: messages to standard output,
// questions on the terminal (No without one, Yes with --yes), check boxes as
// plain state, the folder chooser answered by the command line.

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "workspace/window_ops.h"

namespace skiv::cli {

class ConsoleWindow final : public IWindowOps {
public:
    explicit ConsoleWindow(bool assumeYes) : m_assumeYes(assumeYes) {}

    void ShowMessage(std::string_view text) override;
    bool AskYesNo(std::string_view text, std::string_view title, bool questionIcon) override;
    void ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) override;
    void SetViewMode(int mode) override;
    void SetProgress(int position) override;
    std::string GetIdText() override { return m_id; }
    std::string GetPasswordText() override { return m_password; }
    int GetCheck(int id) override;
    void SetCheck(int id, int state) override;
    std::optional<std::string> ChooseFolder(std::string_view initialFolder) override;
    void StartProgram(std::string_view file, std::string_view workFolder) override;

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
    int LastViewMode() const { return m_viewMode; }

private:
    std::mutex m_lock;
    bool m_assumeYes;
    std::string m_id, m_password;
    std::map<int, int> m_checks;
    std::optional<std::string> m_gameFolder, m_intoFolder;
    bool m_installChooser = false;
    int m_viewMode = 0;
    int m_lastProgress = -1;
};

}  // namespace skiv::cli
