#!/usr/bin/env bash
# What one skivaddon-service instance does per core, for sizing a
# deployment (docs/operating.md, "Capacity"). Every figure comes with the
# service's own CPU time (utime + stime of its process), which, unlike the
# wall time, does not count the load clients that share the machine:
#   logins     logins at the service's default password cost from 8 curl
#              clients, the service on both cores and then held to one core
#              (clients on the other), next to bare Argon2id verifications of
#              the same cost on 1 and 2 threads;
#   transfers  the generated set (scale 1.0 by default) on tmpfs: a first
#              delta save (skivaddon-cli), classic upload and download of its
#              package with curl (one and four at once; downloads next to
#              nginx serving the same file over HTTPS), a delta install on an
#              empty computer, a save after 1% changed and its install;
#   store      10 members with the same add-ons and their own WTF, each saving
#              once in full and then 10 times with ~1% changed (add-on files
#              changed alike for everyone, saved variables per member),
#              --keep-versions 10: bytes stored per member, shared and
#              private, the dedup ratio and the database's bytes per member.
#
#   bench/capacity_bench.sh [logins|transfers|store|all] [SCALE]
#   (RUNS=3; BENCH_DIR=/dev/shm/skiv-capacity-bench; MEMBERS=10 SAVES=10 for
#   the store; SKIV_BENCH_SERVICE_ARGS adds service options, e.g.
#   "--store postgresql://..." for the store in PostgreSQL)
source "$(dirname "$0")/lib.sh"
what="${1:-all}"
scale="${2:-1.0}"
work="${BENCH_DIR:-/dev/shm/skiv-capacity-bench}"
cli="$bin/src/cli/skivaddon-cli"
svc="$bin/server/skivaddon-service"
read -r -a svc_args <<<"${SKIV_BENCH_SERVICE_ARGS:-}"
ticks=$(getconf CLK_TCK)
mkdir -p "$work"
svc_pid= ngx_pid=
serve_args=()  # options for serving only (not for the member commands)
stop_service() { [[ -n "$svc_pid" ]] && kill "$svc_pid" 2>/dev/null && wait "$svc_pid" 2>/dev/null; svc_pid=; }
trap 'stop_service; [[ -n "$ngx_pid" ]] && kill "$ngx_pid" 2>/dev/null; rm -f "$results"' EXIT

echo "load before: $(uptime)"

# start_service MEMBER...: a fresh data folder in $work/svc, the members
# added with the bench password (each costs one hash at the default cost).
start_service() {
  stop_service
  rm -rf "$work/svc" && mkdir -p "$work/svc" && chmod 700 "$work/svc"
  "$svc" --data "$work/svc" "${svc_args[@]}" "${serve_args[@]}" --listen 127.0.0.1:0 \
    --max-package-mb 2048 >"$work/svc/out" 2>"$work/svc/log" &
  svc_pid=$!
  for _ in $(seq 1 100); do grep -q '^listening on ' "$work/svc/out" && break; sleep 0.1; done
  url=$(sed -n 's/^listening on //p' "$work/svc/out")
  ca="$work/svc/tls/ca.pem"
  local m
  for m in "$@"; do
    printf 'bench-password\n' | "$svc" --data "$work/svc" "${svc_args[@]}" member add "$m" >/dev/null
  done
  export SKIVADDON_SERVICE_URL="$url" SKIVADDON_CA_FILE="$ca" url ca
}

# cpu: the service's CPU seconds so far, all threads.
cpu() { awk -v t="$ticks" '{printf "%.2f", ($14 + $15) / t}' "/proc/$svc_pid/stat"; }

# timed NAME CMD...: measure, plus "NAME.cpu SECONDS" of the service.
timed() {
  local name="$1" before
  before=$(cpu)
  measure "$@"
  echo "$name.cpu $(awk -v a="$before" -v b="$(cpu)" 'BEGIN {print b - a}')" >>"$results"
}

# own_cpu NAME CMD...: measure, plus "NAME.cpu SECONDS" of CMD itself (user
# + system, children included): the bare hash's figure beside the service's.
own_cpu() {
  local name="$1"; shift
  measure "$name" "/usr/bin/time -o '$work/cpu' -f '%U %S' $*"
  echo "$name.cpu $(awk '{print $1 + $2}' "$work/cpu")" >>"$results"
}

account() {  # MEMBER GAMEFOLDER COMMAND...
  local id="$1" game="$2"; shift 2
  printf 'bench-password\n' | "$cli" --id "$id" --password-stdin --yes --game-folder "$game" "$@"
}

