#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian packages (debian/) from this tree, checks them with
# lintian, installs them and proves them from the installed files alone:
# lpinfo -m lists every model, a queue prints through the system cupsd to a
# socket listener, the ppd-updater re-points the queue, pdftopjl-app prints
# over IPP, the service's command line runs and its unit verifies.  Then it
# purges both packages and checks that nothing of theirs is left.
#
# For CI: root on a fresh Debian 12, maybe without systemd as PID 1.  It
# starts cupsd when none runs and stops what it started.  The packages and
# the build log stay in build-deb/.  --no-build checks the packages the last
# run built there.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=$ROOT/build-deb
PACKAGES="printer-driver-pdftopjl pdftopjl-printer-app"
QUEUE=pdftopjl-package-check
UNIT=/lib/systemd/system/pdftopjl-app.service
SAMPLE=$ROOT/samples/sample.pdf
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
STARTED=$(date +%s)
NO_BUILD=""
[ "${1:-}" = "--no-build" ] && NO_BUILD=yes

step() { printf '\n==== package-check: %s ====\n' "$*"; }
fail() {
    echo "package-check: FAILED: $*" >&2
    exit 1
}

if [ "$(id -u)" -ne 0 ]; then
    echo "package-check: run as root (it installs and purges packages)" >&2
    exit 1
fi
# dpkg's state of a package: installed, config-files, ...; empty or
# not-installed when dpkg has none of it.
package_state() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true; }
for p in $PACKAGES; do
    case $(package_state "$p") in
        "" | not-installed) ;;
        *) fail "$p is installed; purge it first (this check purges what it installs)" ;;
    esac
done

WORK=$(mktemp -d /tmp/pdftopjl-package-check.XXXXXX)
chmod 0755 "$WORK"
CUPSD_PID=""
LISTENER_PID=""
APP_PID=""
SERVICE_PID=""
INSTALLED=""
QUEUE_MADE=""

stop_pid() {
    [ -n "$1" ] || return 0
    kill "$1" 2>/dev/null || return 0
    i=0
    while kill -0 "$1" 2>/dev/null && [ $i -lt 100 ]; do
        sleep 0.1
        i=$((i + 1))
    done
    kill -9 "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

cleanup() {
    status=$?
    set +e
    stop_pid "$APP_PID"
    stop_pid "$SERVICE_PID"
    stop_pid "$LISTENER_PID"
    [ -n "$QUEUE_MADE" ] && delete_queue 2>/dev/null
    if [ -n "$INSTALLED" ]; then
        echo "package-check: purging the packages after the failure"
        # shellcheck disable=SC2086
        apt-get purge -y -q -o Dpkg::Use-Pty=0 $PACKAGES >/dev/null 2>&1
    fi
    stop_pid "$CUPSD_PID"
    rm -rf "$WORK"
    if [ $status -ne 0 ]; then
        echo "package-check: FAILED (status $status)" >&2
    fi
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# cupsd 2.4 leaves the queue's strings cache behind when it deletes a queue.
delete_queue() {
    lpadmin -x "$QUEUE"
    rm -f "/var/cache/cups/$QUEUE.strings"
}

cups_log() {
    echo "--- last lines of /var/log/cups/error_log:"
    tail -n 40 /var/log/cups/error_log 2>/dev/null || true
}

# Waits up to $2 seconds for a command ($1) to succeed.
wait_for() {
    i=0
    while ! eval "$1" >/dev/null 2>&1; do
        [ $i -lt $(($2 * 10)) ] || return 1
        sleep 0.1
        i=$((i + 1))
    done
}

port_open() {
    python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', int(sys.argv[1])), 1).close()" "$1"
}

free_port() {
    python3 -c "import socket; s = socket.socket(); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"
}

# The n-th job the listener received, checked with the installed pjlinspect.
check_job() {
    received=$WORK/listener/job-$1.pjl
    wait_for "test -f '$received'" 120 || { cups_log; fail "no job arrived at the listener for $2"; }
    echo "received $(wc -c <"$received") bytes for $2; pjlinspect:"
    /usr/bin/pjlinspect "$received" >"$WORK/inspect.txt" 2>&1 || {
        cat "$WORK/inspect.txt"
        fail "pjlinspect rejected the job of $2"
    }
    grep -E '^job stream|PAPER=|DUPLEX=|NLPP=|^body:|^trailer:' "$WORK/inspect.txt"
    grep -q '@PJL ENTER LANGUAGE=PDF' "$WORK/inspect.txt" || fail "the job of $2 has no PDF"
}

# The page count of the body pjlinspect last showed.
body_pages() { sed -n 's/^body: PDF, .*, \([0-9]*\) pages*$/\1/p' "$WORK/inspect.txt"; }

# ---------------------------------------------------------------------------
step "1/10 tools"
scripts/install-deps.sh
TOOLS="dpkg-dev debhelper fakeroot lintian python3 cups cups-client cups-ipp-utils man-db"
command -v systemd-analyze >/dev/null 2>&1 || TOOLS="$TOOLS systemd"
missing=""
for p in $TOOLS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    apt-get update -q
    # shellcheck disable=SC2086
    apt-get install -y -q --no-install-recommends $missing
fi
dpkg-checkbuilddeps || fail "build dependencies missing (debian/control)"

# ---------------------------------------------------------------------------
step "2/10 build (dpkg-buildpackage -us -uc -b)"
VERSION=$(dpkg-parsechangelog -S Version)
SRC=$OUT/pdftopjl-$VERSION
if [ -z "$NO_BUILD" ]; then
    rm -rf "$OUT"
    mkdir -p "$SRC"
    # A copy of the tree without the test builds, so the checkout stays clean
    # and the packages land in build-deb/.
    tar --exclude-vcs --exclude='./build*' --exclude='./obj-*' --exclude='./debian/tmp' -cf - . |
        tar -C "$SRC" -xf -
    export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-parallel=$(nproc 2>/dev/null || echo 2)}"
    build_start=$(date +%s)
    if ! (cd "$SRC" && dpkg-buildpackage -us -uc -b) >"$OUT/build.log" 2>&1; then
        tail -n 300 "$OUT/build.log"
        fail "dpkg-buildpackage failed (whole log: build-deb/build.log)"
    fi
    echo "built in $(($(date +%s) - build_start)) s; log: build-deb/build.log"
fi
grep -E 'tests passed|Total Test time|dpkg-deb: building|binary-only upload' "$OUT/build.log" || true
CHANGES=$OUT/pdftopjl_${VERSION}_$(dpkg-architecture -qDEB_HOST_ARCH).changes
DEBS=""
for p in $PACKAGES; do
    deb=$(ls "$OUT/${p}_${VERSION}"_*.deb)
    DEBS="$DEBS $deb"
    echo "--- $(basename "$deb"):"
    dpkg-deb -f "$deb" Depends
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print "  " $6}'
done

