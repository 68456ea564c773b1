#!/usr/bin/env bash
# Sets up, builds, and runs the bundled example in a fresh folder (./run/example-<time>).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" "$root/build"
folder="$root/run/example-$(date +%Y%m%d-%H%M%S)"
mkdir -p "$folder"
cp "$root/examples/run_params" "$folder/run_params"
cd "$folder"
"$root/build/soilweb"
echo
echo "Outputs are in $folder/example/"
