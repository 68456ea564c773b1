#!/usr/bin/env bash
# Sets up, builds, and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SOILWEB_BUILD_DIR:-"$root/build"}
"$root/scripts/setup.sh" "$build" "$@"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
