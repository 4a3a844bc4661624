#include "support/fake_window.h"

namespace skiv::test {

void FakeWindow::ShowMessage(std::string_view text) {
    std::lock_guard g(m_lock);
    m_messages.emplace_back(text);
}

bool FakeWindow::AskYesNo(std::string_view text, std::string_view title, bool questionIcon) {
    std::lock_guard g(m_lock);
    m_questions.push_back({std::string(text), std::string(title), questionIcon});
    if (m_answers.empty())
        return m_defaultAnswer;
    bool a = m_answers.front();
    m_answers.pop_front();
    return a;
}

void FakeWindow::ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) {
    std::lock_guard g(m_lock);
    m_member = MemberInfo{hasData, sizeUnits, std::string(date)};
}

void FakeWindow::SetViewMode(skiv::ViewMode mode) {
    std::lock_guard g(m_lock);
    m_viewMode = mode;
}

void FakeWindow::SetProgress(int position) {
    std::function<void(int)> hook;
    {
        std::lock_guard g(m_lock);
        m_progress.push_back(position);
        hook = m_progressHook;
    }
    if (hook)
        hook(position);
}

std::string FakeWindow::GetIdText() {
    std::lock_guard g(m_lock);
    return m_id;
}

std::string FakeWindow::GetPasswordText() {
    std::lock_guard g(m_lock);
    return m_password;
}

TaskOptions FakeWindow::GetTaskOptions() {
    std::lock_guard g(m_lock);
    return m_options;
}

std::optional<std::string> FakeWindow::ChooseFolder(std::string_view initialFolder) {
    std::lock_guard g(m_lock);
    m_chooserAt.emplace_back(initialFolder);
    if (m_folders.empty())
        return std::nullopt;
    auto f = m_folders.front();
    m_folders.pop_front();
    return f;
}

void FakeWindow::StartProgram(std::string_view file, std::string_view workFolder) {
    std::lock_guard g(m_lock);
    m_started.push_back(std::string(workFolder) + std::string(file));
}

std::optional<std::size_t> FakeWindow::ChooseFlavor(const std::vector<FlavorChoice>& choices,
                                                    std::size_t preselected) {
    std::lock_guard g(m_lock);
    m_flavorQuestions.push_back({choices, preselected});
    if (m_flavorAnswers.empty())
        return preselected;
    auto answer = m_flavorAnswers.front();
    m_flavorAnswers.pop_front();
    return answer;
}

void FakeWindow::StartProgramIn(std::string_view file, std::string_view workFolder,
                                std::string_view winePrefix) {
    std::lock_guard g(m_lock);
    m_started.push_back(std::string(winePrefix) + ":" + std::string(workFolder) +
                        std::string(file));
}

std::string FakeWindow::LastMessage() const {
    std::lock_guard g(m_lock);
    return m_messages.empty() ? std::string() : m_messages.back();
}

void FakeWindow::ClearRecords() {
    std::lock_guard g(m_lock);
    m_messages.clear();
    m_questions.clear();
    m_progress.clear();
    m_chooserAt.clear();
    m_started.clear();
    m_member.reset();
}

}  // namespace skiv::test
