#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Installs dependencies, builds the filter and the models' PPDs in a folder of
# its own (build-sample/, so that the build an administrator installs from is
# left as it was), runs the filter on the bundled sample the way CUPS would
# with the ZX-4200's PPD, writes the job to build-sample/sample-job.pjl and
# shows its header.
set -eu
cd "$(dirname "$0")/.."
JOBS=$(nproc 2>/dev/null || echo 2)
BUILD=build-sample

scripts/install-deps.sh
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target pdftopjl pjlinspect ppds

OUT=$BUILD/sample-job.pjl
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
OPTIONS="InputSlot=Tray1 media=A4 ZRStaple=UpperLeftSinglePort Collate=true com.apple.print.PrintSettings.PMDuplexing..n.=2"

PPD=$BUILD/ppd/zx4200.ppd TMPDIR="$TMP" \
    "$BUILD/pdftopjl" 1 "$(id -un)" "Sample report" 2 "$OPTIONS" samples/sample.pdf > "$OUT"

echo "Wrote $OUT; $BUILD/pjlinspect shows its header and pages:"
"$BUILD/pjlinspect" "$OUT"
