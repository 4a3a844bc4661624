#pragma once
// The window operations on a terminal: messages to standard output,
// questions on the terminal (No without one, Yes with --yes), the task
// options and the folder chooser answered by the command line.
//
// Progress: on a terminal one line rewritten in place (cli/progress_line.h);
// otherwise one line per tenth on standard error; with --quiet nothing, and
// the messages are held until the caller knows whether they tell of a
// failure (TakeHeldMessages).

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "workspace/window_ops.h"

namespace skiv::cli {

enum class ConsoleOutput { Lines, Terminal, Quiet };

class ConsoleWindow final : public WindowOps {
public:
    explicit ConsoleWindow(bool assumeYes, ConsoleOutput output = ConsoleOutput::Lines,
                           std::string serviceUrl = {})
        : m_assumeYes(assumeYes), m_output(output), m_serviceUrl(std::move(serviceUrl)) {}

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
    // Standard input may carry the password, so no list is asked on it: the
    // flavors are printed with how to pick one, and the answer is a cancel.
    std::optional<std::size_t> ChooseFlavor(const std::vector<FlavorChoice>& choices,
                                            std::size_t preselected) override;
    void StartProgramIn(std::string_view file, std::string_view workFolder,
                        std::string_view winePrefix) override;
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

    // Names the task about to run as the window's button does; for a
    // transfer, transferTotal tells the package's size once the transfer
    // has begun (0 when unknown).
    void BeginStep(std::string step, std::function<std::int64_t()> transferTotal = {});
    // The messages held back under --quiet, oldest first; clears them.
    std::string TakeHeldMessages();

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

    void DrawProgressLine(int position);
    void EndProgressLine();
    ConsoleOutput m_output;
    std::string m_serviceUrl;
    std::string m_held;
    // The running step's progress line.
    std::string m_step;
    std::function<std::int64_t()> m_transferTotal;
    std::int64_t m_total = -1;  // -1 = not asked yet
    std::chrono::steady_clock::time_point m_stepStart, m_transferStart;
    bool m_lineDrawn = false;
};

}  // namespace skiv::cli
