#!/usr/bin/env bash
# The desktop window under Xvfb (platform xcb):
#
#  1. start-up: from the exec of skivaddon to its window first painted on
#     the X server, read back from outside the process by skiv-window-probe;
#     STARTUP_RUNS runs (9 by default, after one unmeasured warm-up) at
#     QT_SCALE_FACTOR 1 and 2; median and max. The target is 300 ms. The
#     processor time the program used is shown too: on a shared machine the
#     wall times move with the load, it does not.
#  2. a save of the generated set through the real window
#     (skiv-window-save-bench against a private service): the GUI thread's
#     worst lateness on a 16 ms timer, gaps over 100 ms, and the worst delay
#     from a repaint request to the paint, while the save runs; RUNS saves.
#
#   bench/window_bench.sh [SCALE]     (scale of the set, 1.0 by default)
#
# Installs xvfb and the xcb headers on demand when missing.
set -euo pipefail
if [[ -z "${SKIV_IN_XVFB:-}" ]]; then
  missing=()
  command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
  pkg-config --exists xcb 2>/dev/null || missing+=(pkg-config libxcb1-dev)
  if ((${#missing[@]})); then
    sudo=""; [[ $(id -u) -ne 0 ]] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  SKIV_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1920x1200x24" "$0" "$@"
fi

source "$(dirname "$0")/lib.sh"
scale="${1:-1.0}"
startup_runs="${STARTUP_RUNS:-9}"
work="${BENCH_DIR:-/tmp/skiv-bench}"
mkdir -p "$work"

# A configure before the xcb headers were there left the probe out.
[[ -n "$(find "$bin/bench" -maxdepth 1 -name skiv-window-probe 2>/dev/null)" ]] ||
  cmake "$bin" >/dev/null
cmake --build "$bin" --target skivaddon skivaddon-service skiv-gen-addon-set \
  skiv-window-probe skiv-window-save-bench >/dev/null

export QT_QPA_PLATFORM=xcb
prefix=$(mktemp -d /tmp/skiv-bench-prefix.XXXXXX)  # no game in its registry
export WINEPREFIX="$prefix"
unset ProgramFiles
trap 'rm -rf "$results" "$prefix"' EXIT

# ---- 1. start-up ----
startup() {  # SCALE_FACTOR
  local f="$1" out
  QT_SCALE_FACTOR="$f" "$bin/bench/skiv-window-probe" -- "$bin/src/app/skivaddon" >/dev/null
  for i in $(seq 1 "$startup_runs"); do
    out=$(QT_SCALE_FACTOR="$f" "$bin/bench/skiv-window-probe" -- "$bin/src/app/skivaddon")
    echo "   scale $f run $i: $out"
    echo "startup-x$f ${out#*painted_ms=}" | awk '{print $1, $2}' >>"$results"
    echo "mapped-x$f ${out#mapped_ms=}" | awk '{print $1, $2}' >>"$results"
    echo "cpu-x$f ${out#*cpu_ms=}" | awk '{print $1, $2}' >>"$results"
  done
}
summary() {  # NAME
  awk -v n="$1" '$1==n {print $2}' "$results" | sort -g |
    awk '{a[NR]=$1} END {m = NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2; printf "median %7.1f ms  max %7.1f ms  (%d runs)", m, a[NR], NR}'
}
echo "== start-up: exec to the window painted"
startup 1
startup 2

# ---- 2. a save through the window ----
source "$here/service_lib.sh"
trap 'kill $svc_pid 2>/dev/null; wait $svc_pid 2>/dev/null; rm -rf "$svc_data" "$results" "$prefix"' EXIT
ensure_set "$work/set-$scale" "$scale"
# The game is found where the Program Files folder says.
programs="$work/window-programs"
game="$programs/World of Warcraft"
rm -rf "$programs"
mkdir -p "$programs"
cp -a "$work/set-$scale" "$game"
export ProgramFiles="$programs"
files=$(find "$game/Interface" "$game/WTF" -type f | wc -l)
mib=$(du -sm "$game/Interface" "$game/WTF" | awk '{s+=$1} END {print s}')
echo
echo "== save through the window: set scale $scale, $files files, $mib MiB (Interface, WTF)"
for i in $(seq 1 "$runs"); do
  out=$("$bin/bench/skiv-window-save-bench" bench bench-password "$game/")
  echo "   run $i: $(echo $out)"
  for k in save_s tick_lateness_ms_max gaps_over_100ms repaint_delay_ms_max login_ms; do
    echo "$k $(sed -n "s/^$k=//p" <<<"$out")" >>"$results"
  done
done

echo
printf '%-34s %s\n' "start-up, QT_SCALE_FACTOR=1" "$(summary startup-x1)"
printf '%-34s %s\n' "  (window mapped)" "$(summary mapped-x1)"
printf '%-34s %s\n' "  (processor time)" "$(summary cpu-x1)"
printf '%-34s %s\n' "start-up, QT_SCALE_FACTOR=2" "$(summary startup-x2)"
printf '%-34s %s\n' "  (window mapped)" "$(summary mapped-x2)"
printf '%-34s %s\n' "  (processor time)" "$(summary cpu-x2)"
max() { awk -v n="$1" '$1==n {print $2}' "$results" | sort -g | tail -n 1; }
printf '%-34s %s s (median of %d)\n' "save through the window" "$(median save_s 2)" "$runs"
printf '%-34s %s ms\n' "GUI tick lateness, worst" "$(max tick_lateness_ms_max)"
printf '%-34s %s\n' "gaps over 100 ms, most in a run" "$(max gaps_over_100ms)"
printf '%-34s %s ms\n' "repaint request to paint, worst" "$(max repaint_delay_ms_max)"
printf '%-34s %s ms (runs on the GUI thread)\n' "login, worst" "$(max login_ms)"
