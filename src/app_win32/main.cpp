// skivaddon.exe: the desktop window on Windows.
//
//   skivaddon.exe [--test-script FILE --transcript FILE]
// With a test script the window is driven by the script and its boxes are
// answered from it (see test_script.h).

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>

#include "app_win32/main_window.h"
#include "app_win32/test_script.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    // WIC, which decodes the skin, is a COM service.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    std::wstring scriptFile, transcriptFile;
    int argc = 0;
    if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        for (int i = 1; i + 1 < argc; ++i) {
            if (std::wstring(argv[i]) == L"--test-script")
                scriptFile = argv[++i];
            else if (std::wstring(argv[i]) == L"--transcript")
                transcriptFile = argv[++i];
        }
        LocalFree(argv);
    }
    std::unique_ptr<skiv::win32::TestScript> script;
    if (!scriptFile.empty() && !transcriptFile.empty()) {
        script = std::make_unique<skiv::win32::TestScript>(scriptFile, transcriptFile);
        script->InstallHooks();
    }

    int status = 0;
    {
        skiv::win32::MainWindow window(skiv::ServiceConfig::FromEnvironment(),
                                       skiv::OperationLog::DefaultFolder());
        if (!window.Create(showCommand))
            return 1;
        if (script)
            script->Start(window);
        status = window.Run();
        if (script)
            script->Join();
    }
    CoUninitialize();
    return status;
}
