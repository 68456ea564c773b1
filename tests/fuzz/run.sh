#!/usr/bin/env bash
# Builds the configuration fuzzer with clang (AddressSanitizer, UndefinedBehaviorSanitizer,
# libFuzzer) and runs it for a bounded time on a copy of the seed corpus.
# Usage: tests/fuzz/run.sh [seconds]   (default 90)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-90}
for p in clang-14 libclang-rt-14-dev libboost-dev libcli11-dev libdeflate-dev cmake make; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="${missing:-} $p"
done
if [ -n "${missing:-}" ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
fi
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSOILWEB_SANITIZE=ON -DSOILWEB_FUZZ=ON -DSOILWEB_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target config_fuzzer >/dev/null
work=$(mktemp -d /tmp/soilweb-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp -r "$root/tests/fuzz/corpus" "$work/corpus"
cd "$work"
# Findings are written to $work and reported in the log; any finding fails the run.
"$build/tests/fuzz/config_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -dict="$root/tests/fuzz/json.dict" -print_final_stats=1 corpus 2>&1 | tail -n 25
