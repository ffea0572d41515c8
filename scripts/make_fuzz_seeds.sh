#!/usr/bin/env bash
# Regenerates the seed corpora of the fuzz targets in fuzz/corpus/: the
# hand-built streams of fuzz/make_seeds.py, two small synthesized files and,
# for the symbolizer, the symbol fixtures of the test build.
#   scripts/make_fuzz_seeds.sh <build folder with bin/sample_synth and tests/symbol_fixtures>
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/.." && pwd)
python3 "$root/fuzz/make_seeds.py"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/bin/sample_synth" --samples 40 --threads 3 --line-size 64 --line-size 128 \
  --compression none --seed 7 -o "$tmp/raw"
"$build/bin/sample_synth" --samples 40 --threads 2 --compression deflate --seed 8 -o "$tmp/deflated"
corpus=$root/fuzz/corpus
cp "$tmp/raw" "$corpus/fuzz_sample_stats/synth_raw"
cp "$tmp/deflated" "$corpus/fuzz_sample_stats/synth_deflated"
# sample_lines: the same files, and one with the planted shared lines.
"$build/bin/sample_synth" --samples 60 --threads 3 --compression none --seed 9 --false-sharing \
  -o "$tmp/planted"
mkdir -p "$corpus/fuzz_sample_lines"
cp "$tmp/raw" "$corpus/fuzz_sample_lines/synth_raw"
cp "$tmp/deflated" "$corpus/fuzz_sample_lines/synth_deflated"
cp "$tmp/planted" "$corpus/fuzz_sample_lines/synth_planted"
# The decoder targets read the event stream without its 12-byte container
# header; the decoder target's first byte chooses its block sizes.
tail -c +13 "$tmp/raw" > "$corpus/fuzz_round_trip/synth"
{ printf '\x10'; tail -c +13 "$tmp/raw"; } > "$corpus/fuzz_decoder/synth_blocks"
# The symbolizer target reads one ELF file: executables with and without
# PIE, a shared library, a debug file alone and compressed debug sections.
fixtures=$build/tests/symbol_fixtures
elf_seeds=$corpus/fuzz_symbolizer
mkdir -p "$elf_seeds"
cp "$fixtures/fixture_pie" "$elf_seeds/pie"
cp "$fixtures/fixture_nopie" "$elf_seeds/nopie"
cp "$fixtures/libfixture_lib.so" "$elf_seeds/shared_library"
cp "$fixtures/fixture_stripped.debug" "$elf_seeds/debug_file"
objcopy --compress-debug-sections=zlib "$fixtures/fixture_pie" "$elf_seeds/pie_compressed"
