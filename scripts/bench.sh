#!/usr/bin/env bash
# Times sample_stats and sample_lines against the inflate floor on
# synthesized files, all alternating, and prints medians of wall and CPU
# time, their ratios, records per second and peak resident memory; then
# sample_dump's JSON with and without --symbols on recordings of real
# modules; the figures also go to
# <build>/bench/results.json. Wall time is what users see; CPU time is the
# steadier figure on a busy machine.
#   scripts/bench.sh [build folder] [runs] [zlib-only build folder]
# The floors are inflate_floor (zlib) and, when the build has ISA-L,
# inflate_floor_isal; sample_stats runs from the build folder and, when a
# third argument names a build configured with -DVK_WITH_ISAL=OFF, from there
# too. Every ratio is to the zlib floor.
# The files are synthesized once (fixed seed) into <build>/bench/data.
set -euo pipefail
build=${1:-build}
runs=${2:-5}
zlib_build=${3:-}
engine=zlib
grep -q '^VK_WITH_ISAL:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null && engine=ISA-L
bin=$build/bin
tools=$build/bench
data=$build/bench/data
mkdir -p "$data"

synth_file() {  # name samples compression
  local file=$data/$1
  if [[ ! -s $file ]]; then
    echo "synthesizing $1 ($2 samples, $3)" >&2
    "$bin/sample_synth" --samples "$2" --threads 8 --line-size 64 --line-size 128 \
      --compression "$3" --seed 20121 -o "$file.tmp"
    mv "$file.tmp" "$file"
  fi
  if [[ ! -s $file.records ]]; then
    "$tools/count_records" "$file" > "$file.records"
  fi
  echo "$file"
}

now() { date +%s.%N; }

