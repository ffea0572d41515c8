#!/usr/bin/env bash
# Proves that an installed copy is usable: installs the build into a scratch
# prefix, checks that the programs, their manual pages (which groff must
# format without a warning), the library, the headers and the package
# configuration are there, builds the consumer project beside this script
# against the prefix with find_package, and compares the number of events
# it counts in a synthesized file with the events that sample_dump prints.
#   check_install.sh BUILD_DIR WORK_DIR CXX_COMPILER PROGRAM...
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$1 work=$2 cxx=$3
shift 3
prefix=$work/prefix

fail() { echo "check_install: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$prefix" > "$work/install.log"

for program in "$@"; do
  [[ -x $prefix/bin/$program ]] || fail "program $program not installed"
  page=$prefix/share/man/man1/$program.1
  [[ -f $page ]] || fail "manual page of $program not installed"
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1) || fail "groff fails on $page"
  [[ -z $warnings ]] || fail "groff warns about $page: $warnings"
done
[[ -n $(find "$prefix" -name libvelkor.a) ]] || fail "libvelkor.a not installed"
for header in stream/stream.h events/qnt_events.h flow/flow_file_reader.h \
              codec/encoder_binary.h support/warning_consumer.h; do
  [[ -f $prefix/include/velkor/$header ]] || fail "header $header not installed"
done
[[ -n $(find "$prefix" -name velkorConfig.cmake) ]] || fail "package configuration not installed"
cmake -S "$here" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_COMPILER="$cxx" > "$work/configure.log" \
  || { cat "$work/configure.log" >&2; fail "the consumer project does not configure"; }
cmake --build "$work/build" > "$work/build.log" 2>&1 \
  || { cat "$work/build.log" >&2; fail "the consumer project does not build"; }

"$prefix/bin/sample_synth" --samples 500 --threads 2 -o "$work/sample.smp"
counted=$("$work/build/count_events" "$work/sample.smp")
dumped=$("$prefix/bin/sample_dump" -i "$work/sample.smp" | grep -c '^\[')
[[ $counted == "$dumped events" ]] || fail "count_events says '$counted', sample_dump shows $dumped"
echo "check_install: installed copy works ($counted)"
