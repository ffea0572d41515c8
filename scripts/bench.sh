#!/usr/bin/env bash
# Times sample_stats and sample_lines against the inflate floors on
# synthesized recordings of two shapes, all alternating, and prints medians
# of wall and CPU time, their ratios, records per second and peak resident
# memory; then checks the targets of sample_stats (each figure next to its
# target, and whether it holds) and that its reports are byte for byte those
# of a build of the reference revision; then sample_dump's JSON with and
# without --symbols on recordings of real modules. The figures also go to
# <build>/bench/results.json. Wall time is what users see; CPU time is the
# steadier figure on a busy machine.
#   scripts/bench.sh [build folder] [runs] [zlib-only build folder]
# The floors are inflate_floor (zlib) and, when the build has ISA-L,
# inflate_floor_isal; sample_stats runs from the build folder and, on the
# deflated files, when a third argument names a build configured with
# -DVK_WITH_ISAL=OFF, from there too. Ratios in the table are to the zlib
# floor; the speed target is to the ISA-L floor.
#
# The shapes, each with 1 and 10 million samples, deflated and raw, eight
# threads, line sizes 64 and 128 (files synthesized once, with a fixed seed,
# into <build>/bench/data, and again only when their options change):
#   hot   sample_synth's own model: seventeen instructions, a hot spot
#   flat  2000 program counters sampled alike, every sample a complete record
#         with one or two ends that trail the begin by up to 100000 accesses
# The reference revision's sample_stats is built once, from `git archive`,
# in build-reference/ (BENCH_REFERENCE_DIR overrides); its reports are kept
# beside the files. A report that differs fails the script (status 1) after
# everything is printed.
set -euo pipefail
build=${1:-build}
runs=${2:-5}
zlib_build=${3:-}
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
reference_revision=9b2fb6e
reference=${BENCH_REFERENCE_DIR:-$repo/build-reference}
engine=zlib
grep -q '^VK_WITH_ISAL:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null && engine=ISA-L
bin=$build/bin
tools=$build/bench
data=$build/bench/data
mkdir -p "$data"

load() { cut -d ' ' -f 1-3 /proc/loadavg; }
load_before=$(load)

# ---- The reference build ------------------------------------------------------

reference_stats=$reference/bin/sample_stats
if [[ ! -x $reference_stats || $(cat "$reference/REVISION" 2>/dev/null) != "$reference_revision" ]]; then
  echo "building sample_stats of the reference revision $reference_revision in $reference" >&2
  rm -rf "$reference"
  mkdir -p "$reference/src" "$reference/bin"
  git -C "$repo" archive "$reference_revision" | tar -x -C "$reference/src"
  cmake -S "$reference/src" -B "$reference/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVK_BUILD_TESTS=OFF > "$reference/configure.log" 2>&1 ||
    { echo "cannot configure the reference build: see $reference/configure.log" >&2; exit 1; }
  cmake --build "$reference/build" -j 2 --target sample_stats > "$reference/build.log" 2>&1 ||
    { echo "cannot build the reference sample_stats: see $reference/build.log" >&2; exit 1; }
  cp "$reference/build/bin/sample_stats" "$reference_stats"
  echo "$reference_revision" > "$reference/REVISION"
fi

# ---- The files ----------------------------------------------------------------

common=(--threads 8 --line-size 64 --line-size 128 --seed 20121)
declare -A shape_args=(
  [hot]=""
  [flat]="--pcs 2000 --pc-skew 0 --complete-only --ends 1-2 --end-trail 100000"
)

# Synthesizes a file unless it is there with the same options; prints its path.
synth_file() {  # shape samples compression
  local name file
  name=$1-$(( $2 / 1000000 ))m-$([[ $3 == deflate ]] && echo deflated || echo raw).smp
  file=$data/$name
  # shellcheck disable=SC2206  # the options are meant to be split
  local args=(--samples "$2" "${common[@]}" ${shape_args[$1]} --compression "$3")
  if [[ ! -s $file || $(cat "$file.args" 2>/dev/null) != "${args[*]}" ]]; then
    echo "synthesizing $name (${args[*]})" >&2
    rm -f "$file" "$file".*
    "$bin/sample_synth" "${args[@]}" -o "$file.tmp"
    mv "$file.tmp" "$file"
    echo "${args[*]}" > "$file.args"
  fi
  [[ -s $file.records ]] || "$tools/count_records" "$file" > "$file.records"
  echo "$file"
}

now() { date +%s.%N; }