# One run of a command, output discarded: prints wall seconds, CPU seconds
# (user + system) and peak resident set size in kilobytes.
measure() {
  local start end
  start=$(now)
  /usr/bin/time -f '%U %S %M' -o "$data/.time" "$@" > /dev/null
  end=$(now)
  awk -v a="$start" -v b="$end" '{ printf "%.4f %.2f %d\n", b - a, $1 + $2, $3 }' "$data/.time"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

d1m=$(synth_file deflated-1m.smp 1000000 deflate)
r1m=$(synth_file raw-1m.smp 1000000 none)
d10m=$(synth_file deflated-10m.smp 10000000 deflate)

# The programs timed on every file, alternating within each run: the floors
# first (zlib, then ISA-L when built), then sample_stats of this build and of
# the zlib-only build when given, then sample_lines of this build.
labels=("floor zlib") commands=("$tools/inflate_floor")
if [[ -x $tools/inflate_floor_isal ]]; then
  labels+=("floor ISA-L") commands+=("$tools/inflate_floor_isal")
fi
labels+=("sample_stats $engine") commands+=("$bin/sample_stats")
if [[ -n $zlib_build ]]; then
  labels+=("sample_stats zlib") commands+=("$zlib_build/bin/sample_stats")
fi
labels+=("sample_lines $engine") commands+=("$bin/sample_lines")

json_entries=()
printf '%-18s %-19s %8s %7s %8s %7s %11s %8s %8s\n' file program wall_s ratio cpu_s \
  ratio records/s peak_MB B/sample
for file in "$d1m" "$r1m" "$d10m"; do
  n=$runs
  [[ $file == "$d10m" ]] && n=$(( runs < 3 ? runs : 3 ))
  declare -A wall=() cpu=() kb=()
  for ((i = 0; i < n; ++i)); do
    for ((p = 0; p < ${#commands[@]}; ++p)); do
      cmd=${commands[$p]}
      if [[ $cmd == */sample_stats || $cmd == */sample_lines ]]; then
        set -- "$cmd" -i "$file"
      else
        set -- "$cmd" "$file"
      fi
      read -r w c k < <(measure "$@")
      wall[$p]+="$w " cpu[$p]+="$c " kb[$p]+="$k "
    done
  done
  records=$(cat "$file.records")
  samples=$([[ $file == "$d10m" ]] && echo 10000000 || echo 1000000)
  name=$(basename "$file")
  floor_wall= floor_cpu=
  for ((p = 0; p < ${#commands[@]}; ++p)); do
    w=$(printf '%s\n' ${wall[$p]} | median)
    c=$(printf '%s\n' ${cpu[$p]} | median)
    k=$(printf '%s\n' ${kb[$p]} | sort -g | tail -n 1)
    [[ -z $floor_wall ]] && floor_wall=$w floor_cpu=$c
    # Ratios are to the zlib floor of the same run.
    read -r ratio rate cpu_ratio mb per_sample < <(awk -v fw="$floor_wall" -v w="$w" \
      -v fc="$floor_cpu" -v c="$c" -v r="$records" -v kb="$k" -v n="$samples" 'BEGIN {
        printf "%.2f %.0f %.2f %.1f %.1f\n", w / fw, r / w, c / (fc > 0 ? fc : 0.01),
               kb / 1024, kb * 1024 / n }')
    label=${labels[$p]}
    if [[ $label == floor* ]]; then shown_rate=- shown_mb=- shown_per=-; else
      shown_rate=$rate shown_mb=$mb shown_per=$per_sample; fi
    printf '%-18s %-19s %8s %7s %8s %7s %11s %8s %8s\n' "$name" "$label" "$w" "$ratio" "$c" \
      "$cpu_ratio" "$shown_rate" "$shown_mb" "$shown_per"
    json_entries+=("$(printf '{"file": "%s", "program": "%s", "samples": %s, "records": %s, "runs": %s, "wall_seconds": %s, "wall_ratio_to_zlib_floor": %s, "cpu_seconds": %s, "cpu_ratio_to_zlib_floor": %s, "records_per_second": %s, "peak_rss_kb": %s, "bytes_per_sample": %s}' \
      "$name" "$label" "$samples" "$records" "$n" "$w" "$ratio" "$c" "$cpu_ratio" "$rate" "$k" \
      "$per_sample")")
  done
  unset wall cpu kb
done
# sample_dump --format json with and without --symbols on recordings of a
# real module, a million samples over 4000 distinct pcs: what symbols cost
# once their answers are cached. Two modules: bench/symbol_module, a C
# program of 256 functions, and a copy of sample_dump, C++ with deep inline
# chains (its resolutions are several times longer).
symbol_file() {  # name module
  local file=$data/$1
  if [[ ! -s $file ]]; then
    echo "writing $1" >&2
    "$tools/symbol_recording" "$2" 1000000 4000 "$file.tmp"
    mv "$file.tmp" "$file"
  fi
  [[ -s $file.records ]] || "$tools/count_records" "$file" > "$file.records"
  echo "$file"
}
[[ -s $data/cxx_module ]] || cp "$bin/sample_dump" "$data/cxx_module"
c_file=$(symbol_file symbols-c-1m.smp "$(cd "$tools" && pwd)/symbol_module")
cxx_file=$(symbol_file symbols-cxx-1m.smp "$(cd "$data" && pwd)/cxx_module")
echo
printf '%-22s %-26s %8s %8s %13s %13s %10s\n' file program wall_s cpu_s events/s_wall \
  events/s_cpu out_MB
for file in "$c_file" "$cxx_file"; do
  symbol_labels=("sample_dump json" "sample_dump json symbols")
  symbol_args=("--format json" "--symbols --format json")
  declare -A wall=() cpu=()
  for ((i = 0; i < runs; ++i)); do
    for p in 0 1; do
      # shellcheck disable=SC2086  # the arguments are meant to be split
      read -r w c k < <(measure "$bin/sample_dump" ${symbol_args[$p]} -i "$file")
      wall[$p]+="$w " cpu[$p]+="$c "
    done
  done
  records=$(cat "$file.records")
  name=$(basename "$file")
  for p in 0 1; do
    w=$(printf '%s\n' ${wall[$p]} | median)
    c=$(printf '%s\n' ${cpu[$p]} | median)
    # shellcheck disable=SC2086
    bytes=$("$bin/sample_dump" ${symbol_args[$p]} -i "$file" | wc -c)
    read -r rate cpu_rate mb < <(awk -v w="$w" -v c="$c" -v r="$records" -v b="$bytes" 'BEGIN {
      printf "%.0f %.0f %.0f\n", r / w, r / (c > 0 ? c : 0.01), b / 1048576 }')
    printf '%-22s %-26s %8s %8s %13s %13s %10s\n' "$name" "${symbol_labels[$p]}" "$w" "$c" \
      "$rate" "$cpu_rate" "$mb"
    json_entries+=("$(printf '{"file": "%s", "program": "%s", "records": %s, "runs": %s, "wall_seconds": %s, "cpu_seconds": %s, "records_per_second": %s, "records_per_cpu_second": %s, "output_mb": %s}' \
      "$name" "${symbol_labels[$p]}" "$records" "$runs" "$w" "$c" "$rate" "$cpu_rate" "$mb")")
  done
  unset wall cpu
done

{
  echo '{"results": ['
  for ((i = 0; i < ${#json_entries[@]}; ++i)); do
    sep=$([[ $i -lt $(( ${#json_entries[@]} - 1 )) ]] && echo , || true)
    echo "  ${json_entries[$i]}$sep"
  done
  echo ']}'
} > "$build/bench/results.json"
echo "figures written to $build/bench/results.json"
