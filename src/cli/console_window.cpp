#include "cli/console_window.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <utility>

#include "cli/advice.h"
#include "cli/progress_line.h"
#include "platform/console.h"

namespace skiv::cli {

namespace {

// The window's bar: 10 when a transfer starts, the transferred share of
// the package added to that, held at 90 until the transfer ends.
constexpr int kTransferStart = 10;
constexpr int kTransferEnd = 90;

}  // namespace

void ConsoleWindow::ShowMessage(std::string_view text) {
    std::lock_guard<std::mutex> guard(m_lock);
    const std::string advice = AdviceFor(text, m_serviceUrl);
    if (m_output == ConsoleOutput::Quiet) {
        m_held.append(text);
        m_held += '\n';
        if (!advice.empty())
            m_held += advice + '\n';
        return;
    }
    EndProgressLine();
    if (m_output == ConsoleOutput::Lines && m_lastProgress > 0 &&
        console::IsTerminal(console::Stream::Err))
        std::fputc('\n', stderr);
    std::printf("%.*s\n", static_cast<int>(text.size()), text.data());
    if (!advice.empty())
        std::printf("%s\n", advice.c_str());
    std::fflush(stdout);
}

bool ConsoleWindow::AskYesNo(std::string_view text, std::string_view title, bool) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_assumeYes && m_output == ConsoleOutput::Quiet)
        return true;
    EndProgressLine();
    std::printf("[%.*s] %.*s\n", static_cast<int>(title.size()), title.data(),
                static_cast<int>(text.size()), text.data());
    if (m_assumeYes) {
        std::printf("(yes)\n");
        std::fflush(stdout);
        return true;
    }
    if (!console::IsTerminal(console::Stream::In)) {
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
    if (m_output == ConsoleOutput::Quiet)
        return;
    EndProgressLine();
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

void ConsoleWindow::BeginStep(std::string step, std::function<std::int64_t()> transferTotal) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_step = std::move(step);
    m_transferTotal = std::move(transferTotal);
    m_total = -1;
    m_stepStart = std::chrono::steady_clock::now();
    m_lastProgress = -1;
}

std::string ConsoleWindow::TakeHeldMessages() {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::exchange(m_held, std::string());
}

void ConsoleWindow::SetProgress(int position) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (position == m_lastProgress)
        return;
    if (m_output == ConsoleOutput::Terminal) {
        if (position == 0)
            EndProgressLine();
        else
            DrawProgressLine(position);
    } else if (m_output == ConsoleOutput::Lines &&
               (position == 0 || position == 100 || position / 10 != m_lastProgress / 10)) {
        std::fprintf(stderr, "progress %d%%\n", position);
        std::fflush(stderr);
    }
    m_lastProgress = position;
}

void ConsoleWindow::DrawProgressLine(int position) {
    using Seconds = std::chrono::duration<double>;
    const auto now = std::chrono::steady_clock::now();
    ProgressFacts facts;
    facts.step = m_step.empty() ? std::string("진행") : m_step;
    facts.percent = position;
    if (position >= kTransferStart && m_total < 0) {
        m_total = m_transferTotal ? m_transferTotal() : 0;
        m_transferStart = now;
    }
    if (m_total > 0 && position >= kTransferStart) {
        facts.totalBytes = m_total;
        facts.doneBytes = TransferredBytes(position, m_total, kTransferStart, kTransferEnd);
        const double elapsed = Seconds(now - m_transferStart).count();
        if (elapsed > 0.2 && facts.doneBytes > 0) {
            facts.bytesPerSecond = facts.doneBytes / elapsed;
            facts.secondsLeft = (m_total - facts.doneBytes) / facts.bytesPerSecond;
        }
    } else {
        const double elapsed = Seconds(now - m_stepStart).count();
        if (elapsed > 0.2 && position > 0)
            facts.secondsLeft = elapsed * (100 - position) / position;
    }
    const std::string line = FormatProgressLine(facts, TerminalColumns(console::Stream::Out));
    std::printf("\r%s\033[K", line.c_str());
    std::fflush(stdout);
    m_lineDrawn = true;
}

// Leaves the drawn line on the screen as it stands and moves below it.
void ConsoleWindow::EndProgressLine() {
    if (!m_lineDrawn)
        return;
    std::fputc('\n', stdout);
    std::fflush(stdout);
    m_lineDrawn = false;
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
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_output == ConsoleOutput::Quiet)
        return;
    EndProgressLine();
    std::printf("starting %.*s in %.*s\n", static_cast<int>(file.size()), file.data(),
                static_cast<int>(workFolder.size()), workFolder.data());
}

std::optional<std::size_t> ConsoleWindow::ChooseFlavor(const std::vector<FlavorChoice>& choices,
                                                       std::size_t preselected) {
    std::fprintf(stderr, "skivaddon-cli: several game flavors are installed:\n");
    for (std::size_t i = 0; i < choices.size(); ++i) {
        std::fprintf(stderr, "  %c %s\t%s\t%s\n", i == preselected ? '*' : ' ',
                     choices[i].flavor.c_str(), choices[i].name.c_str(), choices[i].folder.c_str());
    }
    std::fprintf(stderr, "pick one with --flavor NAME or --game-folder DIR\n");
    return std::nullopt;
}

void ConsoleWindow::StartProgramIn(std::string_view file, std::string_view workFolder,
                                   std::string_view winePrefix) {
    std::printf("starting %.*s in %.*s with WINEPREFIX=%.*s\n", static_cast<int>(file.size()),
                file.data(), static_cast<int>(workFolder.size()), workFolder.data(),
                static_cast<int>(winePrefix.size()), winePrefix.data());
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
