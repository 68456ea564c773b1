#!/usr/bin/env bash
# Installs what building soilweb needs (when missing, on Debian or Ubuntu), builds it, and installs
# the Python package (with its commands soilweb-plot, soilweb-sweep, soilweb-calibrate), the binary
# beside them and the R package, where this user's Python and R find them: into the active virtual
# environment ($VIRTUAL_ENV; R's into this user's library), else into the system's (/usr/local) as
# root, else into this user's (~/.local, R_LIBS_USER).
# Usage: scripts/setup.sh [build-dir] [extra cmake options...]
#        scripts/setup.sh --preset NAME   (a preset of CMakePresets.json: release, dev, asan, tsan, fuzz)
# Only the build users run (build/, of the release or dev preset) is installed; SOILWEB_TARGET=soilweb
# builds the binary alone, and installs neither the tests' packages nor the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=""
if [ "${1:-}" = "--preset" ]; then preset=${2:?"--preset needs a name"}; shift 2; fi
build=${1:-"$root/build"}
shift || true

packages=(g++ make cmake git libboost-dev libcli11-dev libdeflate-dev python3 python3-matplotlib python3-scipy
          python3-pandas python3-pip python3-setuptools python3-wheel python3-venv r-base-core r-cran-jsonlite parallel)
# The tests': GoogleTest, a browser for the report page, R's test and lint tools, Python's lint, and
# what executes the notebooks.
# The sanitizers' build (which also serves the fuzzers) is clang's.
case "$preset" in asan|fuzz) packages+=(clang-14 libclang-rt-14-dev) ;; esac
if [ "${SOILWEB_TARGET:-}" != soilweb ]; then
  packages+=(libgtest-dev chromium r-cran-testthat r-cran-lintr python3-pyflakes jupyter-nbconvert python3-ipykernel
             r-cran-rmarkdown r-cran-knitr pandoc)
fi
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

if [ -n "$preset" ]; then
  cd "$root"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$build" -j"$(nproc)" ${SOILWEB_TARGET:+--target "$SOILWEB_TARGET"}
fi

# The packages and the binary, for the build users run only (never a sanitizer's).
case "$preset" in ""|release|dev) ;; *) exit 0 ;; esac
[ "$build" = "$root/build" ] || exit 0
if [ -n "${VIRTUAL_ENV:-}" ]; then
  python="$VIRTUAL_ENV/bin/python"; bin="$VIRTUAL_ENV/bin"; where=()
elif [ "$(id -u)" -eq 0 ]; then
  python=/usr/bin/python3; bin=/usr/local/bin; where=(--break-system-packages --root-user-action=ignore)
else
  python=/usr/bin/python3; bin="$HOME/.local/bin"; where=(--user --break-system-packages)
fi
# An earlier setup made `import soilweb` load this tree through a user-wide .pth file, which shadows
# every other installation, a virtual environment's included: it goes.
site=$(/usr/bin/python3 -m site --user-site 2>/dev/null || true)
if [ -n "$site" ] && [ -f "$site/soilweb.pth" ]; then
  rm -f "$site/soilweb.pth"
  echo "Removed $site/soilweb.pth (an earlier setup's): the package is now installed with pip"
fi
# pip builds in the folder it is given: a copy, so that the tree gets no build files.
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
cp -r "$root/python" "$copy/python"
rm -rf "$copy/python/build" "$copy/python"/*.egg-info
"$python" -m pip install --quiet --no-deps --no-build-isolation --no-index ${where[@]+"${where[@]}"} "$copy/python"
mkdir -p "$bin"
install -m 755 "$build/soilweb" "$bin/soilweb"
if [ "$(id -u)" -eq 0 ] && [ -z "${VIRTUAL_ENV:-}" ]; then
  R CMD INSTALL --no-test-load "$root/R/soilweb" >"$copy/R.log" 2>&1 || { cat "$copy/R.log" >&2; exit 1; }
else
  library=$(Rscript -e 'cat(path.expand(Sys.getenv("R_LIBS_USER")))')
  mkdir -p "$library"
  R CMD INSTALL --no-test-load -l "$library" "$root/R/soilweb" >"$copy/R.log" 2>&1 || { cat "$copy/R.log" >&2; exit 1; }
fi
echo "Installed: the Python package and its commands ($python), soilweb in $bin, the R package"
