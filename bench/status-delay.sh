#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Status queries never hold up a job: small jobs to the Printer Application,
# from Print-Job until the simulated printer has them, while a client watches
# the printer (which is what makes PAPPL ask for status), against a printer
# answering PJL and SNMP, one whose SNMP is silent, one silent altogether,
# one dropping the connection on a status query, and with status-poll=off.
# Target: each printer's median and max at most 100 ms above status-poll=off.
# "answer max" is the slowest Get-Printer-Attributes the watching client saw.
#   bench/status-delay.sh [build-dir] [jobs] [printer (rows whose name has it)]
# The build dir needs the test suites built (PDFTOPJL_TESTS=ON) for the
# simulated printer; its SNMP needs root (UDP port 161), without which the
# SNMP rows measure a printer without SNMP.
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
JOBS=${2:-20}
APP=$BUILD/pdftopjl-app
SUPPORT=$BUILD/tests/libpdftopjl_testsupport.a
[ -x "$APP" ] || { echo "build the app first ($APP)"; exit 2; }
[ -f "$SUPPORT" ] || { echo "build the test suites first ($SUPPORT)"; exit 2; }

WORK=$(mktemp -d "${BENCH_TMP:-/tmp}/pdftopjl-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
${CXX:-c++} -std=c++20 -O2 -Wall -Itests -Isrc bench/status_delay_bench.cpp "$SUPPORT" "$BUILD/libpdftopjl_core.a" \
    -lcups -pthread -o "$WORK/status_delay_bench"
"$WORK/status_delay_bench" "$APP" samples/sample.pdf "$WORK" "$JOBS" ${3:+"$3"}
