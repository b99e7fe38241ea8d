#!/usr/bin/env bash
# The printer report over a whole series as a user runs it: 21 synthetic
# 600-dpi A4 grey scans (the twenty pages and the ladder, marked), one
# process from start to exit, measured with hyperfine; then its peak
# resident memory. Run from the clone after ./scripts/setup.sh.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build}"
SCANS="${SCANS:-/tmp/raitakone-series-600}"
export QT_QPA_PLATFORM=offscreen

if [[ ! -f "$SCANS/scan21.png" ]]; then
    cmake --build "$BUILD" --target make_series_scans raitakone >/dev/null
    "$BUILD/tests/make_series_scans" "$SCANS" 600 1 >/dev/null
fi
hyperfine -w 1 -r 5 "$BUILD/raitakone --report $SCANS/scan*.png -o /tmp/raitakone-bench-report.html"
/usr/bin/time -f 'peak resident memory: %M kB' \
    "$BUILD/raitakone" --report "$SCANS"/scan*.png -o /tmp/raitakone-bench-report.html 2>&1 | tail -1
