#!/usr/bin/env bash
# Proves that an installed copy is usable: installs the build into a scratch
# prefix, checks that the programs, their manual pages (which groff must
# format without a warning), the library, the headers, the package
# configuration and the pkg-config file are there, builds the consumer
# project beside this script against the prefix twice, with find_package and
# with the flags pkg-config gives, and compares the number of events each
# build counts in a synthesized file with the events that sample_dump prints.
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
              codec/encoder_binary.h support/warning_consumer.h analysis/cache_lines.h \
              analysis/cache_line_report.h symbols/symbol_resolver.h; do
  [[ -f $prefix/include/velkor/$header ]] || fail "header $header not installed"
done
[[ -n $(find "$prefix" -name velkorConfig.cmake) ]] || fail "package configuration not installed"
pc_file=$(find "$prefix" -path '*/pkgconfig/velkor.pc')
[[ -n $pc_file ]] || fail "pkg-config file not installed"
export PKG_CONFIG_PATH=$(dirname "$pc_file")
pkg-config --validate velkor || fail "pkg-config finds fault with velkor.pc"
[[ $(pkg-config --modversion velkor) == 2012.1.1 ]] || fail "velkor.pc has the wrong version"

cmake -S "$here" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_COMPILER="$cxx" > "$work/configure.log" \
  || { cat "$work/configure.log" >&2; fail "the consumer project does not configure"; }
cmake --build "$work/build" > "$work/build.log" 2>&1 \
  || { cat "$work/build.log" >&2; fail "the consumer project does not build"; }

# Outside CMake: the compiler with the flags pkg-config gives, nothing else.
# shellcheck disable=SC2046  # the flags are meant to be split into words
"$cxx" -std=c++17 -o "$work/count_events_pc" "$here/main.cc" $(pkg-config --cflags --libs velkor) \
  > "$work/build_pc.log" 2>&1 \
  || { cat "$work/build_pc.log" >&2; fail "the consumer does not build with pkg-config's flags"; }

"$prefix/bin/sample_synth" --samples 500 --threads 2 -o "$work/sample.smp"
counted=$("$work/build/count_events" "$work/sample.smp")
counted_pc=$("$work/count_events_pc" "$work/sample.smp")
dumped=$("$prefix/bin/sample_dump" -i "$work/sample.smp" | grep -c '^\[')
[[ $counted == "$dumped events" ]] || fail "count_events says '$counted', sample_dump shows $dumped"
[[ $counted_pc == "$counted" ]] || fail "built with pkg-config, count_events says '$counted_pc'"
echo "check_install: installed copy works ($counted)"
