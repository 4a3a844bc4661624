#!/usr/bin/env bash
# Saves side by side, on the generated set (tmpfs by default), medians of
# RUNS (3) runs, each against a fresh service and fresh peers:
#   - full save: skivaddon-cli save (pack, compress on every core, upload as
#     pieces) vs `restic backup` into a fresh local repository and vs
#     `tar | pigz -6 | curl` (the classic upload form) to the same service;
#   - save after 1% of the files changed (saved variables and a few add-on
#     files): skivaddon-cli save vs restic's second backup, with the bytes
#     each save put on the wire;
#   - install, on a second computer that holds the first version, of the
#     version that differs by those files: bytes fetched;
#   - package size vs `tar | gzip -6`, and the client's peak memory.
#
#   bench/save_bench.sh [SCALE]     (RUNS=3, BENCH_DIR=/dev/shm/skiv-save-bench)
source "$(dirname "$0")/lib.sh"
scale="${1:-1.0}"
work="${BENCH_DIR:-/dev/shm/skiv-save-bench}"
for tool in restic pigz curl; do
  if ! command -v "$tool" >/dev/null; then
    echo "save_bench: $tool is not installed; skipped (scripts/setup installs it)"
    exit 0
  fi
done
mkdir -p "$work"
ensure_set "$work/set-$scale" "$scale"
cli="$bin/src/cli/skivaddon-cli"
export RESTIC_PASSWORD=bench XDG_CACHE_HOME="$work/xdg-cache"
svc_pid=
stop_service() { [[ -n "$svc_pid" ]] && kill "$svc_pid" 2>/dev/null && wait "$svc_pid" 2>/dev/null; svc_pid=; }
trap 'stop_service; rm -f "$results"' EXIT

start_service() {  # a fresh data folder: no pieces from an earlier run
  rm -rf "$work/svc" && mkdir -p "$work/svc"
  "$bin/server/skivaddon-service" --data "$work/svc" --listen 127.0.0.1:0 --max-package-mb 2048 \
    >"$work/svc/out" 2>"$work/svc/log" &
  svc_pid=$!
  for _ in $(seq 1 100); do grep -q '^listening on ' "$work/svc/out" && break; sleep 0.1; done
  url=$(sed -n 's/^listening on //p' "$work/svc/out")
  ca="$work/svc/tls/ca.pem"
  for m in bench base; do
    printf 'bench-password\n' | "$bin/server/skivaddon-service" --data "$work/svc" member add "$m" >/dev/null
  done
  export SKIVADDON_SERVICE_URL="$url" SKIVADDON_CA_FILE="$ca" url ca
}

account() {  # GAMEFOLDER COMMAND...: skivaddon-cli as member bench
  local game="$1"; shift
  printf 'bench-password\n' | "$cli" --id bench --password-stdin --yes --game-folder "$game" "$@"
}

# Saved variables of six characters and a dozen add-on files: 1% of the set.
# (The lists are read to their end: a head that quits early would kill sort
# with SIGPIPE, which pipefail turns into the end of the benchmark.)
change_one_percent() {
  (cd "$1" && { find WTF -name '*.lua' | sort | sed -n '1,90p'
                find Interface -name '*.lua' | sort | awk 'NR % 700 == 1 && ++n <= 12'; } |
     while read -r f; do printf -- '-- changed %s\n' "$RANDOM" >>"$f"; done)
}

# The peer's save: log member base in, then tar | pigz -6 streamed into the
# classic upload form of the same service.
base_login() {
  curl -s --cacert "$ca" --data-urlencode avsMemberID=base --data-urlencode avsPassword=bench-password \
    "$url/skivaddon/actskivaddonlogin.aspx" | tr -d '\r\n' |
    sed -n 's:.*<memberkey>\(.*\)</memberkey><uploadURL>\(.*\)</uploadURL>.*:\1 \2:p'
}
peer_save() {
  local key up
  read -r key up < <(base_login)
  tar -cf - Interface WTF | pigz -6 |
    curl -s --fail --cacert "$ca" -F aviFileType=1 -F "avoFileName=@-;filename=SkivAddon.ksp" \
      -F avsMemberID=base -F avsMemberKey="$key" "$up" | grep -q '<error>0</error>'
}
export -f account base_login peer_save
export cli

bytes_sent() { sed -n 's/^save: .*; \([0-9]*\) bytes sent$/\1/p' "$1"; }
bytes_fetched() { sed -n 's/^install: \([0-9]*\) bytes fetched$/\1/p' "$1"; }

for i in $(seq 1 "$runs"); do
  start_service
  ours="$work/ours" peer="$work/peer" repo="$work/restic"
  rm -rf "$ours" "$peer" "$repo" "$XDG_CACHE_HOME"
  cp -a "$work/set-$scale" "$ours"
  mkdir -p "$peer" && cp "$ours/Launcher.exe" "$peer/"
  restic init --repo "$repo" >/dev/null

  measure "full:skivaddon" "account '$ours' save >'$work/full.out'"
  measure "full:restic" "cd '$ours' && restic backup --repo '$repo' -q Interface WTF"
  measure "full:tar|pigz|curl" "cd '$ours' && peer_save"
  echo "fullbytes $(bytes_sent "$work/full.out")" >>"$results"
  account "$peer" install >/dev/null  # the second computer holds version 1

  change_one_percent "$ours"
  measure "again:skivaddon" "account '$ours' save >'$work/again.out'"
  measure "again:restic" "cd '$ours' && restic backup --repo '$repo' -q Interface WTF"
  echo "againbytes $(bytes_sent "$work/again.out")" >>"$results"
  account "$peer" install >"$work/install.out"
  echo "installbytes $(bytes_fetched "$work/install.out")" >>"$results"
  stop_service
done

check_same "$ours/Interface" "$peer/Interface" "second computer's install"
check_same "$ours/WTF" "$peer/WTF" "second computer's install"
gz=$(cd "$ours" && tar -cf - Interface WTF | gzip -6 | wc -c)
pkg=$(stat -c %s "$ours/Backup/SkivAddon.ksp")
echo
report "full:skivaddon" "full:restic" "full save vs restic"
report "full:skivaddon" "full:tar|pigz|curl" "full save vs tar|pigz|curl"
report "again:skivaddon" "again:restic" "1% save vs restic"
awk -v f="$(median fullbytes 2)" -v a="$(median againbytes 2)" -v n="$(median installbytes 2)" \
  'BEGIN {printf "bytes on the wire: full %d, 1%% save %d (%.2f%%), 1%% install %d (%.2f%%)\n",
          f, a, 100 * a / f, n, 100 * n / f}'
awk -v p="$pkg" -v g="$gz" 'BEGIN {printf "package %d bytes, tar|gzip -6 %d bytes: %.3fx\n", p, g, p / g}'
