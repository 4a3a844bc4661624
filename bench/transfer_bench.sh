#!/usr/bin/env bash
# Uploads and downloads one large body through the form client (with the
# program's 1,024-byte proceed budget) and the same with curl, on loopback
# against the same service. Prints throughput and client peak memory.
#
#   bench/transfer_bench.sh [MIB]      (default 200)
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/service_lib.sh"
mib="${1:-200}"
work="${BENCH_DIR:-/tmp/skiv-bench}"
mkdir -p "$work/transfer"
body="$work/transfer/body-$mib.bin"
[[ -f "$body" ]] || head -c "$((mib * 1024 * 1024))" /dev/urandom >"$body"

log="$work/transfer/log"
: >"$log"
for i in $(seq 1 "$runs"); do
  rm -rf "$work/transfer/ours" && mkdir -p "$work/transfer/ours"
  printf 'bench-password\n' | /usr/bin/time -f "client peak %M KiB" \
    "$bin/bench/skiv-transfer-bench" "$url" bench "$body" "$work/transfer/ours" 2>&1 | tee -a "$log"
  cmp "$body" "$work/transfer/ours/Backup/SkivAddon.ksp" && echo "download equals the body"
  read -r key up down < <(curl_login)
  curl -s --fail --cacert "$ca" -o /dev/null -w 'curl upload   %{size_upload} B in %{time_total} s = %{speed_upload} B/s\n' \
    -F aviFileType=1 -F avoFileName=@"$body" -F avsMemberID=base -F avsMemberKey="$key" "$up" | tee -a "$log"
  curl -s --fail --cacert "$ca" -o "$work/transfer/curl.bin" \
    -w 'curl download %{size_download} B in %{time_total} s = %{speed_download} B/s\n' "${down}base.cab" | tee -a "$log"
done

# Medians over the runs, and the program's throughput as a share of curl's.
python3 - "$log" <<'PY'
import re, statistics, sys
t = open(sys.argv[1]).read()
mib = lambda pat, scale: [float(x) / scale for x in re.findall(pat, t, re.M)]
for way in ("upload", "download"):
    ours = mib(r"^%s .* = (\d+) MiB/s" % way, 1)
    curl = mib(r"^curl %s .* = (\d+) B/s" % way, 1048576)
    print("%-8s median: skivaddon %.0f MiB/s, curl %.0f MiB/s, %.0f%% of curl" % (
        way, statistics.median(ours), statistics.median(curl),
        100 * statistics.median(ours) / statistics.median(curl)))
PY
