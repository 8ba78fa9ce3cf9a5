#!/bin/sh
# Installs dependencies, builds the filter and the models' PPDs, runs the
# filter on the bundled sample the way CUPS would with the ZX-4200's PPD,
# writes the job to build/sample-job.pjl and shows its header.
set -eu
cd "$(dirname "$0")/.."
JOBS=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPDFTOPJL_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$JOBS" --target pdftopjl pjlinspect ppds

OUT=build/sample-job.pjl
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
OPTIONS="InputSlot=Tray1 media=A4 ZRStaple=UpperLeftSinglePort Collate=true com.apple.print.PrintSettings.PMDuplexing..n.=2"

PPD=build/ppd/zx4200.ppd TMPDIR="$TMP" \
    build/pdftopjl 1 "$(id -un)" "Sample report" 2 "$OPTIONS" samples/sample.pdf > "$OUT"

echo "Wrote $OUT; build/pjlinspect shows its header and pages:"
build/pjlinspect "$OUT"
