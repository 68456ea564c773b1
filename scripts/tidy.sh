#!/usr/bin/env bash
# Checks sources of src/ with clang-tidy (the checks of .clang-tidy, any finding an error), from the
# compile commands of a build made with CMAKE_EXPORT_COMPILE_COMMANDS (the dev preset's).
#   scripts/tidy.sh [build-dir]                  every source (also: cmake --build build --target tidy)
#   scripts/tidy.sh [build-dir] --changed [BASE] the sources changed since BASE (default: the previous
#                                                commit, HEAD~1), and those of the headers changed
# CI checks the changed ones; the whole pass takes a minute and a half on two cores.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
changed=""
if [ "${2:-}" = "--changed" ]; then changed=${3:-HEAD~1}; fi
if ! command -v run-clang-tidy >/dev/null; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq clang-tidy >/dev/null
fi
cd "$root"
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: no $build/compile_commands.json: configure with the dev preset (cmake --preset dev) first" >&2
  exit 1
fi
files=("$root/src/.*\.cpp")
if [ -n "$changed" ]; then
  # A changed header is checked through the source of the same name (Animal.h through Animal.cpp).
  files=()
  for path in $(git diff --name-only "$changed" -- 'src/*.cpp' 'src/*.h' | sort -u); do
    source="${path%.*}.cpp"
    [ -f "$source" ] && files+=("$root/$source")
  done
  if [ ${#files[@]} -eq 0 ]; then
    echo "tidy: no source of src/ changed since $changed"
    exit 0
  fi
  files=($(printf '%s\n' "${files[@]}" | sort -u))
  echo "tidy: ${#files[@]} source(s) changed since $changed"
fi
# Release builds compile with GCC-only flags (-ffat-lto-objects) that clang would flag.
run-clang-tidy -p "$build" -j"$(nproc)" -quiet -extra-arg=-Wno-ignored-optimization-argument \
  "${files[@]}" >"$build/tidy.log" 2>&1 || {
  grep -E "(warning|error):" "$build/tidy.log" >&2
  echo "tidy: clang-tidy found the above in src/ (whole log: $build/tidy.log)" >&2
  exit 1
}
