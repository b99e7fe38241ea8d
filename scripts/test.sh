#!/usr/bin/env bash
# Sets up and builds Raitakone, starts a real CUPS scheduler with a PDF queue
# as the default printer (300 dpi) and a private scheduler with rasterising
# queues for the real-printer tests, runs every test through ctest on Qt's
# offscreen platform, and stops both again.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh"

QUEUE_ENV="$(mktemp)"
cleanup() {
    "$ROOT/scripts/cups-private-scheduler.sh" stop >/dev/null 2>&1 || true
    "$ROOT/scripts/cups-test-queue.sh" stop >/dev/null 2>&1 || true
    rm -f "$QUEUE_ENV"
}
trap cleanup EXIT
"$ROOT/scripts/cups-test-queue.sh" start >"$QUEUE_ENV"
# The rasterising, PWG raster, rejecting and stopped queues, on a scheduler
# of their own so the system's configuration and default stay as they are.
"$ROOT/scripts/cups-private-scheduler.sh" start >>"$QUEUE_ENV"
# shellcheck disable=SC1090
source "$QUEUE_ENV"

export QT_QPA_PLATFORM=offscreen
cd "$ROOT/build"
# Every test runs once, except those that scan through SANE's test backend:
# that backend cancels its reader thread asynchronously, and one cancelled
# inside malloc leaves its lock held, so that the scan's sane_cancel waits
# forever. Those tests alone are cut off after two minutes and given up to
# three runs.
SANE_SCANS='^(fi_FI\.)?(Scanner\.|grade_window_qtest\.scannerErrorsSayWhatToDo|grade_window_qtest\.cancellingTheScanStopsIt|report_window_qtest\.scannedPagesFillTheirRowsAndClosingStopsTheScanner|report_window_qtest\.emptyingTheFeederGivesARowForEachPage|hostile_grading_qtest\.sigtermStopsAScan|command_line_qtest\.reportFromTheFeeder|command_line_qtest\.scanWithTheTestBackend)'
status=0
ctest --output-on-failure --timeout 300 -E "$SANE_SCANS" || status=$?
ctest --output-on-failure --timeout 120 -R "$SANE_SCANS" --repeat until-pass:3 || status=$?
exit "$status"
