#!/usr/bin/env bash
# Times sample_stats against the inflate floor on synthesized files, the two
# alternating, and prints medians of wall and CPU time, their ratios, records
# per second and peak resident memory; the figures also go to
# <build>/bench/results.json. Wall time is what users see; CPU time is the
# steadier figure on a busy machine.
#   scripts/bench.sh [build folder] [runs]
# The files are synthesized once (fixed seed) into <build>/bench/data.
set -euo pipefail
build=${1:-build}
runs=${2:-5}
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

json_entries=()
printf '%-18s %9s %9s %6s %11s %9s %9s %6s %11s %8s %8s\n' file floor_s stats_s ratio \
  records/s floor_cpu stats_cpu ratio records/cpu peak_MB B/sample
for file in "$d1m" "$r1m" "$d10m"; do
  n=$runs
  [[ $file == "$d10m" ]] && n=$(( runs < 3 ? runs : 3 ))
  floor_wall=() floor_cpu=() stats_wall=() stats_cpu=() stats_kb=()
  for ((i = 0; i < n; ++i)); do
    read -r w c k < <(measure "$tools/inflate_floor" "$file")
    floor_wall+=("$w") floor_cpu+=("$c")
    read -r w c k < <(measure "$bin/sample_stats" -i "$file")
    stats_wall+=("$w") stats_cpu+=("$c") stats_kb+=("$k")
  done
  fw=$(printf '%s\n' "${floor_wall[@]}" | median)
  fc=$(printf '%s\n' "${floor_cpu[@]}" | median)
  sw=$(printf '%s\n' "${stats_wall[@]}" | median)
  sc=$(printf '%s\n' "${stats_cpu[@]}" | median)
  kb=$(printf '%s\n' "${stats_kb[@]}" | sort -g | tail -n 1)
  records=$(cat "$file.records")
  samples=$([[ $file == "$d10m" ]] && echo 10000000 || echo 1000000)
  read -r ratio rate cpu_ratio cpu_rate mb per_sample < <(awk -v fw="$fw" -v sw="$sw" -v fc="$fc" \
    -v sc="$sc" -v r="$records" -v kb="$kb" -v n="$samples" 'BEGIN {
      printf "%.2f %.0f %.2f %.0f %.1f %.1f\n", sw / fw, r / sw, sc / (fc > 0 ? fc : 0.01),
             r / (sc > 0 ? sc : 0.01), kb / 1024, kb * 1024 / n }')
  name=$(basename "$file")
  printf '%-18s %9s %9s %6s %11s %9s %9s %6s %11s %8s %8s\n' "$name" "$fw" "$sw" "$ratio" "$rate" \
    "$fc" "$sc" "$cpu_ratio" "$cpu_rate" "$mb" "$per_sample"
  json_entries+=("$(printf '{"file": "%s", "samples": %s, "records": %s, "runs": %s, "floor_seconds": %s, "stats_seconds": %s, "ratio": %s, "records_per_second": %s, "floor_cpu_seconds": %s, "stats_cpu_seconds": %s, "cpu_ratio": %s, "records_per_cpu_second": %s, "peak_rss_kb": %s, "bytes_per_sample": %s}' \
    "$name" "$samples" "$records" "$n" "$fw" "$sw" "$ratio" "$rate" "$fc" "$sc" "$cpu_ratio" \
    "$cpu_rate" "$kb" "$per_sample")")
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
