#!/usr/bin/env bash
# Runs the tests of the three builds (called by tools/test.sh after it has
# built them): the host tests, each fuzz target for its short fixed time, then
# the Windows tests under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
# In a fresh network namespace the loopback interface starts down.
ip link set lo up 2>/dev/null || true
jobs=$(nproc 2>/dev/null || echo 4)

summary() { # ctest output file -> "passed failed"
  sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$1" | tail -n 1
}

status=0
echo "== host tests (sanitizers)"
(cd build/host && ctest --output-on-failure -j "$jobs") 2>&1 | tee build/host/ctest.out || status=1

echo "== fuzz targets (libFuzzer, sanitizers)"
(cd build/fuzz && ctest --output-on-failure -L fuzz -j "$jobs") 2>&1 | tee build/fuzz/ctest.out || status=1

echo "== Windows tests (Wine)"
source tools/wine-env.sh
wine_env_start "$top/build/win/wineprefix"
(cd build/win && ctest --output-on-failure -j "$jobs") 2>&1 | tee build/win/ctest.out || status=1
wine_env_stop

passed=0; failed=0
for f in build/host/ctest.out build/fuzz/ctest.out build/win/ctest.out; do
  read -r nf nt <<<"$(summary "$f")" || true
  if [ -z "${nt:-}" ]; then status=1; continue; fi
  passed=$((passed + nt - nf)); failed=$((failed + nf))
done
[ "$failed" -eq 0 ] || status=1
echo "all: $passed passed, $failed failed"
exit $status