# login MEMBER: prints "KEY UPLOADURL DOWNLOADURL".
login() {
  { curl -s --cacert "$ca" --data-urlencode "avsMemberID=$1" --data-urlencode avsPassword=bench-password \
      "$url/skivaddon/actskivaddonlogin.aspx" | tr -d "\r\n"; echo; } |
    sed -n 's:.*<memberkey>\(.*\)</memberkey><uploadURL>\(.*\)</uploadURL><downloadURL>\(.*\)</downloadURL>.*:\1 \2 \3:p'
}
# clients N COUNT CMD...: N concurrent copies of CMD share COUNT calls
# (CMD gets its share as its last argument).
clients() {
  local n="$1" count="$2" pids=() p; shift 2
  for ((c = 0; c < n; c++)); do "$@" $((count / n)) & pids+=($!); done
  for p in "${pids[@]}"; do wait "$p" || return 1; done
}
export -f account login login_loop clients
export cli

# Medians and rates for the summary.
med() { median "$1" 2; }
per() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "inf"}'; }
row() { printf '%-30s %8s s wall %8s s CPU  %s\n' "$1" "$(med "$1")" "$(med "$1.cpu")" "${2:-}"; }

logins_section() {
  start_service crowd
  local n=48
  cost() { "$svc" --help | sed -n "s/.*--hash-$1 .*(default \([0-9]*\)).*/\1/p"; }
  local kib passes stored
  kib=$(cost memory-kib) passes=$(cost passes)
  c++ -O2 -std=c++17 "$here/argon2_rate.cpp" -o "$work/argon2-rate" -lsodium -pthread
  stored=$("$work/argon2-rate" hash "$kib" "$passes")
  for _ in $(seq 1 "$runs"); do
    timed "login:8-clients,2-cores" "clients 8 $n login_loop"
    # Every thread of the service on core 0, the clients on core 1.
    taskset -a -p -c 0 "$svc_pid" >/dev/null
    timed "login:8-clients,1-core" "taskset -c 1 bash -c 'clients 8 $n login_loop'"
    taskset -a -p -c 0-$(($(nproc) - 1)) "$svc_pid" >/dev/null
    own_cpu "argon2id:1-thread" "taskset -c 0 '$work/argon2-rate' verify 1 $((n / 2)) '$stored'"
    own_cpu "argon2id:2-threads" "'$work/argon2-rate' verify 2 $n '$stored'"
  done
  echo
  echo "password cost: Argon2id, $kib KiB, $passes passes (the service's defaults); $n logins per run"
  row "login:8-clients,2-cores" "= $(per $n "$(med login:8-clients,2-cores)") logins/s"
  row "login:8-clients,1-core" "= $(per $n "$(med login:8-clients,1-core)") logins/s"
  row "argon2id:1-thread" "= $(per $((n / 2)) "$(med argon2id:1-thread)") verifies/s"
  row "argon2id:2-threads" "= $(per $n "$(med argon2id:2-threads)") verifies/s"
  awk -v c2="$(med login:8-clients,2-cores.cpu)" -v c1="$(med login:8-clients,1-core.cpu)" -v n=$n \
    -v h="$(med argon2id:1-thread.cpu)" 'BEGIN {
      printf "service CPU per login: %.3f s (2 cores), %.3f s (1 core) = %.2f logins per core-second;\n",
             c2 / n, c1 / n, n / c1
      printf "bare verify: %.3f s CPU = %.2f per core-second; a login costs %.2fx a bare verify\n",
             h / (n / 2), (n / 2) / h, (c1 / n) / (h / (n / 2)) }'
  stop_service
}

# change_files GAME ROUND MEMBER: ~1% of the set's files (no `head`: under
# pipefail its early exit would fail the pipeline with SIGPIPE). Twelve add-on files
# change the same way for every member (an add-on update everyone takes);
# 90 saved-variables files change per member.
change_files() {
  (cd "$1" && {
    find Interface -name '*.lua' | sort | awk -v r="$2" 'NR % 700 == r % 700 && ++n <= 12' |
      while read -r f; do printf -- '-- update %s\n' "$2" >>"$f"; done
    find WTF -name '*.lua' | sort | awk 'NR <= 90' |
      while read -r f; do printf -- '-- %s round %s\n' "$3" "$2" >>"$f"; done
  })
}

# start_nginx FILE: serves it as https://127.0.0.1:PORT/base.cab ($ngx_url),
# with the running service's certificate (a new one every start_service).
start_nginx() {
  local ngx="$work/nginx" port drop=()
  [[ -n "$ngx_pid" ]] && kill "$ngx_pid" 2>/dev/null && wait "$ngx_pid" 2>/dev/null
  rm -rf "$ngx" && mkdir -p "$ngx/www" "$ngx/tmp"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cp "$work/svc/tls/server.pem" "$work/svc/tls/server-key.pem" "$ngx/"
  cp "$1" "$ngx/www/base.cab"
  write_static_nginx_conf "$ngx" "$port"
  if [[ $(id -u) -eq 0 ]]; then
    chown -R nobody:nogroup "$ngx"
    drop=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  "${drop[@]}" /usr/sbin/nginx -p "$ngx" -c "$ngx/nginx.conf" -e "$ngx/error.log" &
  ngx_pid=$!
  ngx_url="https://127.0.0.1:$port/base.cab"
  for _ in $(seq 1 100); do curl -s -o /dev/null --cacert "$ca" -r 0-0 "$ngx_url" && break; sleep 0.1; done
}

