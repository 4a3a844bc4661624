#!/usr/bin/env bash
# The Windows programs must run from a bare folder: the only DLLs they may
# import are the system's. MinGW's own (libstdc++-6, libgcc_s_seh-1,
# libwinpthread-1) and zlib1.dll would have to ship beside them.
set -euo pipefail
objdump=x86_64-w64-mingw32-objdump
status=0
for exe in "$@"; do
  dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')
  [[ -n "$dlls" ]] || { echo "FAIL: no imports read from $exe"; status=1; continue; }
  if bad=$(grep -Ei '^(lib.*|zlib1)\.dll$' <<<"$dlls"); then
    echo "FAIL: $exe imports $(tr '\n' ' ' <<<"$bad")"
    status=1
  else
    echo "$(basename "$exe"): $(tr '\n' ' ' <<<"$dlls")"
  fi
done
exit $status