# ---------------------------------------------------------------------------
step "3/10 lintian"
# Errors fail the check; warnings are shown (there should be none).
lintian --fail-on error "$CHANGES" || fail "lintian reported errors"
echo "lintian: no errors"

# ---------------------------------------------------------------------------
step "4/10 cupsd"
if lpstat -h /run/cups/cups.sock -r 2>/dev/null | grep -q 'is running'; then
    echo "the system cupsd is running"
else
    echo "starting the system cupsd (/usr/sbin/cupsd -f, the system configuration)"
    /usr/sbin/cupsd -f &
    CUPSD_PID=$!
    wait_for "lpstat -h /run/cups/cups.sock -r | grep -q 'is running'" 30 || fail "cupsd did not start"
fi

# ---------------------------------------------------------------------------
step "5/10 install"
# shellcheck disable=SC2086
apt-get install -y -q -o Dpkg::Use-Pty=0 $DEBS
INSTALLED=yes
for p in $PACKAGES; do
    dpkg -L "$p" >"$WORK/files-$p"
done

# ---------------------------------------------------------------------------
step "6/10 lpinfo -m"
lpinfo -m >"$WORK/lpinfo" || fail "lpinfo -m failed"
grep 'lsb/usr/pdftopjl/' "$WORK/lpinfo" | tee "$WORK/ours"
# Every PPD the build wrote from the model table.
models=0
for ppd in "$SRC"/obj-*/ppd/*.ppd; do
    name=$(basename "$ppd")
    grep -q "^lsb/usr/pdftopjl/$name " "$WORK/ours" || fail "lpinfo -m does not list $name"
    models=$((models + 1))
done
[ $models -gt 0 ] || fail "the build wrote no PPDs"
[ "$(wc -l <"$WORK/ours")" -eq $models ] || fail "lpinfo -m lists $(wc -l <"$WORK/ours") pdftopjl PPDs, the build wrote $models"
echo "lpinfo -m lists all $models models"

# ---------------------------------------------------------------------------
step "7/10 lpadmin and print through the system cupsd"
mkdir -p "$WORK/listener"
cat >"$WORK/listener.py" <<'EOF'
# A printer's raw port: each connection's bytes go to job-N.pjl, written
# whole once the sender has finished.
import os, socket, sys, threading
out = sys.argv[1]
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(8)
lock = threading.Lock()
count = 0
def serve(conn):
    global count
    data = bytearray()
    conn.settimeout(300)
    try:
        while chunk := conn.recv(65536):
            data += chunk
    except OSError:
        pass
    conn.close()
    if not data:
        return
    with lock:
        count += 1
        path = os.path.join(out, "job-%d" % count)
    with open(path + ".part", "wb") as f:
        f.write(data)
    os.rename(path + ".part", path + ".pjl")
with open(os.path.join(out, "port.part"), "w") as f:
    f.write(str(server.getsockname()[1]))
os.rename(os.path.join(out, "port.part"), os.path.join(out, "port"))
while True:
    conn, _ = server.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
EOF
python3 "$WORK/listener.py" "$WORK/listener" &
LISTENER_PID=$!
wait_for "test -f '$WORK/listener/port'" 10 || fail "the listener did not start"
PORT=$(cat "$WORK/listener/port")
MODEL=$(grep -m1 '/zx4200\.ppd ' "$WORK/ours" | cut -d' ' -f1)
[ -n "$MODEL" ] || MODEL=$(head -n1 "$WORK/ours" | cut -d' ' -f1)
echo "lpadmin -p $QUEUE -E -v socket://127.0.0.1:$PORT -m $MODEL"
lpadmin -p "$QUEUE" -E -v "socket://127.0.0.1:$PORT" -m "$MODEL"
QUEUE_MADE=yes
print_lp_job() {
    n=$1
    shift
    echo "lp -d $QUEUE $*"
    request=$(lp -d "$QUEUE" "$@") || fail "lp refused the job"
    echo "$request"
    job=$(echo "$request" | sed -n 's/^request id is \([^ ]*\).*/\1/p')
    check_job "$n" "$job"
    wait_for "lpstat -W completed -o '$QUEUE' | grep -q '^$job '" 60 || {
        lpstat -l -o "$QUEUE" -W all
        cups_log
        fail "cupsd did not complete $job"
    }
    echo "$job completed"
}
print_lp_job 1 "$SAMPLE"
pages=$(body_pages)
# Two pages a sheet: laid out by pdftopdf (cups-filters-core-drivers).
print_lp_job 2 -o number-up=2 "$SAMPLE"
[ "$(body_pages)" -eq $(((pages + 1) / 2)) ] || fail "the 2-up job has $(body_pages) pages, not half of $pages"

