#include "app_win32/test_script.h"

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "app_win32/main_window.h"
#include "app_win32/modal.h"
#include "app_win32/text.h"

namespace skiv::win32 {

namespace {

std::string Quoted(const std::wstring& text) {
    std::string out(1, '"');
    out += Utf8(text);
    out += '"';
    return out;
}

// The rest of the line after the first n words.
std::string Rest(const std::string& line, int words) {
    size_t at = 0;
    for (int i = 0; i < words; ++i) {
        at = line.find_first_not_of(' ', at);
        at = line.find(' ', at);
        if (at == std::string::npos)
            return {};
    }
    return line.substr(at + 1);
}

}  // namespace

TestScript::TestScript(std::wstring scriptFile, std::wstring transcriptFile)
    : m_scriptFile(std::move(scriptFile)) {
    m_transcript.open(transcriptFile.c_str(), std::ios::binary | std::ios::trunc);
}

TestScript::~TestScript() {
    Join();
}

void TestScript::Note(const std::string& line) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_transcript << line << '\n';
    m_transcript.flush();
}

std::optional<std::string> TestScript::NextAnswer(std::deque<std::string>& queue) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (queue.empty())
        return std::nullopt;
    std::string answer = queue.front();
    queue.pop_front();
    return answer;
}

void TestScript::InstallHooks() {
    Hooks().box = [this](BoxKind kind, const std::wstring& text,
                         const std::wstring& caption) -> std::optional<bool> {
        const std::optional<std::string> answer = NextAnswer(m_boxAnswers);
        const bool yesNo = kind == BoxKind::YesNo;
        Note(std::string("box ") + (yesNo ? "yesno " : "message ") + Quoted(caption) + " " +
             Quoted(text) + " -> " + answer.value_or("unanswered"));
        if (answer == "real")
            return std::nullopt;
        return answer ? (*answer == "yes" || *answer == "ok") : !yesNo;
    };
    Hooks().folder = [this](const std::wstring& initial) {
        const std::optional<std::string> answer = NextAnswer(m_folderAnswers);
        Note("folder " + Quoted(initial) + " -> " + answer.value_or("unanswered"));
        ModalHooks::FolderAnswer result;
        result.showChooser = answer == "real";
        if (answer && *answer != "cancel" && !result.showChooser)
            result.folder = Wide(*answer);
        return result;
    };
    Hooks().versions = [this](const std::vector<std::wstring>& lines,
                              const std::vector<int>& numbers) {
        const std::optional<std::string> answer = NextAnswer(m_versionAnswers);
        std::string note = "versions " + std::to_string(lines.size());
        for (const std::wstring& line : lines)
            note += " " + Quoted(line);
        Note(note + " -> " + answer.value_or("unanswered"));
        ModalHooks::VersionAnswer result;
        result.showBox = answer == "real";
        if (answer && answer->rfind("version ", 0) == 0) {
            const int n = std::atoi(answer->c_str() + 8);
            for (int listed : numbers)
                if (listed == n)
                    result.chosen = n;
        }
        return result;
    };
    // A real box or chooser: noted with what it shows, pictured when a
    // screenshot was asked for, then its default button pressed.
    Hooks().shown = [this](HWND dialog) {
        HWND label = GetDlgItem(dialog, 101);  // the chooser's path
        Note("shown " + Quoted(WindowText(dialog)) + " " +
             Quoted(label ? WindowText(label) : std::wstring()));
        if (const std::optional<std::string> file = NextAnswer(m_peekShots))
            if (!SaveWindowImage(dialog, Wide(*file)))
                Note("error cannot write " + *file);
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    };
    Hooks().open = [this](const std::wstring& file, const std::wstring& folder) {
        Note("open " + Quoted(file) + " " + Quoted(folder));
    };
}

void TestScript::Start(MainWindow& window) {
    m_thread = std::thread([this, &window] { Run(window); });
}

void TestScript::Join() {
    if (m_thread.joinable())
        m_thread.join();
}

void TestScript::Run(MainWindow& window) {
    std::ifstream script(m_scriptFile.c_str(), std::ios::binary);
    if (!script) {
        Note("error cannot read the script");
    }
    const HWND hwnd = window.Handle();
    std::string line;
    while (std::getline(script, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (!IsWindow(hwnd)) {
            Note("error the window is gone before: " + line);
            break;
        }
        if (!Execute(window, line))
            Note("error " + line);
    }
    // A script that left the window open closes it, so the program ends.
    if (IsWindow(hwnd)) {
        Note("end with the window open");
        window.OnGuiThread([&window] { window.ForceClose(); });
    } else {
        Note("end");
    }
}

bool TestScript::Execute(MainWindow& window, const std::string& line) {
    std::istringstream words(line);
    std::string command, arg;
    words >> command >> arg;
    if (command == "answer" && (arg == "yes" || arg == "no" || arg == "ok" || arg == "real")) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_boxAnswers.push_back(arg);
        return true;
    }
    if (command == "folder" && !arg.empty()) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_folderAnswers.push_back(Rest(line, 1));
        return true;
    }
    if (command == "version" && !arg.empty()) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_versionAnswers.push_back(arg == "cancel" || arg == "real" ? arg : "version " + arg);
        return true;
    }
    if (command == "peek" && !arg.empty()) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_peekShots.push_back(Rest(line, 1));
        return true;
    }
    if (command == "choose") {
        const std::optional<std::string> chosen = window.ChooseFolder(Rest(line, 1));
        Note("chose " + chosen.value_or("nothing"));
        return true;
    }
    if (command == "type")
        return window.OnGuiThread([&] { return window.Type(arg, Rest(line, 2)); });
    if (command == "click")
        return window.OnGuiThread([&] { return window.Click(arg); });
    if (command == "key") {
        const UINT key = arg == "enter"    ? VK_RETURN
                         : arg == "escape" ? VK_ESCAPE
                         : arg == "tab"    ? VK_TAB
                                           : 0;
        if (key)
            window.PressKey(key);
        return key != 0;
    }
    if (command == "wait") {
        while (window.Controller().IsBusy())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return true;
    }
    if (command == "state") {
        Note("state " + window.OnGuiThread([&] { return window.DescribeState(); }));
        return true;
    }
    if (command == "mode") {
        window.SetViewMode(static_cast<ViewMode>(std::stoi(arg)));
        return true;
    }
    if (command == "progress") {
        window.SetProgress(std::stoi(arg));
        return true;
    }
    if (command == "member") {
        int units = 0;
        words >> units;
        window.ShowMemberInfo(arg == "1", units, Rest(line, 3));
        return true;
    }
    if (command == "message") {
        window.ShowMessage(Rest(line, 1));
        return true;
    }
    if (command == "screenshot")
        return window.OnGuiThread([&] { return window.SaveScreenshot(Wide(Rest(line, 1))); });
    if (command == "sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(arg)));
        return true;
    }
    return false;
}

}  // namespace skiv::win32
