#!/usr/bin/env bash
# Pack+compress against `tar -cf - Interface WTF | gzip -6`, and
# decompress+unpack against `tar -xzf`, on the same generated add-on set,
# alternating runs. Figures: median wall seconds, peak memory, ratios.
#
#   bench/archive_bench.sh [SCALE]     (RUNS=3 by default)
source "$(dirname "$0")/lib.sh"
scale="${1:-1.0}"
work="${BENCH_DIR:-/tmp/skiv-bench}"
mkdir -p "$work"
set_dir="$work/set-$scale"
ensure_set "$set_dir" "$scale"
cli="$bin/src/cli/skivaddon-cli"
du -sh "$set_dir/Interface" "$set_dir/WTF" | sed 's/^/set: /'

for i in $(seq 1 "$runs"); do
  rm -rf "$work/out" && mkdir -p "$work/out"
  measure "skivaddon:pack+compress" "'$cli' pack '$set_dir' '$work/out/a.kso' && '$cli' compress '$work/out/a.kso' '$work/out/a.ksp'"
  measure "tar|gzip-6" "cd '$set_dir' && tar -cf - Interface WTF | gzip -6 > '$work/out/b.tgz'"
  rm -rf "$work/u1" "$work/u2" && mkdir -p "$work/u1" "$work/u2"
  measure "skivaddon:decompress+unpack" "'$cli' decompress '$work/out/a.ksp' '$work/out/c.kso' && '$cli' unpack '$work/out/c.kso' '$work/u1'"
  measure "tar-xzf" "tar -xzf '$work/out/b.tgz' -C '$work/u2'"
done
check_same "$set_dir/Interface" "$work/u1/Interface" "unpacked Interface"
check_same "$set_dir/WTF" "$work/u1/WTF" "unpacked WTF"
ls -l "$work/out/a.ksp" "$work/out/b.tgz" | awk '{print "package: " $5 " bytes  " $9}'
echo
report "skivaddon:pack+compress" "tar|gzip-6" "pack+compress"
report "skivaddon:decompress+unpack" "tar-xzf" "decompress+unpack"
rm -f "$results"
