#!/usr/bin/env bash
# Publishing benchmark: OrchardSvc from command 2 to "published" for 2,000
# small files (files/s) and one 1 GiB file (MB/s), next to the raw hashing
# benchmark over the same 1 GiB file in the same run; then the cost of the
# database's journal and sync settings (rows stored per second under
# OrchardSvc's settings, next to SQLite's default ones) on the same disk.
#   bash bench/publishing/run.sh            (after tools/build.sh win)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
# OrchardSvc's fixed port (9090) meets no other program in a network namespace of its own.
if [ -z "${ORCHARD_BENCH_NETNS:-}" ] && [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  exec env ORCHARD_BENCH_NETNS=1 unshare -n bash -c 'ip link set lo up; exec bash "$0" "$@"' "$0" "$@"
fi
bin="$top/build/win/bin"
[ -x "$bin/OrchardSvc.exe" ] && [ -x "$bin/orchard_hash_bench.exe" ] && [ -x "$bin/db_settings_bench.exe" ] || { echo "build first: bash tools/build.sh win" >&2; exit 1; }
file="$top/build/bench/hashing-1g.bin"
mkdir -p "$(dirname "$file")"
if [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" != 1073741824 ]; then
  head -c 1073741824 /dev/urandom >"$file"
fi
cat "$file" >/dev/null  # into the page cache

source "$top/tools/wine-env.sh"
wine_env_start "$top/build/win/wineprefix"
wine "$bin/orchard_hash_bench.exe" "Z:$file" | tr -d '\r' | sed 's/^/reference: /'
PYTHONDONTWRITEBYTECODE=1 python3 "$top/bench/publishing/publish_bench.py" --bin "$bin" --wine wine --big "$file"
wine "$bin/orchard_hash_bench.exe" "Z:$file" | tr -d '\r' | sed 's/^/reference: /'
db="$top/build/bench/db-settings"
mkdir -p "$db"
wine "$bin/db_settings_bench.exe" "Z:$db" 2000 | tr -d '\r'
wine_env_stop
