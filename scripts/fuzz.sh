#!/bin/bash
# Runs the fuzz targets of dcfsync (libFuzzer) on the program's own code:
#   settings   the settings file reader, every key
#   evaluate   the two decoders and the telegram evaluation
#   exchange   the command exchange and the dump over the POSIX port code
#
# Usage: scripts/fuzz.sh [--seconds N | --runs N] [--jobs N] [TARGET]...
#   --seconds N   run each target for N seconds (default 60)
#   --runs N      run each target for N executions instead
#   --jobs N      N fuzzing processes per target, side by side (default 1)
#   no TARGET     all three
#
# Expects the "fuzz" preset to be built (scripts/test.sh fuzz does both).
# Starting inputs are made from tests/data and the documented examples
# into build/fuzz/seeds; what the fuzzer finds interesting is kept in
# build/fuzz/corpus/TARGET across runs. A failing input is saved as
# build/fuzz/findings/TARGET/crash-* (or leak-*, timeout-*); reproduce it
# with build/fuzz/fuzz/fuzz_TARGET FILE. Exit status 1 when any target
# found something.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$repo/build/fuzz"
seconds=60
runs=
jobs=1
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    settings|evaluate|exchange) targets+=("$1"); shift ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "fuzz.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=(settings evaluate exchange)

for t in "${targets[@]}"; do
  [ -x "$build/fuzz/fuzz_$t" ] || { echo "fuzz.sh: build/fuzz/fuzz/fuzz_$t missing; build the fuzz preset first" >&2; exit 2; }
done
"$build/fuzz/make_seeds" "$repo/tests/data/dcf77-received-minutes.txt" "$build/seeds"

# One limit for every target: a run may not exceed its time or its count.
if [ -n "$runs" ]; then
  limit=(-runs="$runs")
else
  limit=(-max_total_time="$seconds")
fi

# Halts on the first finding; -timeout turns a hang of one input into a
# finding too. With --jobs, libFuzzer's fork mode shares one corpus.
failed=()
printf '\n%-10s %14s %10s %8s %8s  %s\n' target executions "exec/s" corpus seconds result
summary=()
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  log="$build/fuzz-$t.log"
  mkdir -p "$corpus" "$findings"
  t0=$SECONDS
  # Inputs no longer than a few frames or answers (or a settings file of
  # some long lines) keep each execution short.
  case "$t" in
    settings) max_len=2048 ;;
    evaluate) max_len=512 ;;
    exchange) max_len=4096 ;;
  esac
  options=(-timeout=10 -rss_limit_mb=2048 -max_len=$max_len -print_final_stats=1
           -artifact_prefix="$findings/")
  if [ "$jobs" -gt 1 ]; then
    options+=(-fork="$jobs" -ignore_crashes=0)
  fi
  status=0
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:quarantine_size_mb=16 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$build/fuzz/fuzz_$t" "${options[@]}" "${limit[@]}" "$corpus" "$build/seeds/$t" \
    >"$log" 2>&1 || status=$?
  # Executions: the final statistics of a single process, the last status
  # line in fork mode.
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  elapsed=$((SECONDS - t0))
  [ -n "$rate" ] || rate=$(( ${execs:-0} / (elapsed > 0 ? elapsed : 1) ))
  size=$(find "$corpus" -type f | wc -l)
  found=$(find "$findings" -type f | wc -l)
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    result="FOUND $found (see $log)"
    failed+=("$t")
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*check failed)' "$log" | head -5 >&2 || true
  else
    result=ok
  fi
  summary+=("$(printf '%-10s %14s %10s %8s %8s  %s' "$t" "${execs:-?}" "$rate" "$size" "$elapsed" "$result")")
  echo "${summary[-1]}"
done

echo
echo "fuzz targets with findings: ${failed[*]:-none}"
[ ${#failed[@]} -eq 0 ]
