#!/bin/sh
# R CMD check of the R package (its tests included, run on the binary of $SOILWEB_BINARY), without
# the PDF manual: fails on any error or warning, and shows the notes.
# Usage: tests/r/check.sh PATH/TO/R/soilweb
set -eu
package=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/soilweb-rcheck-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
R CMD build --no-build-vignettes "$package" >build.log 2>&1 || { cat build.log; exit 1; }
status=0
R CMD check --no-manual soilweb_*.tar.gz >check.log 2>&1 || status=$?
cat check.log
if [ "$status" -ne 0 ] || grep -q -E "^\* .*\.\.\. (WARNING|ERROR)" check.log; then
  echo "r.check: R CMD check found an error or a warning (above)" >&2
  exit 1
fi