bytes_sent() { sed -n 's/^save: .*; \([0-9]*\) bytes sent$/\1/p' "$1"; }
bytes_fetched() { sed -n 's/^install: \([0-9]*\) bytes fetched$/\1/p' "$1"; }

transfers_section() {
  ensure_set "$work/set-$scale" "$scale"
  local ours="$work/ours" peer="$work/peer" pkg bytes key up down
  export XDG_CACHE_HOME="$work/xdg-cache"
  for i in $(seq 1 "$runs"); do
    start_service bench base
    rm -rf "$ours" "$peer" "$XDG_CACHE_HOME" && cp -a "$work/set-$scale" "$ours"
    mkdir -p "$peer" && cp "$ours/Launcher.exe" "$peer/"
    timed "delta:first-save" "account bench '$ours' save >'$work/full.out'"
    echo "bytes:first-save $(bytes_sent "$work/full.out")" >>"$results"
    pkg="$ours/Backup/SkivAddon.ksp"
    bytes=$(stat -c %s "$pkg")
    start_nginx "$pkg"

    read -r key up down < <(login base)
    timed "classic:upload" "curl -s --fail --cacert '$ca' -F aviFileType=1 -F avoFileName=@'$pkg' \
      -F avsMemberID=base -F avsMemberKey=$key '$up' | grep -q '<error>0</error>'"
    read -r key up down < <(login base)
    timed "classic:download" "curl -s --fail --cacert '$ca' -o /dev/null '${down}base.cab'"
    measure "nginx:download" "curl -s --fail --cacert '$ca' -o /dev/null '$ngx_url'"
    timed "classic:4-downloads" "for c in 1 2 3 4; do curl -s --fail --cacert '$ca' -o /dev/null '${down}base.cab' & done; wait"
    measure "nginx:4-downloads" "for c in 1 2 3 4; do curl -s --fail --cacert '$ca' -o /dev/null '$ngx_url' & done; wait"
    read -r key up down < <(login base)
    timed "classic:4-uploads" "for c in 1 2 3 4; do curl -s --fail --cacert '$ca' -F aviFileType=1 \
      -F avoFileName=@'$pkg' -F avsMemberID=base -F avsMemberKey=$key '$up' | grep -q '<error>0</error>' & done; wait"

    timed "delta:install-empty" "account bench '$peer' install >'$work/install.out'"
    echo "bytes:install-empty $(bytes_fetched "$work/install.out")" >>"$results"
    change_files "$ours" "$i" bench
    timed "delta:1%-save" "account bench '$ours' save >'$work/again.out'"
    echo "bytes:1%-save $(bytes_sent "$work/again.out")" >>"$results"
    timed "delta:1%-install" "account bench '$peer' install >'$work/install.out'"
    echo "bytes:1%-install $(bytes_fetched "$work/install.out")" >>"$results"
  done
  stop_service
  check_same "$ours/Interface" "$peer/Interface" "second computer's install"
  check_same "$ours/WTF" "$peer/WTF" "second computer's install"
  local mib
  mib=$(awk -v b="$bytes" 'BEGIN {printf "%.1f", b / 1048576}')
  echo
  echo "package $bytes bytes ($mib MiB); each delta save or install includes one login"
  mbps() { awk -v b="$1" -v s="$2" 'BEGIN {printf "%.0f MiB/s", b / 1048576 / s}'; }
  row "delta:first-save" "$(med bytes:first-save) bytes sent"
  row "classic:upload" "= $(mbps "$bytes" "$(med classic:upload)")"
  row "classic:4-uploads" "= $(mbps $((4 * bytes)) "$(med classic:4-uploads)")"
  row "classic:download" "= $(mbps "$bytes" "$(med classic:download)")"
  printf '%-30s %8s s wall %16s %s\n' "nginx:download" "$(med nginx:download)" "" \
    "= $(mbps "$bytes" "$(med nginx:download)")"
  row "classic:4-downloads" "= $(mbps $((4 * bytes)) "$(med classic:4-downloads)")"
  printf '%-30s %8s s wall %16s %s\n' "nginx:4-downloads" "$(med nginx:4-downloads)" "" \
    "= $(mbps $((4 * bytes)) "$(med nginx:4-downloads)")"
  row "delta:install-empty" "$(med bytes:install-empty) bytes fetched"
  row "delta:1%-save" "$(med bytes:1%-save) bytes sent"
  row "delta:1%-install" "$(med bytes:1%-install) bytes fetched"
  awk -v u="$(med classic:upload.cpu)" -v d="$(med classic:download.cpu)" -v m="$mib" \
    'BEGIN {printf "service CPU per MiB: classic upload %.1f ms, classic download %.1f ms\n", 1000 * u / m, 1000 * d / m}'
}

