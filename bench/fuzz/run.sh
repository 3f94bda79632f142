#!/usr/bin/env bash
# Runs every fuzz target for longer than CI does and prints, per target, the
# executions, executions per second and the coverage reached (edges and
# features) next to the coverage of its seeds alone, measured in the same run.
# Usage: bench/fuzz/run.sh [SECONDS] [TARGET...]   (default 240 s, all targets)
# JOBS=n runs n targets at a time (default: the number of processors);
# FUZZ_OPTIONS passes more libFuzzer options (e.g. -use_value_profile=1).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-240}
[ $# -gt 0 ] && shift
jobs=${JOBS:-$(nproc 2>/dev/null || echo 4)}

bash "$top/tools/build.sh" fuzz >/dev/null
work="$top/build/fuzz/bench-work"
mkdir -p "$work"
# Each target's program, seeds, dictionary and own libFuzzer options, as CTest runs it.
(cd "$top/build/fuzz" && ctest --show-only=json-v1) | python3 -c '
import json, sys
for t in json.load(sys.stdin)["tests"]:
    c = t["command"]
    if t["name"].startswith("fuzz_") and len(c) >= 6:
        rest = c[6:]
        options = rest[rest.index("--") + 1:] if "--" in rest else []
        dictionary = rest[0] if rest and rest[0] != "--" else "-"
        print(t["name"][5:], c[2], c[4], dictionary, ",".join(options) or "-")
' >"$work/targets.txt"
if [ $# -gt 0 ]; then
  wanted=" $* "
  awk -v w="$wanted" 'index(w, " " $1 " ")' "$work/targets.txt" >"$work/run.txt"
else
  cp "$work/targets.txt" "$work/run.txt"
fi

run_one() { # name program seeds dictionary-or-"-" options-or-"-" -> log in $work/<name>.log
  local dict=$4 options=${5//,/ }
  [ "$dict" = - ] && dict=
  [ "$options" = - ] && options=
  bash "$top/fuzzers/run_fuzzer.sh" "$2" "$seconds" "$3" "$work/$1" $dict -- $options ${FUZZ_OPTIONS:-} \
    >"$work/$1.log" 2>&1 || true
}
export -f run_one
export top work seconds FUZZ_OPTIONS
echo "fuzz: $(wc -l <"$work/run.txt") targets, $seconds s each, $jobs at a time" \
     "($(lscpu | sed -n 's/^Model name: *//p'))${FUZZ_OPTIONS:+, $FUZZ_OPTIONS}"
xargs -P "$jobs" -L 1 bash -c 'run_one "$@"' _ <"$work/run.txt"

printf '%-26s %12s %9s %14s %14s %7s  %s\n' target executions exec/s "seeds cov/ft" "final cov/ft" corpus result
while read -r name _; do
  log="$work/$name.log"
  # A log without the lines (a target that did not start) shows "?".
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  inited=$(sed -n '/INITED/{s/.*cov: \([0-9]*\) ft: \([0-9]*\).*/\1\/\2/p;q}' "$log")
  final=$(sed -n 's/.*cov: \([0-9]*\) ft: \([0-9]*\).*/\1\/\2/p' "$log" | tail -n 1)
  corpus=$(ls "$work/$name/corpus" 2>/dev/null | wc -l)
  result=ok
  if ls "$work/$name/artifacts/"* >/dev/null 2>&1; then result="FOUND $work/$name/artifacts/$(ls "$work/$name/artifacts" | head -n 1)"; fi
  printf '%-26s %12s %9s %14s %14s %7s  %s\n' "$name" "${execs:-?}" "${rate:-?}" "${inited:-?}" "${final:-?}" \
    "$corpus" "$result"
done <"$work/run.txt"
