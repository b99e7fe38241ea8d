#!/bin/bash
# A private CUPS scheduler for the rasterising-queue tests: its own
# configuration, spool, cache and log folders and its own port and socket,
# so the system's CUPS configuration and default destination are never
# touched. It holds queues of the generic PWG raster driver of cups-filters
# and of real printer drivers Debian ships, each with a file: device, so the
# raster CUPS's own rasteriser hands to the generic driver, or the printer
# language a real driver writes, lands in a file the tests can read.
#
#   scripts/cups-private-scheduler.sh start   # prints export lines for the tests
#   scripts/cups-private-scheduler.sh stop
#
# Run as root (cupsd runs its filters as lp). `start` prints, on stdout only:
#
#   export RAITAKONE_CUPS_RASTER_SERVER=/tmp/raitakone-cups-private/cupsd.sock
#   export RAITAKONE_CUPS_RASTER_OUT=/tmp/raitakone-cups-private/out
#
# The queues, each named for what it is (the tests know the names):
#
#   raitakone-a4-300, -a4-600, -a4-1200       PWG raster driver, A4, that resolution
#   raitakone-letter-300, -letter-600, -letter-1200
#   raitakone-label-300, -label-600, -label-1200   a 100 x 150 mm label (om_small-photo)
#   raitakone-pwg-150     A4 at 150 dpi, taking PWG raster as it stands
#   raitakone-zebra-4x5   CUPS's Zebra ZPL driver, 203 dpi, a 4 x 5 in label (writes NAME.zpl)
#   raitakone-gutenprint-lj4   Gutenprint's LaserJet 4, A4, 600 dpi (writes NAME.pcl)
#   raitakone-hpcups-lj1320    hpcups's LaserJet 1320, A4 (writes NAME.pcl)
#   raitakone-stopped     A4 at 300 dpi, disabled (cupsdisable): jobs wait
#   raitakone-rejecting   A4 at 300 dpi, rejecting jobs (cupsreject)
#
# A queue NAME writes what its driver made of its last job to OUT/NAME.pwg
# (the generic driver's raster), NAME.zpl or NAME.pcl (the printer language).
# `stop` stops the scheduler and removes its folder. Both can be run again
# safely. Progress goes to stderr.
#
# Environment: RAITAKONE_CUPS_PRIVATE (the folder, default
# /tmp/raitakone-cups-private), RAITAKONE_CUPS_PRIVATE_PORT (default 8631).

set -euo pipefail
export LC_ALL=C

DIR=${RAITAKONE_CUPS_PRIVATE:-/tmp/raitakone-cups-private}
PORT=${RAITAKONE_CUPS_PRIVATE_PORT:-8631}
SOCKET=$DIR/cupsd.sock
OUT=$DIR/out
MODEL=drv:///cupsfilters.drv/pwgrast.ppd

say() { echo "cups-private-scheduler: $*" >&2; }
die() { say "$*"; exit 1; }

# Every client command below talks to the private scheduler only.
export CUPS_SERVER=$SOCKET

scheduler_running() { [[ -S "$SOCKET" ]] && lpstat -r 2>/dev/null | grep -q '^scheduler is running'; }

our_cupsd_pid() {
    [[ -f "$DIR/cupsd.pid" ]] || return 1
    local pid
    pid=$(cat "$DIR/cupsd.pid")
    [[ -n "$pid" && -r "/proc/$pid/comm" && "$(cat "/proc/$pid/comm")" == cupsd ]] || return 1
    echo "$pid"
}

# Whether DIR is a folder this script made: it holds our cupsd.conf.
ours() { [[ -f "$DIR/cupsd.conf" ]] && grep -q 'raitakone scripts/cups-private-scheduler.sh' "$DIR/cupsd.conf"; }