# One run of a command, its standard output to the file given, its standard
# error to the file given or, for "-", where the script's goes: prints wall
# seconds, CPU seconds (user + system) and peak resident set size in
# kilobytes.
measure() {  # out err command...
  local start end out=$1 err=$2
  shift 2
  start=$(now)
  if [[ $err == - ]]; then
    /usr/bin/time -f '%U %S %M' -o "$data/.time" "$@" > "$out"
  else
    /usr/bin/time -f '%U %S %M' -o "$data/.time" "$@" > "$out" 2> "$err"
  fi
  end=$(now)
  awk -v a="$start" -v b="$end" '{ printf "%.4f %.2f %d\n", b - a, $1 + $2, $3 }' "$data/.time"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# ---- Timing -------------------------------------------------------------------

files=()
for shape in hot flat; do
  for samples in 1000000 10000000; do
    for compression in deflate none; do
      files+=("$(synth_file "$shape" "$samples" "$compression")")
    done
  done
done

# Results by "file|label": median wall and CPU seconds, peak kilobytes.
declare -A wall_of=() kb_of=() records_of=() samples_of=()
json_entries=()
identity_failures=()
printf '%-22s %-19s %8s %7s %8s %7s %11s %8s %8s\n' file program wall_s ratio cpu_s \
  ratio records/s peak_MB B/sample
for file in "${files[@]}"; do
  name=$(basename "$file")
  # The programs of this file, alternating within each run: the floors
  # first (on a raw file one floor, which only reads), then sample_stats of
  # this build and, on deflated files, of the zlib-only build, then
  # sample_lines.
  labels=("floor zlib") commands=("$tools/inflate_floor")
  if [[ $name == *-raw.smp ]]; then
    labels=("floor (reads only)")
  elif [[ -x $tools/inflate_floor_isal ]]; then
    labels+=("floor ISA-L") commands+=("$tools/inflate_floor_isal")
  fi
  labels+=("sample_stats $engine") commands+=("$bin/sample_stats")
  if [[ -n $zlib_build && $name != *-raw.smp ]]; then
    labels+=("sample_stats zlib") commands+=("$zlib_build/bin/sample_stats")
  fi
  labels+=("sample_lines $engine") commands+=("$bin/sample_lines")

  n=$runs
  [[ $name == *-10m-* ]] && n=$(( runs < 3 ? runs : 3 ))
  declare -A wall=() cpu=() kb=()
  for ((i = 0; i < n; ++i)); do
    for ((p = 0; p < ${#commands[@]}; ++p)); do
      cmd=${commands[$p]}
      if [[ $cmd == */sample_stats || $cmd == */sample_lines ]]; then
        set -- "$cmd" -i "$file"
      else
        set -- "$cmd" "$file"
      fi
      # The reports of the first run, for the comparison with the reference.
      out=/dev/null err=-
      if [[ $i -eq 0 && $cmd == */sample_stats ]]; then
        out=$file.report-$p.out err=$file.report-$p.err
      fi
      read -r w c k < <(measure "$out" "$err" "$@")
      wall[$p]+="$w " cpu[$p]+="$c " kb[$p]+="$k "
    done
  done
  records=$(cat "$file.records")
  samples=$([[ $name == *-10m-* ]] && echo 10000000 || echo 1000000)
  floor_wall='' floor_cpu=''
  for ((p = 0; p < ${#commands[@]}; ++p)); do
    w=$(printf '%s\n' ${wall[$p]} | median)
    c=$(printf '%s\n' ${cpu[$p]} | median)
    k=$(printf '%s\n' ${kb[$p]} | sort -g | tail -n 1)
    [[ -z $floor_wall ]] && floor_wall=$w floor_cpu=$c
    label=${labels[$p]}
    wall_of["$name|$label"]=$w kb_of["$name|$label"]=$k
    records_of[$name]=$records samples_of[$name]=$samples
    # Ratios are to the zlib floor of the same run.
    read -r ratio rate cpu_ratio mb per_sample < <(awk -v fw="$floor_wall" -v w="$w" \
      -v fc="$floor_cpu" -v c="$c" -v r="$records" -v kb="$k" -v n="$samples" 'BEGIN {
        printf "%.2f %.0f %.2f %.1f %.1f\n", w / fw, r / w, c / (fc > 0 ? fc : 0.01),
               kb / 1024, kb * 1024 / n }')
    if [[ $label == floor* ]]; then shown_rate=- shown_mb=- shown_per=-; else
      shown_rate=$rate shown_mb=$mb shown_per=$per_sample; fi
    printf '%-22s %-19s %8s %7s %8s %7s %11s %8s %8s\n' "$name" "$label" "$w" "$ratio" "$c" \
      "$cpu_ratio" "$shown_rate" "$shown_mb" "$shown_per"
    json_entries+=("$(printf '{"file": "%s", "program": "%s", "samples": %s, "records": %s, "runs": %s, "wall_seconds": %s, "wall_ratio_to_zlib_floor": %s, "cpu_seconds": %s, "cpu_ratio_to_zlib_floor": %s, "records_per_second": %s, "peak_rss_kb": %s, "bytes_per_sample": %s}' \
      "$name" "$label" "$samples" "$records" "$n" "$w" "$ratio" "$c" "$cpu_ratio" "$rate" "$k" \
      "$per_sample")")
  done
  unset wall cpu kb

  # The reports against the reference build's, kept once per file and
  # reference revision.
  key="$reference_revision $(stat -c '%s %Y' "$file")"
  if [[ $(cat "$file.reference.key" 2>/dev/null) != "$key" ]]; then
    "$reference_stats" -i "$file" > "$file.reference.out" 2> "$file.reference.err" || true
    echo "$key" > "$file.reference.key"
  fi
  for ((p = 0; p < ${#commands[@]}; ++p)); do
    [[ ${commands[$p]} == */sample_stats ]] || continue
    if ! cmp -s "$file.report-$p.out" "$file.reference.out" ||
       ! cmp -s "$file.report-$p.err" "$file.reference.err"; then
      identity_failures+=("$name (${labels[$p]})")
      {
        echo "FAILED: the report of ${labels[$p]} on $name differs from that of $reference_revision:"
        diff "$file.reference.out" "$file.report-$p.out" | head -n 20 || true
        diff "$file.reference.err" "$file.report-$p.err" | head -n 10 || true
      } >&2
    fi
  done
done

# ---- Targets ------------------------------------------------------------------

stats="sample_stats $engine"
target_entries=()
misses=0
echo
echo "Targets of $stats (medians; load before: $load_before, now: $(load)):"
printf '  %-44s %-22s %12s %12s  %s\n' target file value target result
# target label, file, value, comparison (le or ge), limit, unit
report_target() {
  local verdict
  verdict=$(awk -v v="$3" -v l="$5" -v op="$4" 'BEGIN {
    print ((op == "le" ? v <= l : v >= l) ? "holds" : "MISSED") }')
  [[ $verdict == holds ]] || misses=$((misses + 1))
  printf '  %-44s %-22s %12s %12s  %s\n' "$1" "$2" "$3$6" "$([[ $4 == le ]] && echo '<=' || echo '>=') $5$6" "$verdict"
  target_entries+=("$(printf '{"target": "%s", "file": "%s", "value": %s, "limit": %s, "comparison": "%s", "holds": %s}' \
    "$1" "$2" "$3" "$5" "$4" "$([[ $verdict == holds ]] && echo true || echo false)")")
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", a / b }'; }
for shape in hot flat; do
  for size in 1m 10m; do
    for kind in deflated raw; do
      name=$shape-$size-$kind.smp
      w=${wall_of["$name|$stats"]}
      if [[ $kind == deflated && $size == 1m && -n ${wall_of["$name|floor ISA-L"]:-} ]]; then
        report_target "wall time / ISA-L inflate floor" "$name" \
          "$(ratio "$w" "${wall_of["$name|floor ISA-L"]}")" le 1.15 ""
      fi
      if [[ $kind == raw ]]; then
        report_target "records per second (millions)" "$name" \
          "$(awk -v r="${records_of[$name]}" -v w="$w" 'BEGIN { printf "%.2f\n", r / w / 1e6 }')" \
          ge 12 ""
      fi
      if [[ $size == 10m ]]; then
        report_target "peak resident memory per sample (bytes)" "$name" \
          "$(awk -v kb="${kb_of["$name|$stats"]}" -v n="${samples_of[$name]}" \
              'BEGIN { printf "%.2f\n", kb * 1024 / n }')" le 8 ""
      fi
    done
  done
  for kind in deflated raw; do
    small=$shape-1m-$kind.smp large=$shape-10m-$kind.smp
    report_target "time per record, 10M / 1M samples" "$shape-*-$kind.smp" \
      "$(awk -v ws="${wall_of["$small|$stats"]}" -v rs="${records_of[$small]}" \
             -v wl="${wall_of["$large|$stats"]}" -v rl="${records_of[$large]}" \
             'BEGIN { printf "%.3f\n", (wl / rl) / (ws / rs) }')" le 1.2 ""
  done
done
identical=$([[ ${#identity_failures[@]} -eq 0 ]] && echo true || echo false)
printf '  %-44s %-22s %12s %12s  %s\n' "reports byte-identical to $reference_revision" \
  "all ${#files[@]} files" "$([[ $identical == true ]] && echo yes || echo no)" yes \
  "$([[ $identical == true ]] && echo holds || echo FAILED)"
echo "  $misses of ${#target_entries[@]} speed and memory targets missed"

# ---- Symbols ------------------------------------------------------------------

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
      read -r w c k < <(measure /dev/null - "$bin/sample_dump" ${symbol_args[$p]} \
                          -i "$file")
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

# ---- Results ------------------------------------------------------------------

join() {  # the JSON entries given, one per line, separated by commas
  local i
  for ((i = 1; i <= $#; ++i)); do
    printf '    %s%s\n' "${!i}" "$([[ $i -lt $# ]] && echo , || true)"
  done
}
{
  echo '{'
  printf '  "machine": {"cores": %s, "load_before": "%s", "load_after": "%s"},\n' \
    "$(nproc)" "$load_before" "$(load)"
  printf '  "reference": {"revision": "%s", "identical": %s},\n' "$reference_revision" "$identical"
  echo '  "targets": ['
  join "${target_entries[@]}"
  echo '  ],'
  echo '  "results": ['
  join "${json_entries[@]}"
  echo '  ]'
  echo '}'
} > "$build/bench/results.json"
echo "figures written to $build/bench/results.json"
if [[ $identical != true ]]; then
  echo "FAILED: reports differ from the reference build's on: ${identity_failures[*]}" >&2
  exit 1
fi
