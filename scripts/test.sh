#!/usr/bin/env bash
# Sets up, builds, and runs the whole test suite, in one of the CMake presets
# (release, the default, in build/; dev: warnings as errors; asan; tsan).
# Usage: scripts/test.sh [PRESET]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-release}
"$root/scripts/setup.sh" --preset "$preset"
cd "$root"
ctest --preset "$preset" -j"$(nproc)"
