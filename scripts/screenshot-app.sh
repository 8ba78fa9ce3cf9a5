#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Takes a screenshot of pdftopjl-app's web page for a ZX-4200 with headless
# Chromium: docs/app-printer-page.png.  Builds the application in build/ when
# it is not there, runs it on a free loopback port with its state in a
# temporary folder, and stops it again.
#   scripts/screenshot-app.sh [output.png]     (PDFTOPJL_APP=path: another build)
set -eu
cd "$(dirname "$0")/.."
OUT=${1:-docs/app-printer-page.png}
APP=${PDFTOPJL_APP:-build/pdftopjl-app}

if ! command -v chromium >/dev/null 2>&1; then
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends chromium
fi
if [ ! -x "$APP" ]; then
    cmake -S . -B build
    cmake --build build -j2 --target pdftopjl-app
fi

WORK=$(mktemp -d)
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# PAPPL keeps a root server's socket in SNAP_COMMON when set: this server's
# socket, state and spool stay in the temporary folder.
export SNAP_COMMON="$WORK"
"$APP" server -o server-port="$PORT" -o log-file="$WORK/log" &
SERVER=$!
cleanup() {
    kill "$SERVER" 2>/dev/null || true
    wait "$SERVER" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

python3 - "$PORT" <<'EOF'
import socket, sys, time
for _ in range(100):
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()
        break
    except OSError:
        time.sleep(0.1)
EOF
mkdir -p "$WORK/out"
"$APP" add -d zx4200 -m zarelle_zx4200 -v "file://$WORK/out"
# One finished job in the page's job list.
"$APP" submit -d zx4200 -o sides=two-sided-long-edge samples/sample.pdf >/dev/null
sleep 2

mkdir -p "$(dirname "$OUT")"
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1200,1000 \
    --screenshot="$OUT" "http://127.0.0.1:$PORT/zx4200/" 2>/dev/null
echo "Wrote $OUT"
