#!/usr/bin/env bash
# Checks every source of src/ with clang-tidy (the checks of .clang-tidy, any
# finding an error), from the compile commands of a build made with
# CMAKE_EXPORT_COMPILE_COMMANDS (the dev preset's).
# Usage: scripts/tidy.sh [build-dir]   (default build, as the dev preset makes it)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
if ! command -v run-clang-tidy >/dev/null; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq clang-tidy >/dev/null
fi
cd "$root"
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: no $build/compile_commands.json: configure with the dev preset (cmake --preset dev) first" >&2
  exit 1
fi
# Release builds compile with GCC-only flags (-ffat-lto-objects) that clang would flag.
run-clang-tidy -p "$build" -j"$(nproc)" -quiet -extra-arg=-Wno-ignored-optimization-argument \
  "$root/src/.*\.cpp" >"$build/tidy.log" 2>&1 || {
  grep -E "(warning|error):" "$build/tidy.log" >&2
  echo "tidy: clang-tidy found the above in src/ (whole log: $build/tidy.log)" >&2
  exit 1
}
