#!/bin/sh
# Option gathering speed: GetPrintOptions for 200 options and a 300 KiB PPD,
# beside the same steps without the shared parse and beside the reference
# work (one PPD parse and one option parse), all measured in one run.
# Target: median under 20 ms.
#   bench/gather.sh [build-dir] [runs]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${2:-21}
LIB=$BUILD/libpdftopjl_core.a
[ -f "$LIB" ] || { echo "build the filter first ($LIB)"; exit 2; }

WORK=$(mktemp -d "${BENCH_TMP:-/tmp}/pdftopjl-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
${CXX:-c++} -std=c++20 -O2 -Wall -Wno-deprecated-declarations -Isrc bench/gather_bench.cpp "$LIB" -lcups -o "$WORK/gather_bench"
"$WORK/gather_bench" "$WORK" "$RUNS"
