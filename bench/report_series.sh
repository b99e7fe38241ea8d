#!/usr/bin/env bash
# Grading as a user runs it, one process from start to exit, measured with
# hyperfine: one synthetic 600-dpi A4 grey scan of a marked page, then the
# printer report over the whole series of 21 (the twenty pages and the
# ladder), with its peak resident memory. Run from the clone after
# ./scripts/setup.sh.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build}"
SCANS="${SCANS:-/tmp/raitakone-series-600}"
export QT_QPA_PLATFORM=offscreen

if [[ ! -f "$SCANS/scan21.png" ]]; then
    cmake --build "$BUILD" --target make_series_scans raitakone >/dev/null
    "$BUILD/tests/make_series_scans" "$SCANS" 600 1 >/dev/null
fi
hyperfine -w 2 -r 20 "$BUILD/raitakone --grade $SCANS/scan15.png"
hyperfine -w 1 -r 5 "$BUILD/raitakone --report $SCANS/scan*.png -o /tmp/raitakone-bench-report.html"
/usr/bin/time -f 'peak resident memory: %M kB' \
    "$BUILD/raitakone" --report "$SCANS"/scan*.png -o /tmp/raitakone-bench-report.html 2>&1 | tail -1
