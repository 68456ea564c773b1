#!/usr/bin/env bash
# Installs what building soilweb needs (when missing, on Debian or Ubuntu) and builds it.
# Usage: scripts/setup.sh [build-dir] [extra cmake options...]
#        scripts/setup.sh --preset NAME   (a preset of CMakePresets.json: release, dev, asan, tsan, fuzz)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=""
if [ "${1:-}" = "--preset" ]; then preset=${2:?"--preset needs a name"}; shift 2; fi
build=${1:-"$root/build"}
shift || true

packages=(g++ make cmake git libboost-dev libcli11-dev libdeflate-dev libgtest-dev python3 python3-matplotlib
          python3-scipy python3-pandas r-base-core r-cran-jsonlite parallel chromium)
if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
  # Not Debian: nothing is installed here; say what the build needs and try it as it is.
  cat >&2 <<'NEEDS'
setup.sh: this is not a Debian or Ubuntu machine, so nothing is installed. soilweb needs a C++17
compiler, CMake 3.16 or newer, Boost's headers, CLI11 (header-only) and libdeflate; the tests need
GoogleTest, and the scripts Python 3 with matplotlib, scipy and pandas, R with jsonlite for the R loader, GNU
parallel, and chromium to check that a report page renders. On a cluster, load them as modules (e.g. `module load gcc cmake boost`) and see "Building on a cluster" in the
README for a build without tests.
NEEDS
else
  missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
fi

# `import soilweb` (the loader in python/) for this user's system Python, from anywhere.
if [ -x /usr/bin/python3 ]; then
  site=$(/usr/bin/python3 -m site --user-site 2>/dev/null || true)
  if [ -n "$site" ] && mkdir -p "$site" 2>/dev/null; then echo "$root/python" > "$site/soilweb.pth"; fi
fi

if [ -n "$preset" ]; then
  cd "$root"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$build" -j"$(nproc)" ${SOILWEB_TARGET:+--target "$SOILWEB_TARGET"}
fi
