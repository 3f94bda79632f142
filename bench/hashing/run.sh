#!/usr/bin/env bash
# Hashing benchmark: the whole-file id computation over a 1 GiB file in the
# page cache (the Windows build, under Wine), next to md5sum and sha1sum run on
# the same file in the same run. Prints the ratio of the two tools' combined
# time to ours (above 1: faster than running both one after the other).
#   bash bench/hashing/run.sh            (after tools/build.sh win)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
exe="$top/build/win/bin/orchard_hash_bench.exe"
[ -x "$exe" ] || { echo "build first: bash tools/build.sh win" >&2; exit 1; }
file="$top/build/bench/hashing-1g.bin"
mkdir -p "$(dirname "$file")"
if [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" != 1073741824 ]; then
  head -c 1073741824 /dev/urandom >"$file"
fi
cat "$file" >/dev/null  # into the page cache

now() { date +%s.%N; }
t0=$(now); md5sum "$file" >/dev/null; t1=$(now); sha1sum "$file" >/dev/null; t2=$(now)
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
md5=$(calc "$t1 - $t0"); sha1=$(calc "$t2 - $t1")

source "$top/tools/wine-env.sh"
wine_env_start "$top/build/win/wineprefix"
line=$(wine "$exe" "Z:$file" | tr -d '\r')
wine_env_stop
ours=$(echo "$line" | awk '{print $2}')

echo "md5sum  $md5 s $(calc "1073.741824 / $md5") MB/s"
echo "sha1sum $sha1 s $(calc "1073.741824 / $sha1") MB/s"
echo "$line"
echo "ratio (md5sum + sha1sum) / ids: $(calc "($md5 + $sha1) / $ours")"
