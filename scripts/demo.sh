#!/usr/bin/env bash
# The first run (make demo): builds only the programs the demo runs, in build/
# with the flags of make build, so that make test later reuses it; records the
# demo program with planted false sharing; prints the report with symbols and
# the hottest cache lines; writes the HTML report. One line per step: the
# output of the build goes to build/demo.log and is shown only when it fails.
#   scripts/demo.sh [JOBS]
set -euo pipefail

jobs=${1:-$(nproc 2>/dev/null || echo 2)}
build=build
log=$build/demo.log
sample=$build/demo.smp
page=$build/demo.html
programs=(sample_synth sample_stats sample_lines sample_dump demo_program)
synth_options=(--samples 50000 --threads 4 --line-size 64 --line-size 128
               --seed 2012 --binary "$build/bin/demo_program" --false-sharing)

# Run from make, the build would join make's job server and print its
# directory lines; it runs on its own here.
unset MAKEFLAGS MFLAGS MAKELEVEL

mkdir -p "$build"
: >"$log"

step() {
  local title=$1
  shift
  printf '%s\n' "-- $title"
  if ! "$@" >>"$log" 2>&1; then
    echo "make demo: this step failed; the end of $log:" >&2
    tail -n 30 "$log" >&2
    exit 1
  fi
}

started=$SECONDS
step "configuring $build/ (log: $log)" \
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVK_WERROR=ON ${CMAKE_FLAGS:-}
step "building ${programs[*]} ($jobs jobs)" \
  cmake --build "$build" -j "$jobs" --target "${programs[@]}"
step "recording $build/bin/demo_program with false sharing into $sample" \
  "$build/bin/sample_synth" "${synth_options[@]}" -o "$sample"
echo "-- ready after $((SECONDS - started)) s"

echo
echo "\$ $build/bin/sample_stats --symbols -i $sample"
"$build/bin/sample_stats" --symbols --no-progress -i "$sample"

echo
echo "\$ $build/bin/sample_lines --symbols --top 3 -i $sample"
"$build/bin/sample_lines" --symbols --no-progress --top 3 -i "$sample"

echo
write_page() {
  "$build/bin/sample_stats" --format html --symbols --no-progress -i "$sample" >"$page"
}
step "writing the HTML report to $page" write_page

echo
echo "The report as a page: $page"
echo "Open it in any browser: chromium $page, or file://$(realpath "$page")"
