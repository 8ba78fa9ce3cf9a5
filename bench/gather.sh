#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# A job's settings work for 200 options and a 300 KiB PPD: open the PPD,
# parse the options, the CUPS adapter and the header, beside one bare PPD
# parse and one option parse, both measured in one run.
# Target: median ratio whole job / bare parses at most 1.3.
#   bench/gather.sh [build-dir] [runs]
# The build dir needs a built pdftopjl_core (a Release build gives the
# figures that count: cmake -DCMAKE_BUILD_TYPE=Release).
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${2:-21}
LIB=$BUILD/libpdftopjl_core.a
[ -f "$LIB" ] || { echo "build the filter first ($LIB)"; exit 2; }
# A library older than the sources measures code that is no longer there.
if [ -n "$(find src -newer "$LIB" -name '*.[ch]pp' | head -1)" ]; then
    echo "warning: $LIB is older than src/; rebuild it for current figures" >&2
fi

WORK=$(mktemp -d "${BENCH_TMP:-/tmp}/pdftopjl-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
# Only the library's settings and header objects get linked; the rest of its
# dependencies are listed so that a new reference from them still links.
${CXX:-c++} -std=c++20 -O2 -Wall -Wno-deprecated-declarations -DPOINTERHOLDER_TRANSITION=4 \
    -Isrc bench/gather_bench.cpp "$LIB" -lcups \
    $(pkg-config --libs libqpdf poppler-cpp) -lz -pthread -o "$WORK/gather_bench"
"$WORK/gather_bench" "$WORK" "$RUNS"
