#include "platform/crash_point.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace skiv {

namespace detail {
// Ends the process at once, as a kill from outside would (SIGKILL, or
// TerminateProcess on Windows); defined beside each system's back ends.
[[noreturn]] void KillThisProcess();
}  // namespace detail

namespace {

struct Armed {
    std::string name;  // empty: no point armed
    long hit = 1;      // the hit that kills, counted from 1
};

Armed ReadArmed() {
    Armed a;
    const char* value = std::getenv("SKIVADDON_CRASH_AT");
    if (!value || !*value)
        return a;
    a.name = value;
    if (auto colon = a.name.rfind(':'); colon != std::string::npos) {
        char* end = nullptr;
        long n = std::strtol(a.name.c_str() + colon + 1, &end, 10);
        // A malformed count arms nothing rather than the wrong hit.
        if (end == a.name.c_str() + colon + 1 || *end != '\0' || n < 1)
            return Armed{};
        a.hit = n;
        a.name.resize(colon);
    }
    return a;
}

}  // namespace

void CrashPoint(const char* name) {
    static const Armed armed = ReadArmed();
    if (armed.name.empty() || armed.name != name)
        return;
    static std::atomic<long> hits{0};
    if (hits.fetch_add(1) + 1 < armed.hit)
        return;
    detail::KillThisProcess();
}

}  // namespace skiv
