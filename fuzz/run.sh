#!/usr/bin/env bash
# Runs every fuzz target for a set time. Usage: fuzz/run.sh BUILD_DIR SECONDS
# Each target starts from its seeds (fuzz/seeds/<target>) and a working corpus
# kept in BUILD_DIR/fuzz-corpus/<target>. An input that crashes a target, trips
# a sanitizer or an oracle is kept in fuzz/crashes/<target>/; once the fault is
# fixed, move it to fuzz/regressions/<target>/, where every test run replays it.
# Exits 1 when any target failed; prints one line of figures per target.
set -uo pipefail
build=$1
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
status=0
printf '%-14s %8s %12s %10s %s\n' target seconds executions exec/s result
for exe in "$build"/fuzz/fuzz_*; do
  name=${exe##*/fuzz_}
  corpus=$build/fuzz-corpus/$name
  crashes=$here/crashes/$name
  mkdir -p "$corpus" "$crashes"
  log=$build/fuzz-corpus/$name.log
  args=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1
        -artifact_prefix="$crashes/" "$corpus")
  [ -d "$here/seeds/$name" ] && args+=("$here/seeds/$name")
  [ -d "$here/regressions/$name" ] && args+=("$here/regressions/$name")
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$exe" "${args[@]}" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  runs=${runs:-0}
  result=ok
  if [ $rc -ne 0 ]; then
    result="FAILED (exit $rc), see $log; inputs kept in $crashes"
    status=1
    tail -40 "$log" >&2
  fi
  rmdir "$crashes" 2>/dev/null || true
  printf '%-14s %8s %12s %10s %s\n' "$name" "$seconds" "$runs" "$((runs / (seconds > 0 ? seconds : 1)))" "$result"
done
rmdir "$here/crashes" 2>/dev/null || true
exit $status