echo "--- ppd-updater: cups's trigger, as on an upgrade of the driver package"
touch /usr/share/cups/ppd-updaters/printer-driver-pdftopjl.ppd-updater
dpkg-trigger --no-await /usr/share/cups/ppd-updaters
dpkg --triggers-only cups >"$WORK/trigger.log" 2>&1 || true
cat "$WORK/trigger.log"
grep -q "PPD for printer $QUEUE updated" "$WORK/trigger.log" || fail "the ppd-updater did not update $QUEUE's PPD"

# ---------------------------------------------------------------------------
step "8/10 pdftopjl-app prints over IPP"
APPDIR=$WORK/app
mkdir -m 0700 "$APPDIR"
APORT=$(free_port)
# Its state, spool and local socket under SNAP_COMMON: this server's own.
SNAP_COMMON=$APPDIR /usr/bin/pdftopjl-app server -o server-port="$APORT" -o log-file="$APPDIR/log" \
    -o log-level=info -o status-poll=off >"$APPDIR/server.out" 2>&1 &
APP_PID=$!
wait_for "port_open $APORT" 30 || {
    cat "$APPDIR/server.out" "$APPDIR/log" 2>/dev/null
    fail "pdftopjl-app did not listen on port $APORT"
}
echo "pdftopjl-app server on port $APORT (pid $APP_PID)"
SNAP_COMMON=$APPDIR /usr/bin/pdftopjl-app drivers | tee "$WORK/drivers"
[ "$(wc -l <"$WORK/drivers")" -eq $models ] || fail "pdftopjl-app has $(wc -l <"$WORK/drivers") drivers, the build wrote $models PPDs"
echo "pdftopjl-app add -d pkgcheck -m zarelle_zx4200 -v socket://127.0.0.1:$PORT"
SNAP_COMMON=$APPDIR /usr/bin/pdftopjl-app add -d pkgcheck -m zarelle_zx4200 -v "socket://127.0.0.1:$PORT"
echo "ipptool -tf sample.pdf ipp://127.0.0.1:$APORT/ipp/print/pkgcheck print-job.test"
ipptool -tf "$SAMPLE" "ipp://127.0.0.1:$APORT/ipp/print/pkgcheck" print-job.test ||
    fail "ipptool could not print to pdftopjl-app"
