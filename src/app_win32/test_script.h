#pragma once
// TestScript: drives the window from a script file instead of a person,
// for tests under Wine (skivaddon.exe --test-script FILE --transcript FILE).
//
// It answers every modal box and folder chooser from the script's queued
// answers and notes what each said, together with programs and addresses
// handed to the shell, in the transcript (UTF-8, one line each). The
// script runs on its own thread, which stands in for the controller's
// worker where it calls WindowOps directly.
//
// Script lines (UTF-8, '#' starts a comment):
//   answer yes|no|ok|real     next box's answer (real: the box itself)
//   folder PATH|cancel|real   next folder chooser's answer
//   version N|cancel|real     next versions box's answer (N: a version number)
//   peek FILE                 the next real box or chooser as a BMP
//   choose PATH               ChooseFolder(PATH) from this thread
//   type CONTROL TEXT         text into idEdit or passwordEdit
//   click CONTROL             a button, option box or link (registerLink,
//                             versionsLink), by name
//   key enter|escape|tab      a key pressed in the focused control
//   wait                      until no task runs
//   state                     the window's state into the transcript
//   mode N | progress N       SetViewMode / SetProgress from this thread
//   member 0|1 UNITS DATE     ShowMemberInfo from this thread
//   message TEXT              ShowMessage from this thread
//   screenshot FILE           the window as a BMP
//   sleep MS
// A box without a queued answer is answered No (OK for a message), a
// versions box closed, and noted as unanswered; a versions box is noted with
// its lines, and a version it does not list closes it; a command the window refuses is noted as an
// error. A real box or chooser is noted with its title (and the chooser's path) once shown, and
// closed with its default button (OK, Yes).

#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace skiv::win32 {

class MainWindow;

class TestScript {
public:
    TestScript(std::wstring scriptFile, std::wstring transcriptFile);
    ~TestScript();

    // Replaces the boxes, the chooser and the shell with the script's
    // answers; before the window starts.
    void InstallHooks();
    // Runs the script on its own thread against window.
    void Start(MainWindow& window);
    // Waits for the script's end.
    void Join();

private:
    void Run(MainWindow& window);
    bool Execute(MainWindow& window, const std::string& line);
    void Note(const std::string& line);
    std::optional<std::string> NextAnswer(std::deque<std::string>& queue);

    std::wstring m_scriptFile;
    std::ofstream m_transcript;
    std::mutex m_lock;  // the queues and the transcript
    std::deque<std::string> m_boxAnswers, m_folderAnswers, m_versionAnswers, m_peekShots;
    std::thread m_thread;
};

}  // namespace skiv::win32
