#!/usr/bin/env bash
# A whole save (pack, compress, upload) against `tar | gzip -6` and a
# `curl -F` post of the result to the same service; a whole install
# (backup, delete, download, decompress, unpack) against `tar -cf backup`,
# `rm -rf`, `curl | tar -xz`. Both sides log in once per run.
#
#   bench/flows_bench.sh [SCALE]     (RUNS=3 by default)
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/service_lib.sh"
scale="${1:-1.0}"
work="${BENCH_DIR:-/tmp/skiv-bench}"
mkdir -p "$work"
ensure_set "$work/set-$scale" "$scale"
ours="$work/flows-ours" base="$work/flows-base"
rm -rf "$ours" "$base"
cp -a "$work/set-$scale" "$ours"
cp -a "$work/set-$scale" "$base"
cli="$bin/src/cli/skivaddon-cli"

for i in $(seq 1 "$runs"); do
  measure "save:skivaddon" "printf 'bench-password\n' | '$cli' --id bench --password-stdin --yes --game-folder '$ours' save"
  measure "save:tar|gzip|curl" "cd '$base' && read key up down < <(curl_login) && tar -cf - Interface WTF | gzip -6 > '$work/pkg.tgz' && curl -s --fail --cacert '$ca' -F aviFileType=1 -F avoFileName=@'$work/pkg.tgz' -F avsMemberID=base -F avsMemberKey=\$key \$up | grep -q '<error>0</error>'"
  measure "install:skivaddon" "printf 'bench-password\n' | '$cli' --id bench --password-stdin --yes --game-folder '$ours' install"
  measure "install:tar+curl|tar" "cd '$base' && read key up down < <(curl_login) && mkdir -p Backup && tar -cf Backup/backup.tar Interface WTF && rm -rf Interface WTF && curl -s --fail --cacert '$ca' \${down}base.cab | tar -xz"
done
check_same "$work/set-$scale/Interface" "$base/Interface" "baseline install"
check_same "$work/set-$scale/Interface" "$ours/Interface" "skivaddon install"
echo
report "save:skivaddon" "save:tar|gzip|curl" "save"
report "install:skivaddon" "install:tar+curl|tar" "install"
