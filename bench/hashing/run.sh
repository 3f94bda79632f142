#!/usr/bin/env bash
# Hashing benchmark: the whole-file id computation over a 1 GiB file in the
# page cache (the Windows build, under Wine) on one worker and on all workers,
# next to md5sum and sha1sum run on the same file in the same rounds. Each
# figure is the median of the rounds; the ratios are of those medians.
#   bash bench/hashing/run.sh [ROUNDS]      (after tools/build.sh win)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
rounds=${1:-3}
exe="$top/build/win/bin/orchard_hash_bench.exe"
[ -x "$exe" ] || { echo "build first: bash tools/build.sh win" >&2; exit 1; }
file="$top/build/bench/hashing-1g.bin"
mkdir -p "$(dirname "$file")"
if [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" != 1073741824 ]; then
  head -c 1073741824 /dev/urandom >"$file"
fi
cat "$file" >/dev/null  # into the page cache

source "$top/tools/wine-env.sh"
wine_env_start "$top/build/win/wineprefix"

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
md5s=(); sha1s=(); ones=(); alls=(); caps=(); workers=""
for r in $(seq 1 "$rounds"); do
  t0=$(now); md5sum "$file" >/dev/null; t1=$(now); sha1sum "$file" >/dev/null; t2=$(now)
  md5s+=("$(calc "$t1 - $t0")"); sha1s+=("$(calc "$t2 - $t1")")
  out=$(wine "$exe" "Z:$file" | tr -d '\r')
  ones+=("$(echo "$out" | awk 'NR == 1 { print $3 }')")
  alls+=("$(echo "$out" | awk 'NR == 2 { print $3 }')")
  workers=$(echo "$out" | awk 'NR == 2 { print $2 }')
  caps+=("$(echo "$out" | awk '$1 == "streams" { print $3 }')")
done
wine_env_stop

md5=$(printf '%s\n' "${md5s[@]}" | median)
sha1=$(printf '%s\n' "${sha1s[@]}" | median)
one=$(printf '%s\n' "${ones[@]}" | median)
all=$(printf '%s\n' "${alls[@]}" | median)
cap=$(printf '%s\n' "${caps[@]}" | median)
mbs() { calc "1073.741824 / $1"; }
echo "1 GiB from the page cache, median of $rounds rounds; $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores"
printf '%-26s %7s s %9s MB/s\n' "md5sum" "$md5" "$(mbs "$md5")"
printf '%-26s %7s s %9s MB/s\n' "sha1sum" "$sha1" "$(mbs "$sha1")"
printf '%-26s %7s s\n' "md5sum + sha1sum" "$(calc "$md5 + $sha1")"
printf '%-26s %7s s %9s MB/s\n' "ids, 1 worker" "$one" "$(mbs "$one")"
printf '%-26s %7s s %9s MB/s\n' "ids, $workers workers" "$all" "$(mbs "$all")"
echo "ratio all workers / 1 worker:            $(calc "$one / $all") (target >= 5)"
echo "ratio all workers / (md5sum + sha1sum):  $(calc "($md5 + $sha1) / $all") (target >= 5)"
echo "(on this machine now, $workers independent MD5 streams run $cap times as fast as one: the most a pass can gain)"
