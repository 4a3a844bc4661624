#pragma once
// A scripted stand-in for the desktop window: records what the controller
// shows and answers its questions from queues. Thread-safe, since workers
// call it.

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "workspace/window_ops.h"

namespace skiv::test {

class FakeWindow final : public WindowOps {
public:
    struct Question {
        std::string text, title;
        bool questionIcon;
    };
    struct MemberInfo {
        bool hasData;
        int sizeUnits;
        std::string date;
    };

    void ShowMessage(std::string_view text) override;
    bool AskYesNo(std::string_view text, std::string_view title, bool questionIcon) override;
    void ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) override;
    void SetViewMode(skiv::ViewMode mode) override;
    void SetProgress(int position) override;
    std::string GetIdText() override;
    std::string GetPasswordText() override;
    TaskOptions GetTaskOptions() override;
    std::optional<std::string> ChooseFolder(std::string_view initialFolder) override;
    void StartProgram(std::string_view file, std::string_view workFolder) override;
    // Answers with the queued index (nullopt: cancel); empty queue: the
    // preselected one.
    std::optional<std::size_t> ChooseFlavor(const std::vector<FlavorChoice>& choices,
                                            std::size_t preselected) override;
    // Recorded as "PREFIX:" + folder + file in Started().
    void StartProgramIn(std::string_view file, std::string_view workFolder,
                        std::string_view winePrefix) override;

    // ---- script ----
    void SetId(std::string id) {
        std::lock_guard g(m_lock);
        m_id = std::move(id);
    }
    void SetPassword(std::string pw) {
        std::lock_guard g(m_lock);
        m_password = std::move(pw);
    }
    void SetTaskOptions(TaskOptions options) {
        std::lock_guard g(m_lock);
        m_options = options;
    }
    // Answers for AskYesNo, in order; when empty the answer is defaultAnswer.
    void QueueAnswer(bool yes) {
        std::lock_guard g(m_lock);
        m_answers.push_back(yes);
    }
    void SetDefaultAnswer(bool yes) {
        std::lock_guard g(m_lock);
        m_defaultAnswer = yes;
    }
    // Answers for ChooseFolder, in order; nullopt is a cancel. Empty queue: cancel.
    void QueueFolder(std::optional<std::string> folder) {
        std::lock_guard g(m_lock);
        m_folders.push_back(std::move(folder));
    }

    void QueueFlavor(std::optional<std::size_t> index) {
        std::lock_guard g(m_lock);
        m_flavorAnswers.push_back(index);
    }

    // ---- record ----
    // The lists offered by ChooseFlavor, with what was marked first.
    struct FlavorQuestion {
        std::vector<FlavorChoice> choices;
        std::size_t preselected;
    };
    std::vector<FlavorQuestion> FlavorQuestions() const {
        std::lock_guard g(m_lock);
        return m_flavorQuestions;
    }
    std::vector<std::string> Messages() const {
        std::lock_guard g(m_lock);
        return m_messages;
    }
    std::string LastMessage() const;
    std::vector<Question> Questions() const {
        std::lock_guard g(m_lock);
        return m_questions;
    }
    std::vector<int> Progress() const {
        std::lock_guard g(m_lock);
        return m_progress;
    }
    std::vector<std::string> ChooserOpenedAt() const {
        std::lock_guard g(m_lock);
        return m_chooserAt;
    }
    std::vector<std::string> Started() const {
        std::lock_guard g(m_lock);
        return m_started;
    }
    std::optional<MemberInfo> LastMemberInfo() const {
        std::lock_guard g(m_lock);
        return m_member;
    }
    skiv::ViewMode ViewMode() const {
        std::lock_guard g(m_lock);
        return m_viewMode;
    }
    void ClearRecords();
    // Runs on the calling (worker) thread at every SetProgress, outside the
    // fake's lock; lets a test act while a task is under way.
    void OnProgress(std::function<void(int)> hook) {
        std::lock_guard g(m_lock);
        m_progressHook = std::move(hook);
    }

private:
    mutable std::mutex m_lock;
    std::string m_id, m_password;
    std::deque<bool> m_answers;
    bool m_defaultAnswer = true;
    std::deque<std::optional<std::string>> m_folders;
    std::deque<std::optional<std::size_t>> m_flavorAnswers;
    std::vector<FlavorQuestion> m_flavorQuestions;
    TaskOptions m_options;
    std::vector<std::string> m_messages, m_chooserAt, m_started;
    std::vector<Question> m_questions;
    std::vector<int> m_progress;
    std::optional<MemberInfo> m_member;
    skiv::ViewMode m_viewMode = skiv::ViewMode::LoggedOut;
    std::function<void(int)> m_progressHook;
};

}  // namespace skiv::test
