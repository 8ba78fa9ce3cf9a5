#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# A longer fuzzing run: each target for the given seconds (default 300), one
# after the other, on a working corpus in the build dir grown from the seeds
# in fuzz/corpus/.  The header target gets the ticket keys as a dictionary.
# Failing inputs land in <build-dir>/fuzz/artifacts/; replay one with
#   <build-dir>/fuzz/fuzz_<target> <file>
# and, once the cause is fixed, add it to the seeds in fuzz/corpus/ so every
# test run replays it.  A run stops at
# its first failure; FUZZ_FLAGS="-fork=1 -ignore_crashes=1" keeps it going.
#   fuzz/run.sh [seconds] [build-dir] [target...]    (targets: header utf8 jobstream snmp)
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
TIME=${1:-300}
BUILD=${2:-build-fuzz}
[ $# -gt 2 ] && shift 2 || set --
TARGETS=${*:-header utf8 jobstream snmp}

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DPDFTOPJL_FUZZ=ON -DPDFTOPJL_TESTS=OFF
fi
cmake --build "$BUILD" -j2 --target fuzz_header fuzz_utf8 fuzz_jobstream
WORK=$BUILD/fuzz

# Every ticket key with its "=", so that mutations can add whole options.
awk '/#define QBD_TICKET_PREFIX/ { match($0, /"[^"]*"/); prefix = substr($0, RSTART + 1, RLENGTH - 2); next }
     match($0, /"[^"]*"/) { key = substr($0, RSTART + 1, RLENGTH - 2)
                            if ($0 ~ /QBD_TICKET_PREFIX "/) key = prefix key
                            printf "\"%s=\"\n", key }' src/cups/ticket_keys.hpp > "$WORK/header.dict"
printf '%s\n' '"*OpenUI *"' '"*CloseUI: *"' '"*Default"' '"*ModelName: \""' \
    '"*ZRPrinterLanguageEncoding: \""' '"\x00"' >> "$WORK/header.dict"

export LSAN_OPTIONS="suppressions=$ROOT/fuzz/lsan.supp:print_suppressions=0"
status=0
for t in $TARGETS; do
    dict=""
    [ "$t" = header ] && dict="-dict=$WORK/header.dict"
    echo "== fuzz_$t for ${TIME}s =="
    # shellcheck disable=SC2086
    "$WORK/fuzz_$t" -max_total_time="$TIME" -timeout=10 -print_final_stats=1 \
        -create_missing_dirs=1 -artifact_prefix="$WORK/artifacts/$t-" $dict ${FUZZ_FLAGS:-} \
        "$WORK/corpus/$t" "fuzz/corpus/$t" || status=1
done
exit $status