# A process that has not exited (a zombie waiting for its parent has).
alive() { [[ -r "/proc/$1/stat" ]] && ! grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat"; }

add_queue() { # name PageSize Resolution [more lpadmin options]
    local name=$1 size=$2 resolution=$3
    shift 3
    local model=(-m "$MODEL")
    [[ "${1:-}" == -P ]] && model=()
    lpadmin -p "$name" -v "file://$OUT/$name.pwg" "${model[@]}" \
        -o "PageSize=$size" -o "Resolution=$resolution" -o printer-error-policy=abort-job "$@" \
        || die "lpadmin could not create $name (is cups-filters installed?)"
    cupsenable "$name"
    cupsaccept "$name"
}

driver_queue() { # name model [lpadmin options]: the driver's PCL goes to OUT/NAME.pcl
    local name=$1 model=$2
    shift 2
    lpadmin -p "$name" -v "file://$OUT/$name.pcl" -m "$model" -o printer-error-policy=abort-job "$@" 2>/dev/null \
        || die "lpadmin could not create $name (are printer-driver-gutenprint and printer-driver-hpcups installed?)"
    cupsenable "$name"
    cupsaccept "$name"
}

start() {
    [[ $(id -u) -eq 0 ]] || die "run as root (cupsd runs its filters as lp)"
    [[ -x /usr/sbin/cupsd ]] || die "cupsd not found (install cups)"
    [[ -x /usr/lib/cups/filter/gstoraster || -x /usr/lib/cups/filter/pdftoraster ]] \
        || die "no PDF rasteriser (install cups-filters)"

    if our_cupsd_pid >/dev/null && scheduler_running; then
        say "the private scheduler is running already"
    else
        stop_scheduler
        if [[ -e "$DIR" ]]; then
            ours || die "$DIR exists and is not this script's; choose another RAITAKONE_CUPS_PRIVATE"
            rm -rf "$DIR"
        fi
        mkdir -p "$DIR"/{spool,spool/tmp,cache,state,log,ppd,ssl,out}
        chmod 755 "$DIR"
        chown root:lp "$DIR"/spool "$DIR"/spool/tmp "$DIR"/cache "$DIR"/state
        chmod 0710 "$DIR"/spool
        chmod 1770 "$DIR"/spool/tmp
        chmod 0770 "$DIR"/cache "$DIR"/state
        chmod 1777 "$OUT"

        cat >"$DIR/cups-files.conf" <<EOF
# Written by raitakone scripts/cups-private-scheduler.sh; removed by its stop.
FileDevice Yes
User lp
Group lp
SystemGroup root
ServerRoot $DIR
RequestRoot $DIR/spool
TempDir $DIR/spool/tmp
CacheDir $DIR/cache
StateDir $DIR/state
AccessLog $DIR/log/access_log
ErrorLog $DIR/log/error_log
PageLog $DIR/log/page_log
Printcap $DIR/printcap
ServerKeychain $DIR/ssl
EOF
        cat >"$DIR/cupsd.conf" <<EOF
# Written by raitakone scripts/cups-private-scheduler.sh; removed by its stop.
LogLevel warn
Listen localhost:$PORT
Listen $SOCKET
Browsing No
DefaultAuthType None
WebInterface No
MaxJobs 0
PreserveJobHistory Yes
PreserveJobFiles No
<Location />
  Order allow,deny
  Allow localhost
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
        say "starting a private cupsd in $DIR (port $PORT, socket $SOCKET)"
        setsid /usr/sbin/cupsd -f -c "$DIR/cupsd.conf" -s "$DIR/cups-files.conf" \
            >"$DIR/log/cupsd.out" 2>&1 </dev/null &
        echo $! >"$DIR/cupsd.pid"
        for _ in $(seq 1 100); do
            scheduler_running && break
            sleep 0.2
        done
        scheduler_running || die "the private cupsd did not start; see $DIR/log"
    fi

    for resolution in 300 600 1200; do
        add_queue "raitakone-a4-$resolution" A4 "${resolution}dpi"
        add_queue "raitakone-letter-$resolution" Letter "${resolution}dpi"
        add_queue "raitakone-label-$resolution" om_small-photo "${resolution}dpi"
    done
    # The PWG raster queue: the same driver, told that the printer takes PWG
    # raster as it comes (the generic driver would rasterise it again through
    # PDF), so a PWG raster job reaches the file untouched.
    /usr/lib/cups/daemon/cups-driverd cat "$MODEL" 2>/dev/null \
        | sed -e 's|^\*cupsFilter2: "application/vnd.cups-raster image/pwg-raster 0 -"|*cupsFilter2: "image/pwg-raster image/pwg-raster 0 gziptoany"|' \
              -e '/^\*cupsFilter: /d' >"$DIR/pwg-direct.ppd"
    grep -q '^\*cupsFilter2: "image/pwg-raster image/pwg-raster 0 gziptoany"' "$DIR/pwg-direct.ppd" \
        || die "could not make the PWG raster PPD from $MODEL"
    add_queue raitakone-pwg-150 A4 150dpi -P "$DIR/pwg-direct.ppd"
    # A label printer on CUPS's own Zebra ZPL driver, its default label
    # 4 x 5 in, a size libcups names custom_…: the driver's ZPL goes to the file.
    lpadmin -p raitakone-zebra-4x5 -v "file://$OUT/raitakone-zebra-4x5.zpl" -m drv:///sample.drv/zebra.ppd \
        -o PageSize=w288h360 -o Resolution=203dpi -o printer-error-policy=abort-job \
        || die "lpadmin could not create raitakone-zebra-4x5 (is cups installed?)"
    cupsenable raitakone-zebra-4x5
    cupsaccept raitakone-zebra-4x5
    # Two laser printers on the drivers Debian ships, each in its default
    # quality, their PCL going to the file: Gutenprint's LaserJet 4 set to
    # 600 dpi (its quality Standard would rasterise at 300) and hpcups's
    # LaserJet 1320, which has no Resolution option (its OutputMode sets it).
    driver_queue raitakone-gutenprint-lj4 gutenprint.5.3://pcl-4/expert -o PageSize=A4 -o Resolution=600dpi
    driver_queue raitakone-hpcups-lj1320 drv:///hpcups.drv/hp-laserjet_1320.ppd -o PageSize=A4
    add_queue raitakone-stopped A4 300dpi
    cupsdisable -r "paused by the Raitakone tests" raitakone-stopped
    add_queue raitakone-rejecting A4 300dpi
    cupsreject -r "rejecting for the Raitakone tests" raitakone-rejecting
    say "queues ready; driver rasters go to $OUT"

    echo "export RAITAKONE_CUPS_RASTER_SERVER=$SOCKET"
    echo "export RAITAKONE_CUPS_RASTER_OUT=$OUT"
}

stop_scheduler() {
    local pid
    if pid=$(our_cupsd_pid); then
        say "stopping the private cupsd (pid $pid)"
        kill -TERM "$pid"
        for _ in $(seq 1 50); do
            alive "$pid" || break
            sleep 0.2
        done
        alive "$pid" && die "the private cupsd (pid $pid) did not stop"
    fi
    return 0
}

stop() {
    [[ $(id -u) -eq 0 ]] || die "run as root"
    stop_scheduler
    if ours; then
        rm -rf "$DIR"
    fi
}

case "${1:-}" in
start) start ;;
stop) stop ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
