#!/usr/bin/env bash
# Builds the fuzzers with clang (AddressSanitizer, UndefinedBehaviorSanitizer,
# libFuzzer; the libraries with coverage instrumentation) and runs each for a
# share of a bounded time on a copy of its seed corpus: the configuration
# reader (40 %), the checkpoint reader and the resume of a damaged run folder
# (30 % each). The checkpoint and resume corpora are seeded with the files of a
# real run stopped with a checkpoint, made here by the fuzz build's soilweb.
# Each target's executions and coverage (edges, features) are printed, its
# whole log kept in build-sanitize/logs/TARGET.log. Every finding is copied to
# build-sanitize/findings/TARGET/ and named; any finding fails the run. A harness
# that fails on its own (a full disk, a copy that cannot be made) is said to
# be one, not counted as a finding, and fails the run too. Last, the sweep
# folder reader (Python) gets damaged copies of a real sweep's records.
# Usage: tests/fuzz/run.sh [seconds]   (default 90)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-90}
for p in clang-14 libclang-rt-14-dev libboost-dev libcli11-dev libdeflate-dev cmake make python3; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="${missing:-} $p"
done
if [ -n "${missing:-}" ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
fi
build="$root/build-sanitize"  # the fuzz preset's: the asan build, which serves both
(cd "$root" && cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j"$(nproc)" >/dev/null)
# A fuzzer is blind to code built without coverage instrumentation: every library must have it.
for library in "$build"/libsoilweb_*.a; do
  # grep reads all of nm's output (not -q): under pipefail nm must not die of SIGPIPE.
  if ! nm "$library" 2>/dev/null | grep __sanitizer_cov >/dev/null; then
    echo "fuzz: $library has no coverage instrumentation; the fuzzers would not see it" >&2
    exit 1
  fi
done
work=$(mktemp -d /tmp/soilweb-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT

# The seed run: the example, small, in the tables layout with gzip, stopped by
# SIGTERM after day 4 with its checkpoint.
mkdir -p "$work/seed"
/usr/bin/python3 - "$root/examples/run_params" "$work/seed/run_params" <<'PY'
import json, sys
config = json.load(open(sys.argv[1]))
config["simulation"].update(days=8, worldLength=6, checkpointEvery=2)
config["simulation"]["outputs"].update(simulationName="fuzzrun", layout="tables", compression="gzip")
config["world"]["life"]["animals"][0]["initialPopulation"] = 30
config["world"]["life"]["animals"][1]["initialPopulation"] = 5
json.dump(config, open(sys.argv[2], "w"), indent=1)
PY
(cd "$work/seed" && SOILWEB_TEST_AT=day@4:TERM "$build/soilweb" >/dev/null 2>&1 || [ $? -eq 143 ])
checkpoint="$work/seed/fuzzrun/checkpoint/fuzzrun_checkpoint.bin"
mkdir -p "$work/config" "$work/checkpoint" "$work/resume"
cp "$root"/tests/fuzz/corpus/* "$work/config/"
# The checkpoint target adds the trailer itself: its seed is the file without it.
head -c $(( $(stat -c %s "$checkpoint") - 12 )) "$checkpoint" > "$work/checkpoint/stopped-day-4"
cp "$root"/tests/fuzz/checkpoint-corpus/* "$work/checkpoint/"  # findings of earlier runs, fixed
printf '\0\0\0\0' > "$work/resume/untouched"
printf '\3\2\0\100\0' > "$work/resume/one-flip"
printf '\1\0\0\200' > "$work/resume/one-cut"
export SOILWEB_FUZZ_CONFIG="$work/seed/run_params" SOILWEB_FUZZ_RUN="$work/seed/fuzzrun"

status=0
mkdir -p "$build/logs"
fuzz() {  # target, share of the seconds (percent), extra options
  local target=$1 share=$2 log="$build/logs/$1.log" ran=0
  shift 2
  mkdir -p "$work/$target-out"
  echo "== $target: $(( seconds * share / 100 )) s"
  (cd "$work/$target-out" && "$build/tests/fuzz/$target" -max_total_time=$(( seconds * share / 100 )) -timeout=20 \
     -rss_limit_mb=2048 -print_final_stats=1 "$@" "$work/${target%_fuzzer}" >"$log" 2>&1) || ran=$?
  # What it did: executions, and the coverage its last report line gave.
  local executions coverage
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1 | sed 's/cov:/edges/; s/ft:/features/')
  echo "$target: ${executions:-?} executions; coverage ${coverage:-not reported}; log $log"
  if grep -q "harness failure" "$log"; then
    echo "fuzz: $target: $(grep -m 1 'harness failure' "$log") (not a finding of the code under test)" >&2
    status=1
  elif [ "$ran" -ne 0 ]; then
    tail -n 40 "$log"
    status=1
  fi
  # Kept outside the work folder, which is removed: a finding is never lost.
  local found
  found=$(find "$work/$target-out" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
          -o -name 'oom-*' -o -name 'slow-unit-*' \) | sort)
  if [ -n "$found" ]; then
    mkdir -p "$build/findings/$target"
    for file in $found; do
      cp "$file" "$build/findings/$target/"
      echo "finding kept: $build/findings/$target/$(basename "$file")"
    done
    status=1
  fi
}
fuzz config_fuzzer 40 -dict="$root/tests/fuzz/json.dict"
fuzz checkpoint_fuzzer 30
fuzz resume_fuzzer 30

# The sweep folder reader: a real sweep of two short runs, damaged a few bytes
# or values at a time, for a tenth of the time on top.
(cd "$work" && /usr/bin/python3 - "$root/examples/run_params" base.json <<'PY'
import json, sys
config = json.load(open(sys.argv[1]))
config["simulation"].update(days=2, worldLength=6)
config["world"]["life"]["animals"][0]["initialPopulation"] = 30
config["world"]["life"]["animals"][1]["initialPopulation"] = 5
json.dump(config, open(sys.argv[2], "w"))
json.dump({"simulation.temperature": [15, 25]}, open("grid.json", "w"))
PY
)
if (cd "$work" && PYTHONPATH="$root/python" /usr/bin/python3 -m soilweb.sweep run base.json grid.json sweep --seed 3 \
      --jobs 1 --binary "$build/soilweb" >/dev/null 2>&1); then
  echo "== sweep_reader: $(( seconds / 10 + 1 )) s"
  /usr/bin/python3 "$root/tests/fuzz/sweep_reader_fuzz.py" "$work/sweep" "$build/findings/sweep_reader" \
    $(( seconds / 10 + 1 )) || status=1
else
  echo "fuzz: sweep_reader: harness failure: the seed sweep could not be made (not a finding)" >&2
  status=1
fi
exit $status
