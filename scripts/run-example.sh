#!/usr/bin/env bash
# Sets up, builds the binary (not the tests), and runs the bundled example in a fresh folder
# (./run/example-<time>); then says how to draw it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
SOILWEB_TARGET=soilweb "$root/scripts/setup.sh" "$root/build"
folder="$root/run/example-$(date +%Y%m%d-%H%M%S)"
mkdir -p "$folder"
cp "$root/examples/run_params" "$folder/run_params"
cd "$folder"
"$root/build/soilweb"
echo
echo "Outputs are in $folder/example/"
echo "Figures and a report page: $root/scripts/soilweb-plot $folder/example --report"
