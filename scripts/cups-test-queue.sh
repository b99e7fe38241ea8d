#!/bin/bash
# A real CUPS queue for the printer tests: a cups-pdf printer at 300 dpi that
# writes every job it gets as a PDF into a known directory.
#
#   scripts/cups-test-queue.sh start   # prints export lines for the tests
#   scripts/cups-test-queue.sh stop
#
# Run as root. `start` uses the running scheduler, or starts cupsd itself
# (no systemd needed, as in CI) and remembers that it did; it creates the
# queue, makes it the default destination and prints, on stdout only:
#
#   export RAITAKONE_CUPS_TEST_QUEUE=raitakone-pdf
#   export RAITAKONE_CUPS_TEST_OUT=/var/spool/cups-pdf/raitakone
#
# so `eval "$(scripts/cups-test-queue.sh start)"` sets up a shell for the
# tests. `stop` removes the queue, gives back the previous default
# destination and stops cupsd if `start` started it. Both can be run again
# safely. Progress goes to stderr.
#
# Environment: RAITAKONE_CUPS_QUEUE (queue name, default raitakone-pdf),
# RAITAKONE_CUPS_STATE (where the script keeps what it changed, default
# /tmp/raitakone-cups-test).

set -euo pipefail
export LC_ALL=C

QUEUE=${RAITAKONE_CUPS_QUEUE:-raitakone-pdf}
STATE=${RAITAKONE_CUPS_STATE:-/tmp/raitakone-cups-test}
# cups-pdf reads /etc/cups/cups-pdf-NAME.conf for the device cups-pdf:/NAME,
# so this queue has its own settings and the system's cups-pdf.conf is left
# alone.
INSTANCE=raitakone
DEVICE_URI="cups-pdf:/$INSTANCE"
INSTANCE_CONF="/etc/cups/cups-pdf-$INSTANCE.conf"
OUT_DIR=/var/spool/cups-pdf/$INSTANCE
PPD_NAME=lsb/usr/cups-pdf/CUPS-PDF_noopt.ppd

say() { echo "cups-test-queue: $*" >&2; }
die() { say "$*"; exit 1; }

scheduler_running() { lpstat -r 2>/dev/null | grep -q '^scheduler is running'; }

wait_for_scheduler() {
    for _ in $(seq 1 100); do
        scheduler_running && return 0
        sleep 0.2
    done
    return 1
}

our_cupsd_pid() {
    # The pid start recorded, if that process is still a cupsd.
    [[ -f "$STATE/cupsd.pid" ]] || return 1
    local pid
    pid=$(cat "$STATE/cupsd.pid")
    [[ -n "$pid" && -r "/proc/$pid/comm" && "$(cat "/proc/$pid/comm")" == cupsd ]] || return 1
    echo "$pid"
}

start() {
    [[ $(id -u) -eq 0 ]] || die "run as root (it adds a queue and may start cupsd)"
    command -v cupsd >/dev/null || [[ -x /usr/sbin/cupsd ]] || die "cupsd not found (install cups)"
    [[ -x /usr/lib/cups/backend/cups-pdf ]] || die "cups-pdf backend not found (install printer-driver-cups-pdf)"
    mkdir -p "$STATE"

    if scheduler_running; then
        if our_cupsd_pid >/dev/null; then
            say "cupsd started earlier by this script is running"
        else
            say "using the running scheduler"
        fi
    else
        say "starting cupsd"
        mkdir -p /run/cups
        setsid /usr/sbin/cupsd -f >"$STATE/cupsd.log" 2>&1 </dev/null &
        echo $! >"$STATE/cupsd.pid"
        wait_for_scheduler || die "cupsd did not start; see $STATE/cupsd.log and /var/log/cups/error_log"
    fi

    # The job output: every job a PDF named after its job id and title,
    # readable by whoever runs the tests, whether the job's user is known to
    # cups-pdf or counts as anonymous.
    mkdir -p "$OUT_DIR"
    chmod 1777 "$OUT_DIR"
    cat >"$INSTANCE_CONF" <<EOF
# Written by raitakone scripts/cups-test-queue.sh; removed by its stop.
Out $OUT_DIR
AnonDirName $OUT_DIR
Label 1
UserUMask 0022
AnonUMask 0022
Grp lpadmin
EOF

    # Remember the default destination to give back on stop (only the
    # first start's, a second start finds its own queue as the default).
    if [[ ! -f "$STATE/previous-default" ]]; then
        lpstat -d 2>/dev/null | sed -n 's/^system default destination: //p' >"$STATE/previous-default" || true
    fi

    # Resolution 300dpi: the driver's option for its output resolution, which
    # CUPS reports as printer-resolution-default. abort-job: a failing job
    # shows as failed instead of stopping the queue for a retry.
    lpadmin -p "$QUEUE" -E -v "$DEVICE_URI" -m "$PPD_NAME" \
        -o Resolution=300dpi -o PageSize=A4 -o printer-error-policy=abort-job 2>/dev/null \
        || die "lpadmin could not create $QUEUE (is $PPD_NAME in 'lpinfo -m'?)"
    cupsenable "$QUEUE"
    cupsaccept "$QUEUE"
    lpadmin -d "$QUEUE"

    lpoptions -p "$QUEUE" -l | grep -q '^Resolution.*\*300dpi' || die "$QUEUE does not default to 300dpi"
    say "queue $QUEUE ($DEVICE_URI, $PPD_NAME, 300 dpi) is the default destination; PDFs go to $OUT_DIR"

    echo "export RAITAKONE_CUPS_TEST_QUEUE=$QUEUE"
    echo "export RAITAKONE_CUPS_TEST_OUT=$OUT_DIR"
}

stop() {
    [[ $(id -u) -eq 0 ]] || die "run as root"
    if scheduler_running; then
        if lpstat -p "$QUEUE" >/dev/null 2>&1; then
            cancel -a "$QUEUE" 2>/dev/null || true
            lpadmin -x "$QUEUE"
            say "removed queue $QUEUE"
        fi
        if [[ -f "$STATE/previous-default" ]]; then
            local previous
            previous=$(cat "$STATE/previous-default")
            if [[ -n "$previous" && "$previous" != "$QUEUE" ]] && lpstat -p "$previous" >/dev/null 2>&1; then
                lpadmin -d "$previous"
                say "default destination is $previous again"
            fi
        fi
    fi
    rm -f "$STATE/previous-default" "$INSTANCE_CONF"

    local pid
    if pid=$(our_cupsd_pid); then
        say "stopping the cupsd this script started (pid $pid)"
        kill -TERM "$pid"
        for _ in $(seq 1 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -0 "$pid" 2>/dev/null && die "cupsd (pid $pid) did not stop"
    fi
    rm -f "$STATE/cupsd.pid"
}

case "${1:-}" in
start) start ;;
stop) stop ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
