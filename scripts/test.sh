#!/usr/bin/env bash
# Sets up and builds Raitakone, starts a real CUPS scheduler with a PDF queue
# as the default printer (300 dpi) for the real-printer tests, runs every test
# through ctest on Qt's offscreen platform, and stops the queue again.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh"

QUEUE_ENV="$(mktemp)"
cleanup() { "$ROOT/scripts/cups-test-queue.sh" stop >/dev/null 2>&1 || true; rm -f "$QUEUE_ENV"; }
trap cleanup EXIT
"$ROOT/scripts/cups-test-queue.sh" start >"$QUEUE_ENV"
# shellcheck disable=SC1090
source "$QUEUE_ENV"

export QT_QPA_PLATFORM=offscreen
cd "$ROOT/build"
ctest --output-on-failure
