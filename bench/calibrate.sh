#!/usr/bin/env bash
# Calibration benchmark: what a calibration costs beyond its runs. Runs the worked example of
# docs/calibration.md (examples/calibration) with --keep-runs, then the very runs it ran, each in its
# folder with its own run_params, by the binary alone, two at a time (xargs -P 2); prints
#   calibration_s  soilweb-calibrate run --jobs 2, wall;
#   runs           the runs it ran;
#   alone_s        the same runs by the binary alone;
#   overhead       1 - alone_s / calibration_s: the share of the wall that is not the runs.
# Usage: bench/calibrate.sh [binary] [extra soilweb-calibrate options]   (default: build/soilweb)
# Wall-clock figures of a shared machine: compare side by side, not across days.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ge 1 ] && [ -x "$1" ]; then binary=$(realpath "$1"); shift; else binary="$root/build/soilweb"; fi
work=${SOILWEB_BENCH_DIR:-"$root/run/bench-calibrate"}
example="$root/examples/calibration"
rm -rf "$work"
mkdir -p "$work"
seconds() { awk -v from="$1" -v to="$(date +%s.%N)" 'BEGIN { printf "%.2f", to - from }'; }

start=$(date +%s.%N)
/usr/bin/python3 "$root/scripts/soilweb-calibrate" run "$example/run_params" "$example/priors.json" \
  "$example/observed.tsv" "$work/cal" --binary "$binary" --jobs 2 --keep-runs $(cat "$example/options") "$@" \
  > "$work/calibration.log"
calibration=$(seconds "$start")

mkdir "$work/alone"
for folder in "$work"/cal/work/runs/*/; do
  name=$(basename "$folder")
  mkdir "$work/alone/$name"
  cp "$folder/run_params" "$work/alone/$name/"
done
runs=$(ls "$work/alone" | wc -l)
start=$(date +%s.%N)
ls "$work/alone" | xargs -P 2 -I{} sh -c "cd '$work/alone/{}' && '$binary' run_params > /dev/null 2>&1"
alone=$(seconds "$start")
printf '%-14s %6s %8s %9s\n' calibration_s runs alone_s overhead
awk -v c="$calibration" -v n="$runs" -v a="$alone" 'BEGIN { printf "%-14s %6d %8s %8.1f%%\n", c, n, a, 100 * (1 - a / c) }'
