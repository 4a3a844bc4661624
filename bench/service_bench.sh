#!/usr/bin/env bash
# The member service under load, with its production password cost (the
# service started without --hash-* options, as service_lib.sh does):
#   - logins by 8 concurrent curl clients, next to the same logins from one
#     client, to as many bare Argon2id verifications on 8 threads (the
#     ceiling: the hash alone at the service's cost) and to 8 clients
#     fetching the front page (TLS and curl's start without the hash);
#   - a MIB-sized package (200 by default) uploaded and downloaded with
#     curl over loopback, the download next to Debian's nginx serving the
#     same file over HTTPS with the same certificate and curl options;
#   - the service's peak memory during each upload above its idle memory.
#
#   bench/service_bench.sh [MIB]       (RUNS=3 by default)
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/service_lib.sh"
mib="${1:-200}"
logins=48  # per measurement, spread evenly over the clients
work="${BENCH_DIR:-/tmp/skiv-bench}"
mkdir -p "$work/transfer"
body="$work/transfer/body-$mib.bin"
[[ -f "$body" ]] || head -c "$((mib * 1024 * 1024))" /dev/urandom >"$body"
bytes=$(stat -c %s "$body")

printf 'bench-password\n' | "$bin/server/skivaddon-service" --data "$svc_data" member add crowd >/dev/null

# The service's default cost, read from its own usage text.
cost() { "$bin/server/skivaddon-service" --help | sed -n "s/.*--hash-$1 .*(default \([0-9]*\)).*/\1/p"; }
hash_kib=$(cost memory-kib) hash_passes=$(cost passes)
c++ -O2 -std=c++17 "$here/argon2_rate.cpp" -o "$svc_data/argon2-rate" -lsodium -pthread
stored=$("$svc_data/argon2-rate" hash "$hash_kib" "$hash_passes")

# --- nginx: same file, same certificate and key, HTTPS on loopback ---------
if ! command -v nginx >/dev/null && [[ ! -x /usr/sbin/nginx ]]; then
  echo "bench: installing nginx-light" >&2
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nginx-light >/dev/null
fi
ngx=$(mktemp -d /tmp/skiv-bench-nginx.XXXXXX)
ngx_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$ngx/www" "$ngx/tmp"
cp "$svc_data/tls/server.pem" "$svc_data/tls/server-key.pem" "$ngx/"
ln -s "$body" "$ngx/www/base.cab"
write_static_nginx_conf "$ngx" "$ngx_port"
# Unprivileged: as root, drop to nobody before nginx starts.
drop=()
if [[ $(id -u) -eq 0 ]]; then
  chown -R nobody:nogroup "$ngx"
  drop=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
"${drop[@]}" /usr/sbin/nginx -p "$ngx" -c "$ngx/nginx.conf" -e "$ngx/error.log" &
ngx_pid=$!
trap 'kill $svc_pid $ngx_pid 2>/dev/null; wait $svc_pid $ngx_pid 2>/dev/null; rm -rf "$svc_data" "$results" "$ngx"' EXIT
ngx_url="https://127.0.0.1:$ngx_port/base.cab"
for _ in $(seq 1 100); do curl -s -o /dev/null --cacert "$ca" "$ngx_url" -r 0-0 && break; sleep 0.1; done

# --- helpers ----------------------------------------------------------------
# page_loop COUNT: COUNT fetches of the front page.
page_loop() {
  for ((i = 0; i < $1; i++)); do curl -s --fail --cacert "$ca" -o /dev/null "$url/" || return 1; done
}
# clients N FUNCTION: N concurrent clients share $logins calls of FUNCTION.
clients() {
  local pids=() p
  for ((c = 0; c < $1; c++)); do "$2" $((logins / $1)) & pids+=($!); done
  for p in "${pids[@]}"; do wait "$p" || return 1; done
}
export -f login_loop page_loop clients
export logins

# kib FIELD: the service's /proc status figure in KiB (VmRSS, VmHWM).
kib() { awk -v f="$1:" '$1 == f {print $2}' "/proc/$svc_pid/status"; }

