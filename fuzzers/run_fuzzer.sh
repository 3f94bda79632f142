#!/usr/bin/env bash
# Runs one fuzz target for a fixed time over its seeds. New inputs go to a
# fresh working corpus beside the build, never into the seed folder; a crash,
# leak or hang leaves its input in WORK/artifacts/ and fails the run.
# Usage: run_fuzzer.sh BINARY SECONDS SEEDS WORK [DICT] [-- more libFuzzer options]
set -euo pipefail
bin=$1 seconds=$2 seeds=$3 work=$4
shift 4
dict=
if [ $# -gt 0 ] && [ "$1" != -- ]; then dict=$1; shift; fi
[ "${1:-}" = -- ] && shift

rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
      -artifact_prefix="$work/artifacts/")
[ -n "$dict" ] && args+=(-dict="$dict")
exec "$bin" "${args[@]}" "$@" "$work/corpus" "$seeds"
