#include "cli/console_window.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace skiv::cli {

void ConsoleWindow::ShowMessage(std::string_view text) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_lastProgress > 0 && ::isatty(STDERR_FILENO))
        std::fputc('\n', stderr);
    std::printf("%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
}

bool ConsoleWindow::AskYesNo(std::string_view text, std::string_view title, bool) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::printf("[%.*s] %.*s\n", static_cast<int>(title.size()), title.data(),
                static_cast<int>(text.size()), text.data());
    if (m_assumeYes) {
        std::printf("(yes)\n");
        std::fflush(stdout);
        return true;
    }
    if (!::isatty(STDIN_FILENO)) {
        std::printf("(no terminal to ask: no)\n");
        std::fflush(stdout);
        return false;
    }
    std::printf("[y/N] ");
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

void ConsoleWindow::ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (hasData) {
        std::printf("stored set: %d MB, saved %.*s\n", sizeUnits, static_cast<int>(date.size()),
                    date.data());
    } else {
        std::printf("no stored set\n");
    }
    std::fflush(stdout);
}

void ConsoleWindow::SetViewMode(ViewMode mode) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_viewMode = mode;
}

void ConsoleWindow::SetProgress(int position) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (position == m_lastProgress)
        return;
    if (::isatty(STDERR_FILENO)) {
        if (position == 0) {
            std::fputs("\r\033[K", stderr);
        } else {
            int bars = position / 5;
            std::fprintf(stderr, "\r[%-20.*s] %3d%%", bars, "####################", position);
        }
    } else if (position == 0 || position == 100 || position / 10 != m_lastProgress / 10) {
        std::fprintf(stderr, "progress %d%%\n", position);
    }
    std::fflush(stderr);
    m_lastProgress = position;
}

TaskOptions ConsoleWindow::GetTaskOptions() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_options;
}

void ConsoleWindow::SetTaskOptions(TaskOptions options) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_options = options;
}

std::optional<std::string> ConsoleWindow::ChooseFolder(std::string_view) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto& answer = m_installChooser ? m_intoFolder : m_gameFolder;
    if (!answer)
        return std::nullopt;
    std::string folder = *answer;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

void ConsoleWindow::StartProgram(std::string_view file, std::string_view workFolder) {
    std::printf("starting %.*s in %.*s\n", static_cast<int>(file.size()), file.data(),
                static_cast<int>(workFolder.size()), workFolder.data());
}

std::optional<int> ConsoleWindow::ChooseBackup(const std::vector<BackupChoice>& backups) {
    // Without --backup the questions go to the terminal one by one (the
    // newest first, so --yes takes the newest).
    if (!m_backup)
        return WindowOps::ChooseBackup(backups);
    std::lock_guard<std::mutex> guard(m_lock);
    for (const BackupChoice& b : backups) {
        if (b.number == *m_backup) {
            std::printf("backup %d: %s, %lld bytes\n", b.number, b.date.c_str(),
                        static_cast<long long>(b.bytes));
            std::fflush(stdout);
            return b.number;
        }
    }
    std::printf("no kept backup %d (kept:", *m_backup);
    for (const BackupChoice& b : backups)
        std::printf(" %d", b.number);
    std::printf(")\n");
    std::fflush(stdout);
    return std::nullopt;
}

}  // namespace skiv::cli
