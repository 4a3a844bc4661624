#pragma once
// Named points in the file and network flows where the process can be made
// to die on purpose, as it would by a power cut or a kill from outside, so
// that recovery can be checked at each step.
//
// SKIVADDON_CRASH_AT names one point, optionally with a hit number:
//   SKIVADDON_CRASH_AT=install.after-backup    dies at the first hit
//   SKIVADDON_CRASH_AT=delete.file:7           dies at the 7th hit
// The process then kills itself with SIGKILL (TerminateProcess on Windows):
// no destructor, no flush, no atexit handler runs. The variable is read once, at the first call;
// when it is unset a call costs one load of an initialised static and a compare.
//
// Thread-safe: hits are counted atomically across threads.

namespace skiv {

void CrashPoint(const char* name);

}  // namespace skiv
