#!/usr/bin/env bash
# Runs every fuzz target built in <build>/fuzz for a bounded time each.
#   scripts/run_fuzz.sh <build folder> <seconds per target> [libFuzzer options...]
# Each target starts from its checked-in seeds (fuzz/corpus/<target>) and a
# working corpus kept in <build>/corpus/<target>; crashes are written to
# <build>/artifacts/. Fails when any target finds a fault.
set -uo pipefail
build=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/artifacts"
status=0
for binary in "$build"/fuzz/fuzz_*; do
  [[ -x "$binary" && -f "$binary" ]] || continue
  target=$(basename "$binary")
  mkdir -p "$build/corpus/$target"
  seeds="$root/fuzz/corpus/$target"
  [[ -d "$seeds" ]] || seeds=""
  log="$build/artifacts/$target.log"
  echo "== $target: ${seconds}s"
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "$@" \
    "$build/corpus/$target" $seeds >"$log" 2>&1
  rc=$?
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" | sed 's/^/   /'
  if [[ $rc -ne 0 ]]; then
    echo "   FAILED (exit $rc); last lines of $log:"
    tail -n 30 "$log" | sed 's/^/   | /'
    status=1
  fi
done
exit $status
