#!/usr/bin/env bash
# Whether another build's soilweb-sweep collect gives the same tables as this tree's: two sweeps of
# the bundled example (daily files; tables with gzip), a grid with a whole, a real and a large real
# value, runs that fail on day 5, collected by this tree as they end, then copied and collected
# afresh by the other build's python/ folder. Prints "same" or the difference for each table
# (compressed tables compared decompressed).
# Usage: bench/collect-same.sh OTHER_PYTHON_FOLDER [binary]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
other=$(realpath "$1")
binary=$(realpath "${2:-$root/build/soilweb}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
/usr/bin/python3 - "$root/examples/run_params" <<'PY'
import json, sys
config = json.load(open(sys.argv[1]))
config["simulation"]["days"] = 12
json.dump(config, open("daily.json", "w"))
config["simulation"]["outputs"].update(layout="tables", compression="gzip")
json.dump(config, open("tables.json", "w"))
json.dump({"simulation.temperature": [15, 20.5, 1234567.0], "simulation.days": [3, 12]}, open("grid.json", "w"))
PY
for base in daily tables; do
  SOILWEB_TEST_AT="day@5:oom" PYTHONPATH="$root/python" /usr/bin/python3 -m soilweb.sweep run "$base.json" grid.json "this-$base" \
    --replicates 2 --seed 4 --binary "$binary" --jobs 2 --lenient >/dev/null 2>&1 || true
  cp -r "this-$base" "other-$base"
  rm -rf "other-$base"/{summary.tsv,failed.tsv,tables,.collected.json} "other-$base"/runs/*/sweep.part
  PYTHONPATH="$other" /usr/bin/python3 -m soilweb.sweep collect "other-$base" >/dev/null 2>&1 || true
  for file in summary.tsv failed.tsv tables/runs.tsv "this-$base"/tables/*.gz; do
    file=${file#"this-$base"/}
    if cmp -s <(zcat -f "this-$base/$file") <(zcat -f "other-$base/$file"); then echo "$base: same $file"
    else echo "$base: $file differs"; diff <(zcat -f "this-$base/$file") <(zcat -f "other-$base/$file") | head -5; fi
  done
done