# Same TLS on both sides (printed once, not part of the figures).
for u in "${url}/" "$ngx_url"; do
  printf '%-40s %s\n' "$u" "$(curl -sv --cacert "$ca" -o /dev/null -r 0-0 "$u" 2>&1 |
    sed -n 's/^\* SSL connection using //p')"
done
read -r key up down < <(curl_login)
curl -s --fail --cacert "$ca" -F aviFileType=1 -F avoFileName=@"$body" -F avsMemberID=base \
  -F avsMemberKey="$key" "$up" | grep -q '<error>0</error>'
read -r key up down < <(curl_login)
curl -s --fail --cacert "$ca" -o "$work/transfer/svc.bin" "${down}base.cab"
curl -s --fail --cacert "$ca" -o "$work/transfer/ngx.bin" "$ngx_url"
cmp "$body" "$work/transfer/svc.bin" && cmp "$body" "$work/transfer/ngx.bin" &&
  echo "both downloads equal the package"
rm -f "$work/transfer/svc.bin" "$work/transfer/ngx.bin"

# --- runs -------------------------------------------------------------------
peaks=()
login_peaks=()
for i in $(seq 1 "$runs"); do
  echo 5 >"/proc/$svc_pid/clear_refs"  # VmHWM restarts from the current RSS
  measure "login:8-clients" "clients 8 login_loop"
  login_peaks+=("$(($(kib VmHWM) - $(kib VmRSS)))")
  measure "login:1-client" "clients 1 login_loop"
  measure "argon2id:8-threads" "'$svc_data/argon2-rate' verify 8 $logins '$stored'"
  measure "front-page:8-clients" "clients 8 page_loop"

  read -r key up down < <(curl_login)
  idle=$(kib VmRSS)
  echo 5 >"/proc/$svc_pid/clear_refs"
  measure "upload:service" "curl -s --fail --cacert '$ca' -F aviFileType=1 -F avoFileName=@'$body' -F avsMemberID=base -F avsMemberKey=$key '$up' | grep -q '<error>0</error>'"
  peaks+=("$(($(kib VmHWM) - idle))")

  read -r key up down < <(curl_login)
  measure "download:service" "curl -s --fail --cacert '$ca' -o /dev/null ${down}base.cab"
  measure "download:nginx" "curl -s --fail --cacert '$ca' -o /dev/null $ngx_url"
done

mid() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
rate() { awk -v n="$1" -v s="$2" 'BEGIN {printf "%.1f", n / s}'; }
mbps() { awk -v b="$bytes" -v s="$1" 'BEGIN {printf "%.1f", b / 1048576 / s}'; }
echo
echo "password cost: Argon2id, $hash_kib KiB, $hash_passes passes (the service's defaults)"
report "login:8-clients" "login:1-client" "login 8 vs 1 client"
report "login:8-clients" "argon2id:8-threads" "login vs bare hash"
report "front-page:8-clients" "login:8-clients" "front page vs login"
printf '%-34s %8s /s  (%d logins; 1 client: %s /s; front page, 8 clients: %s /s)\n' \
  "logins, 8 clients" "$(rate $logins "$(median "login:8-clients" 2)")" "$logins" \
  "$(rate $logins "$(median "login:1-client" 2)")" "$(rate $logins "$(median "front-page:8-clients" 2)")"
printf '%-34s %8s /s\n' "bare Argon2id verifies, 8 threads" "$(rate $logins "$(median "argon2id:8-threads" 2)")"
printf '%-34s %8d KiB above the RSS after the burst (median)\n' "login burst peak" "$(mid "${login_peaks[@]}")"
echo
printf '%-34s %8.2f s  = %s MiB/s\n' "upload:service ($mib MiB)" "$(median upload:service 2)" "$(mbps "$(median upload:service 2)")"
printf '%-34s %8d KiB above idle (runs: %s KiB; target < 51200)\n' "upload peak memory" "$(mid "${peaks[@]}")" "${peaks[*]}"
report "download:service" "download:nginx" "download time"
awk -v a="$(median download:service 2)" -v b="$(median download:nginx 2)" -v s="$bytes" \
  'BEGIN {printf "%-34s %8.1f MiB/s vs %.1f MiB/s = %.0f%% of nginx (target >= 70%%)\n", "download throughput", s/1048576/a, s/1048576/b, 100*b/a}'
