#!/usr/bin/env bash
# Soak test (not part of the default test run): thousands of days with dead
# animals purged. Samples the process's resident memory and open file
# descriptors while it runs and fails when either keeps growing once the
# population is stable. Snapshot files are deleted as they appear so the disk
# does not fill; the summary is kept.
# Usage: tests/soak/run.sh [binary] [scenario.json]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
binary=$(realpath "${1:-$root/build/soilweb}")
scenario=$(realpath "${2:-$root/tests/soak/soak.json}")
work=$(mktemp -d /tmp/soilweb-soak-XXXXXX)
[ -n "${SOILWEB_SOAK_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
cd "$work"

"$binary" "$scenario" > console.txt 2> errors.txt &
pid=$!
echo "second rss_kib fds day" > samples.txt
seconds=0
while kill -0 "$pid" 2>/dev/null; do
  rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
  fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
  day=$(tail -n 1 soak/outputs/soak_summary.txt 2>/dev/null | cut -f1)
  [ -n "$rss" ] && echo "$seconds $rss $fds ${day:-0}" >> samples.txt
  find soak/animals_each_day_start soak/animals_each_day_end soak/cells -type f -delete 2>/dev/null || true
  sleep 1
  seconds=$((seconds + 1))
done
wait "$pid"
status=$?
days=$(($(wc -l < soak/outputs/soak_summary.txt) - 1))
echo "exit status $status after $days days in about ${seconds}s"
[ -s errors.txt ] && { echo "standard error:"; cat errors.txt; }

# Compare the second half of the run with the first: memory may follow the
# population but must not climb steadily; descriptors must not grow at all.
awk 'NR > 1 { n++; rss[n] = $2; fds[n] = $3 }
  END {
    half = int(n / 2); q = int(n / 4)
    for (i = q + 1; i <= half; i++) { a += rss[i]; if (fds[i] > f1) f1 = fds[i] }
    for (i = half + 1; i <= n; i++) { b += rss[i]; if (fds[i] > f2) f2 = fds[i] }
    a /= (half - q); b /= (n - half)
    printf "mean RSS second quarter %.0f KiB, second half %.0f KiB (%+.1f%%); most open descriptors %d then %d\n", a, b, 100 * (b - a) / a, f1, f2
    if (b > a * 1.25 || f2 > f1) { print "FAIL: memory or descriptors grew"; exit 1 }
    print "OK: memory flat, no descriptor leak"
  }' samples.txt
[ "$status" -eq 0 ]
