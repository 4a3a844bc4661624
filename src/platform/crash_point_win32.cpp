#include <windows.h>

namespace skiv::detail {

[[noreturn]] void KillThisProcess() {
    // Exit code 137 (128 + SIGKILL), so a test can tell this from a normal end.
    ::TerminateProcess(::GetCurrentProcess(), 137);
    for (;;)
        ::Sleep(INFINITE);
}

}  // namespace skiv::detail
