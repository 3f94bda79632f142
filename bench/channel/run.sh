#!/usr/bin/env bash
# Builds and runs the channel and digest benchmark under Wine, with OpenSSL's
# single-core MD5 and SHA-1 figures measured first on the same machine.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
if [ ! -f build/win/CMakeCache.txt ]; then
  bash tools/build.sh win
fi
cmake --build build/win --target channel_bench -j "$(nproc 2>/dev/null || echo 4)" >/dev/null

openssl_mbps() { # algorithm -> MB/s (10^6 bytes) at 16 KiB blocks
  openssl speed -evp "$1" -seconds 3 -bytes 16384 2>/dev/null |
    awk -v alg="$1" '$1 == alg { v = $NF; sub(/k$/, "", v); printf "%.1f\n", v / 1000 }' | tail -n 1
}
md5=$(openssl_mbps md5)
sha1=$(openssl_mbps sha1)
echo "openssl speed -evp md5: ${md5} MB/s, -evp sha1: ${sha1} MB/s (16 KiB blocks, one core)"

run() {
  source tools/wine-env.sh
  wine_env_start "$top/build/win/wineprefix"
  (cd build/win/bin && wine ./channel_bench.exe --openssl-md5 "$md5" --openssl-sha1 "$sha1" "$@")
}
# Its fixed loopback ports meet no other program in a network namespace of its own.
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  export md5 sha1 top
  exec unshare -n bash -c 'ip link set lo up; source tools/wine-env.sh; wine_env_start "$top/build/win/wineprefix"; cd build/win/bin && wine ./channel_bench.exe --openssl-md5 "$md5" --openssl-sha1 "$sha1" "$@"' bash "$@"
fi
run "$@"
