#!/usr/bin/env bash
# Sweep benchmark: what running many runs costs beyond their simulation. For each N, N runs of the
# bundled example (tables layout, lean files), DAYS days each, a grid over the temperature with
# replicates; then
#   alone_s    the binary alone running the same runs two at a time (xargs -P 2), each in its folder;
#   sweep_s    soilweb-sweep run --jobs 2 (prepare, the runs, collect), wall;
#   ratio      sweep_s / alone_s;
#   collect_ms a collect that reads every run afresh (each run's part and the last collect's record
#              removed first), per run: what collecting costs when no run was read as it ended;
#   again_s    a second collect of the unchanged sweep;
#   bytes/run  what a run leaves on disk, its record included;
#   collect_MiB the peak memory of the collect that reads every run.
# Usage: bench/sweep.sh [binary] [N[:DAYS] ...]   (default: build/soilweb; 100 1000 10000:10)
# SOILWEB_BENCH_FILES: the result kinds (default summary); "all" leaves simulation.outputs.files out
# and turns the snapshots off instead (simulation.outputs.snapshots []), as a build without that key
# is measured. SOILWEB_BENCH_PYTHON: the python/ folder whose soilweb-sweep is measured (default:
# this tree's), to measure another build's side by side.
# Wall-clock figures of a shared machine: compare two builds side by side, not across days.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ge 1 ] && [ -x "$1" ]; then binary=$(realpath "$1"); shift; else binary="$root/build/soilweb"; fi
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100 1000 10000:10)
files=${SOILWEB_BENCH_FILES:-summary}
only=(--files "$files")
[ "$files" != all ] || only=()
work=${SOILWEB_BENCH_DIR:-"$root/run/bench-sweep"}
export PYTHONPATH=${SOILWEB_BENCH_PYTHON:-"$root/python"}
sweep=(/usr/bin/python3 -m soilweb.sweep)

seconds() { awk -v from="$1" -v to="$(date +%s.%N)" 'BEGIN { printf "%.2f", to - from }'; }

printf '%-12s %8s %8s %6s %11s %8s %10s %12s\n' runs alone_s sweep_s ratio collect_ms again_s bytes/run collect_MiB
for size in "${sizes[@]}"; do
  n=${size%%:*}
  days=100
  [ "$size" = "$n" ] || days=${size#*:}
  dir="$work/n$n"
  rm -rf "$dir"
  mkdir -p "$dir/alone"
  cd "$dir"
  /usr/bin/python3 - "$root/examples/run_params" "$days" "$files" "$n" <<'PY'
import json, sys
config = json.load(open(sys.argv[1]))
config["simulation"]["days"] = int(sys.argv[2])
outputs = config["simulation"]["outputs"]
outputs.update(layout="tables", **({"snapshots": []} if sys.argv[3] == "all" else {"files": sys.argv[3].split(",")}))
json.dump(config, open("base.json", "w"))
n = int(sys.argv[4])
points = min(n, 10)
json.dump({"simulation.temperature": [15 + k for k in range(points)]}, open("grid.json", "w"))
open("replicates", "w").write(str(max(1, n // points)))
PY
  replicates=$(cat replicates)
  "${sweep[@]}" prepare base.json grid.json prepared --replicates "$replicates" --seed 1 ${only[@]+"${only[@]}"} \
    --binary "$binary" >/dev/null
  # The same runs by the binary alone: each run's folder copied, its configuration run there.
  cp -r prepared/runs/. alone/
  start=$(date +%s.%N)
  find "$dir/alone" -mindepth 1 -maxdepth 1 -type d -print0 |
    xargs -0 -P 2 -I{} sh -c 'cd "$1" && exec "$2" run_params >/dev/null 2>&1' sh {} "$binary"
  alone=$(seconds "$start")
  start=$(date +%s.%N)
  "${sweep[@]}" run base.json grid.json sweep --replicates "$replicates" --seed 1 ${only[@]+"${only[@]}"} --jobs 2 \
    --binary "$binary" >/dev/null
  whole=$(seconds "$start")
  rm -f sweep/runs/*/sweep.part sweep/.collected.json
  start=$(date +%s.%N)
  /usr/bin/time -f '%M' -o memory.txt "${sweep[@]}" collect sweep >/dev/null
  collect=$(seconds "$start")
  start=$(date +%s.%N)
  "${sweep[@]}" collect sweep >/dev/null
  again=$(seconds "$start")
  bytes=$(du -sb sweep/runs | cut -f1)
  awk -v n="$n" -v a="$alone" -v w="$whole" -v c="$collect" -v g="$again" -v b="$bytes" -v m="$(cat memory.txt)" 'BEGIN {
    printf "%-12s %8.2f %8.2f %6.2f %11.1f %8.2f %10.0f %12.1f\n", n, a, w, w / a, c * 1000 / n, g, b / n, m / 1024 }'
done
