#!/usr/bin/env bash
# Configures and builds the three trees: build/win (the Windows binaries,
# mingw-w64), build/host (the platform-free code, natively, with the
# sanitizers) and build/fuzz (the fuzz targets of that code, clang and libFuzzer).
# All three check the code's invariants (ORCHARD_ASSERT). `build.sh ship` builds
# the deliverables as shipped instead: build/ship, Release, without those checks.
#   bash tools/build.sh [all|win|host|fuzz|ship]
#   bash tools/build.sh run     only what tools/run.sh runs, in build/win
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 4)
which=${1:-all}

if [ "$which" = all ] || [ "$which" = win ] || [ "$which" = run ]; then
  cmake -S "$top" -B "$top/build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake" >/dev/null
  if [ "$which" = run ]; then
    cmake --build "$top/build/win" -j "$jobs" --target orchard_run
  else
    cmake --build "$top/build/win" -j "$jobs"
  fi
fi
if [ "$which" = all ] || [ "$which" = host ]; then
  cmake -S "$top" -B "$top/build/host" >/dev/null
  cmake --build "$top/build/host" -j "$jobs"
fi
if [ "$which" = all ] || [ "$which" = fuzz ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$top/build/fuzz" -DORCHARD_FUZZ=ON >/dev/null
  cmake --build "$top/build/fuzz" -j "$jobs" --target orchard_fuzzers
fi
if [ "$which" = ship ]; then
  cmake -S "$top" -B "$top/build/ship" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DORCHARD_ASSERTS=OFF >/dev/null
  cmake --build "$top/build/ship" -j "$jobs" --target OrchardSvc OrchardUI OrchardUI_ENU OrchardMon Seedlift
fi
