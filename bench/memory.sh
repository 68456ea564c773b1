#!/usr/bin/env bash
# Memory of the model: runs the memory scenario (1 000 cells, 8 loci, dead animals purged, a few
# days) with no founders and with 10^5 and 10^6 founders (nine prey to one predator), once with
# no day run (founding only) and once with its days and no snapshot files, and prints peak
# memory, bytes per founder above the empty world, and founding time.
# Usage: bench/memory.sh [binary]   (default: build, then run)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ge 1 ] && [ -x "$1" ]; then binary=$(realpath "$1"); else
  "$root/scripts/setup.sh" "$root/build-bench" >/dev/null
  binary="$root/build-bench/soilweb"
fi
scenario="$root/bench/scenarios/memory.json"
work=${SOILWEB_BENCH_DIR:-"$root/run/bench"}/memory
mkdir -p "$work"
cd "$work"

# measure FOUNDERS DAYS -> "wall_s peak_kib"
measure() {
  local prey=$(($1 * 9 / 10)) predators=$(($1 / 10))
  /usr/bin/time -f '%e %M' -o time.txt "$binary" "$scenario" --overwrite --set simulation.days="$2" \
    --set world.life.animals.0.initialPopulation=$prey --set world.life.animals.1.initialPopulation=$predators \
    --set 'simulation.outputs.snapshots=[]' >/dev/null
  cat time.txt
}

read -r _ empty_kib < <(measure 0 -1)
printf '%-9s %12s %10s %14s %12s %10s\n' founders founding_s peak_MiB bytes/founder days_s peak_MiB
for founders in 100000 1000000; do
  read -r found_s found_kib < <(measure $founders -1)
  read -r days_s days_kib < <(measure $founders 3)
  awk -v n=$founders -v fs="$found_s" -v fk="$found_kib" -v e="$empty_kib" -v ds="$days_s" -v dk="$days_kib" 'BEGIN {
    printf "%-9d %12.2f %10.1f %14.0f %12.2f %10.1f\n", n, fs, fk / 1024, (fk - e) * 1024 / n, ds, dk / 1024 }'
done