check_job 3 "pdftopjl-app's job"
SNAP_COMMON=$APPDIR /usr/bin/pdftopjl-app shutdown
wait "$APP_PID" || true
APP_PID=""
echo "pdftopjl-app shut down"

# ---------------------------------------------------------------------------
step "9/10 the service"
grep -E '^(ExecStart|User|WantedBy)=' "$UNIT"
if [ -d /run/systemd/system ]; then
    systemctl is-active pdftopjl-app || fail "the service did not start on install"
    /usr/bin/pdftopjl-app status
else
    # No systemd here: its command line, run as systemd would, with a port of
    # its own; it keeps its state where the service does (purge removes it).
    cmd=$(sed -n 's/^ExecStart=//p' "$UNIT")
    SPORT=$(free_port)
    echo "no systemd running: $cmd -o server-port=$SPORT"
    # shellcheck disable=SC2086
    $cmd -o server-port="$SPORT" >"$WORK/service.out" 2>&1 &
    SERVICE_PID=$!
    wait_for "port_open $SPORT" 30 || {
        cat "$WORK/service.out"
        fail "the service's command did not listen"
    }
    # As root, through the service's socket /run/pdftopjl-app.sock; the
    # printer makes it save its state.
    /usr/bin/pdftopjl-app status
    /usr/bin/pdftopjl-app add -d service-check -m zarelle_zx2100 -v "socket://127.0.0.1:$PORT"
    /usr/bin/pdftopjl-app printers
    /usr/bin/pdftopjl-app shutdown
    wait "$SERVICE_PID" || true
    SERVICE_PID=""
    [ -f /var/lib/pdftopjl-app.state ] || fail "the service's state was not saved in /var/lib/pdftopjl-app.state"
    echo "state saved in /var/lib/pdftopjl-app.state, spool /var/spool/pdftopjl-app"
fi
echo "--- systemd-analyze verify $UNIT"
if systemd-analyze verify "$UNIT" >"$WORK/verify.txt" 2>&1; then
    cat "$WORK/verify.txt"
    echo "systemd-analyze verify: no findings"
elif grep -q 'pdftopjl-app' "$WORK/verify.txt"; then
    cat "$WORK/verify.txt"
    fail "systemd-analyze verify found problems in the unit"
else
    cat "$WORK/verify.txt"
    echo "systemd-analyze verify could not run here (above; nothing about the unit): continuing"
fi

# ---------------------------------------------------------------------------
step "10/10 purge"
delete_queue
QUEUE_MADE=""
stop_pid "$LISTENER_PID"
LISTENER_PID=""
# shellcheck disable=SC2086
apt-get purge -y -q -o Dpkg::Use-Pty=0 $PACKAGES
INSTALLED=""
left=""
for p in $PACKAGES; do
    case $(package_state "$p") in
        "" | not-installed) ;;
        *) left="$left package:$p($(package_state "$p"))" ;;
    esac
    while read -r path; do
        # Shared directories (/usr/bin, ...) stay; the packages' own go.
        if [ -d "$path" ]; then
            case "$path" in *pdftopjl*) left="$left $path" ;; esac
        elif [ -e "$path" ] || [ -L "$path" ]; then
            left="$left $path"
        fi
    done <"$WORK/files-$p"
done
# Not man-db's cache of formatted pages (systemd-analyze verify reads the
# unit's Documentation= page), which man-db's daily run cleans.
find /etc /usr /lib /var/lib /var/cache /var/spool /var/log /run \( -path /usr/local -o -path /var/cache/man \) -prune \
    -o -name '*pdftopjl*' -print 2>/dev/null >"$WORK/found" || true
[ ! -s "$WORK/found" ] || left="$left $(tr '\n' ' ' <"$WORK/found")"
[ -z "$left" ] || fail "left after purge:$left"
echo "nothing of the packages is left"

stop_pid "$CUPSD_PID"
CUPSD_PID=""
echo
echo "package-check: OK in $(($(date +%s) - STARTED)) s (install, lpinfo -m, lpadmin, print, app print, purge)"