# The store after 10 members x (1 full + 10 1% saves), versions kept: 10.
store_section() {
  ensure_set "$work/set-$scale" "$scale"
  local members="${MEMBERS:-10}" saves="${SAVES:-10}" game="$work/game" m r
  local names=()
  for m in $(seq -w 1 $members); do names+=("member$m"); done
  serve_args=(--keep-versions 10)
  start_service "${names[@]}"
  local start_cpu sent=0
  start_cpu=$(cpu)
  for m in "${names[@]}"; do
    rm -rf "$game" "$work/xdg-$m" && cp -a "$work/set-$scale" "$game"
    export XDG_CACHE_HOME="$work/xdg-$m"
    find "$game/WTF" -type f -print0 | xargs -0 -I{} sh -c 'printf -- "-- %s\n" "$1" >>"$2"' _ "$m" {}
    account "$m" "$game" save >"$work/save.out" 2>"$work/save.err"
    sent=$((sent + $(bytes_sent "$work/save.out")))
    for r in $(seq 1 $saves); do
      change_files "$game" "$r" "$m"
      account "$m" "$game" save >"$work/save.out" 2>"$work/save.err"
      sent=$((sent + $(bytes_sent "$work/save.out")))
    done
    rm -rf "$game" "$work/xdg-$m"
  done
  local used_cpu
  used_cpu=$(awk -v a="$start_cpu" -v b="$(cpu)" 'BEGIN {print b - a}')
  stop_service
  # The same tables in either engine; the database's size is its file's, or
  # what PostgreSQL reports for the database (--store postgresql://...).
  local db="$work/svc/members.sqlite" pg dbbytes
  pg=$(printf '%s\n' "${svc_args[@]}" | grep -m1 '^postgresql://' || true)
  if [[ -n "$pg" ]]; then
    q() { psql "$pg" -Atc "$1"; }
    dbbytes=$(q "SELECT pg_database_size(current_database())")
  else
    q() { sqlite3 "$db" "$1"; }
    dbbytes=$(stat -c %s "$db")
    echo "database bytes by table and index (largest first):"
    q "SELECT name, sum(pgsize) FROM dbstat GROUP BY name ORDER BY 2 DESC LIMIT 5" | tr '|' ' '
  fi
  local logical shared private versions files
  logical=$(q "SELECT sum(package_bytes) FROM versions")
  versions=$(q "SELECT count(*) FROM versions")
  shared=$(q "SELECT coalesce(sum(bytes), 0) FROM pieces WHERE name LIKE 's.%'")
  private=$(q "SELECT coalesce(sum(bytes), 0) FROM pieces WHERE name LIKE 'p.%'")
  files=$(find "$work/svc/packages" -type f -printf '%s\n' 2>/dev/null | awk '{s += $1} END {print s + 0}')
  echo
  awk -v m=$members -v s=$saves -v v="$versions" -v l="$logical" -v sh="$shared" -v p="$private" \
    -v f="$files" -v d="$dbbytes" -v w="$sent" -v c="$used_cpu" -v sn=$((members * (saves + 1))) 'BEGIN {
    M = 1048576
    printf "%d members x (1 full + %d saves with ~1%% changed), keep-versions 10: %d versions kept\n", m, s, v
    printf "packages of the kept versions (what one file per version would hold): %.1f MiB\n", l / M
    printf "pieces stored: shared %.1f MiB, private %.1f MiB, total %.1f MiB (files in the shelf: %.1f MiB)\n",
           sh / M, p / M, (sh + p) / M, f / M
    printf "per member: %.1f MiB stored (private %.1f MiB + shared / %d = %.1f MiB)\n",
           (sh + p) / m / M, p / m / M, m, sh / m / M
    printf "dedup ratio (kept packages / pieces stored): %.1fx\n", l / (sh + p)
    printf "database: %d bytes = %.0f KiB per member (%d versions each)\n", d, d / m / 1024, v / m
    printf "bytes sent by all %d saves: %.1f MiB; service CPU for them: %.1f s (%.2f s per save)\n",
           sn, w / M, c, c / sn }'
}

case "$what" in
  logins) logins_section ;;
  transfers) transfers_section ;;
  store) store_section ;;
  all) logins_section; transfers_section; store_section ;;
  *) echo "usage: capacity_bench.sh [logins|transfers|store|all] [SCALE]" >&2; exit 2 ;;
esac
echo
echo "load after: $(uptime)"
