#!/usr/bin/env bash
# Serving benchmark: Seedlift under Wine serves one 1 GiB file over loopback to
# 1, 8 and 64 native peers (TCP Req_data, cache cold then warm) and UDP blocks
# to 8 peers, next to nginx, the plain RC4 sender and RC4 alone measured in
# the same run; prints the figures and the ratios against their targets.
#   bash bench/serving/run.sh [PEERS]      (PEERS default 1,8,64)
# nginx comes from Debian; it is installed here when missing (and skipped
# without network).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 4)
peers=${1:-1,8,64}

[ -f build/win/CMakeCache.txt ] || bash tools/build.sh win
cmake --build build/win -j "$jobs" --target Seedlift seedlift_session_driver winsock_sender tallyhub >/dev/null
# The peers run natively, without the sanitizers of build/host.
cmake -S . -B build/bench-host -DCMAKE_BUILD_TYPE=Release -DORCHARD_SANITIZE=OFF >/dev/null
cmake --build build/bench-host -j "$jobs" --target p2p_native_peer >/dev/null

if ! command -v nginx >/dev/null 2>&1 && [ ! -x /usr/sbin/nginx ] && [ "$(id -u)" = 0 ]; then
  (export DEBIAN_FRONTEND=noninteractive; apt-get update -q >/dev/null && \
   apt-get install -y -q --no-install-recommends nginx >/dev/null) || echo "bench: nginx not installed" >&2
fi

file="$top/build/bench/serving-1g.bin"
mkdir -p "$(dirname "$file")"
if [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" != 1073741824 ]; then
  head -c 1073741824 /dev/urandom >"$file"
fi
cat "$file" >/dev/null  # into the page cache

run() {
  lscpu | grep 'Model name' || true
  source tools/wine-env.sh
  wine_env_start "$top/build/win/wineprefix"
  trap wine_env_stop EXIT
  python3 bench/serving/serving_bench.py --bin build/win/bin --peer build/bench-host/bin/p2p_native_peer \
    --file "$file" --peers "$peers"
}
# Its ports meet no other program in a network namespace of its own.
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null && [ -z "${ORCHARD_BENCH_NS:-}" ]; then
  export ORCHARD_BENCH_NS=1
  exec unshare -n bash -c 'ip link set lo up; exec bash "$0" "$@"' "$0" "$@"
fi
run
