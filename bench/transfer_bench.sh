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

for i in $(seq 1 "$runs"); do
  rm -rf "$work/transfer/ours" && mkdir -p "$work/transfer/ours"
  printf 'bench-password\n' | /usr/bin/time -f "client peak %M KiB" \
    "$bin/bench/skiv-transfer-bench" "$url" bench "$body" "$work/transfer/ours"
  cmp "$body" "$work/transfer/ours/Backup/SkivAddon.ksp" && echo "download equals the body"
  read -r key up down < <(curl_login)
  curl -s --fail --cacert "$ca" -o /dev/null -w 'curl upload   %{size_upload} B in %{time_total} s = %{speed_upload} B/s\n' \
    -F aviFileType=1 -F avoFileName=@"$body" -F avsMemberID=base -F avsMemberKey="$key" "$up"
  curl -s --fail --cacert "$ca" -o "$work/transfer/curl.bin" \
    -w 'curl download %{size_download} B in %{time_total} s = %{speed_download} B/s\n' "${down}base.cab"
done
