#include <signal.h>
#include <unistd.h>

namespace skiv::detail {

[[noreturn]] void KillThisProcess() {
    ::kill(::getpid(), SIGKILL);
    // SIGKILL cannot be caught; should delivery lag, nothing more may run.
    for (;;)
        ::pause();
}

}  // namespace skiv::detail
