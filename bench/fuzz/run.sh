#!/usr/bin/env bash
# Runs every fuzz target for longer than CI does and prints, per target, the
# executions, executions per second and the coverage reached (edges and
# features) next to the coverage of its seeds alone, measured in the same run.
# Usage: bench/fuzz/run.sh [SECONDS] [TARGET...]   (default 240 s, all targets)
# JOBS=n runs n targets at a time (default: the number of processors).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-240}
[ $# -gt 0 ] && shift
jobs=${JOBS:-$(nproc 2>/dev/null || echo 4)}

bash "$top/tools/build.sh" fuzz >/dev/null
bin="$top/build/fuzz/bin"
work="$top/build/fuzz/bench-work"
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in "$bin"/fuzz_*; do targets+=("$(basename "$f" | sed 's/^fuzz_//')"); done
fi
mkdir -p "$work"

run_one() { # target -> log in $work/<target>.log
  local name=$1 dict="$top/fuzzers/dict/$1.dict"
  [ -f "$dict" ] || dict=
  bash "$top/fuzzers/run_fuzzer.sh" "$bin/fuzz_$name" "$seconds" "$top/fuzzers/corpus/$name" \
    "$work/$name" $dict >"$work/$name.log" 2>&1 || true
}
export -f run_one
export top bin work seconds
echo "fuzz: ${#targets[@]} targets, $seconds s each, $jobs at a time ($(lscpu | sed -n 's/^Model name: *//p'))"
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}'

field() { # log, pattern, field name -> value
  sed -n "s/.*$2.*$3: *\([0-9]*\).*/\1/p" "$1" | tail -n 1
}
printf '%-28s %12s %10s %14s %14s %8s  %s\n' target executions exec/s "seeds cov/ft" "final cov/ft" corpus result
for name in "${targets[@]}"; do
  log="$work/$name.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  seed_cov=$(field "$log" INITED cov); seed_ft=$(field "$log" INITED ft)
  cov=$(sed -n 's/.*cov: \([0-9]*\) ft: \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  ft=$(sed -n 's/.*cov: \([0-9]*\) ft: \([0-9]*\).*/\2/p' "$log" | tail -n 1)
  corpus=$(ls "$work/$name/corpus" 2>/dev/null | wc -l)
  result=ok
  if ls "$work/$name/artifacts/"* >/dev/null 2>&1; then result="FOUND $(ls "$work/$name/artifacts" | head -n 1)"; fi
  printf '%-28s %12s %10s %14s %14s %8s  %s\n' "$name" "${execs:-?}" "${rate:-?}" "${seed_cov:-?}/${seed_ft:-?}" \
    "${cov:-?}/${ft:-?}" "$corpus" "$result"
done
