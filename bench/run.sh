#!/usr/bin/env bash
# Whole-run benchmark: builds Release, runs each bundled scenario in a fresh
# folder and prints wall time, peak memory, animal-days per second, output
# bytes per second and the limit ratio (time of `cp -r` of the finished output
# tree on the same filesystem / time of the run; 1 means the run costs no more
# than writing its files).
# Usage: bench/run.sh [binary] [scenario.json ...]   (default: build, then both scenarios)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ge 1 ] && [ -x "$1" ]; then binary=$(realpath "$1"); shift; else
  "$root/scripts/setup.sh" "$root/build-bench" >/dev/null
  binary="$root/build-bench/soilweb"
fi
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=("$root/bench/scenarios/large.json" "$root/bench/scenarios/large_purged.json")
work=${SOILWEB_BENCH_DIR:-"$root/run/bench"}
mkdir -p "$work"

printf '%-14s %8s %9s %14s %12s %8s\n' scenario wall_s peak_MiB animal_days/s out_MiB/s limit
for scenario in "${scenarios[@]}"; do
  name=$(basename "$scenario" .json)
  dir="$work/$name"
  rm -rf "$dir" "$dir-copy"
  mkdir -p "$dir"
  cd "$dir"
  /usr/bin/time -f '%e %M' -o time.txt "$binary" "$scenario" >/dev/null
  read -r wall peak_kib < time.txt
  sim=$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['simulation']['outputs']['simulationName'])" "$scenario")
  summary=$(ls "$sim"/outputs/*summary*)
  # Living animals (unborn, active, reproducing) summed over the days that ran.
  animal_days=$(awk -F'\t' 'NR > 1 { s += $3 + $4 + $7 + $9 + $10 + $13 } END { print s + 0 }' "$summary")
  bytes=$(du -sb "$sim" | cut -f1)
  sync
  start=$(date +%s.%N)
  cp -r "$sim" "$dir-copy"
  sync
  copy=$(awk -v from="$start" -v to="$(date +%s.%N)" 'BEGIN { print to - from }')
  rm -rf "$dir-copy"
  awk -v n="$name" -v w="$wall" -v p="$peak_kib" -v a="$animal_days" -v b="$bytes" -v c="$copy" 'BEGIN {
    printf "%-14s %8.2f %9.1f %14.0f %12.1f %8.3f\n", n, w, p / 1024, a / w, b / 1048576 / w, c / w }'
  cd "$root"
done
