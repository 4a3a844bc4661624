#pragma once
// App: the application object. Sets up Qt (application name, the
// Korean font, the skin), runs the main window modally and ends the process
// when the window closes.

namespace skiv::app {

class App {
public:
    // Runs the whole program; the process's exit status.
    static int Run(int argc, char** argv);

    // Application-wide settings every window of the program relies on
    // (name, font); for tests and tools that build windows themselves.
    static void Configure();
};

}  // namespace skiv::app
