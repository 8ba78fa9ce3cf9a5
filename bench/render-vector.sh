#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Vector half turn: text documents of 10, 1,000 and 10,000 pages through the
# filter with ZRTurnPage=true, against `qpdf --rotate=+180` on the same file,
# the two interleaved in the same run.  Target: median time ratio at most 1.1
# at each size.
#   bench/render-vector.sh [build-dir] ["page counts"] [runs]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
COUNTS=${2:-"10 1000 10000"}
RUNS=${3:-15}
FILTER=$BUILD/pdftopjl
. bench/render-common.sh

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "load (1, 5, 15 min) at start: $(load); $(nproc) cores"
failed=0
for PAGES in $COUNTS; do
    python3 bench/render-text-pdf.py "$WORK/doc.pdf" "$PAGES"

    # The filter must really have rewritten the pages.
    filter ZRTurnPage=true "$WORK/doc.pdf" > "$WORK/job" 2> /dev/null
    grep -aq '/Fm0 Do' "$WORK/job" || { echo "FAIL: the pages were not re-rendered"; exit 1; }

    : > "$WORK/filter.txt"
    : > "$WORK/base.txt"
    i=0
    while [ $i -lt "$RUNS" ]; do
        measure_filter ZRTurnPage=true "$WORK/doc.pdf" >> "$WORK/filter.txt"
        measure qpdf --rotate=+180 "$WORK/doc.pdf" "$WORK/rotated.pdf" >> "$WORK/base.txt"
        i=$((i + 1))
    done

    f=$(cut -d' ' -f1 "$WORK/filter.txt" | median)
    b=$(cut -d' ' -f1 "$WORK/base.txt" | median)
    r=$(ratio "$f" "$b")
    fc=$(cut -d' ' -f3 "$WORK/filter.txt" | median)
    bc=$(cut -d' ' -f3 "$WORK/base.txt" | median)
    ok=$(awk -v r="$r" 'BEGIN { print (r <= 1.1) ? "PASS" : "FAIL" }')
    [ "$ok" = PASS ] || failed=1
    printf '%6d text pages (%d bytes), median of %d runs: filter %s s, qpdf %s s, ratio %s (<= 1.1)  %s  (load %s)\n' \
        "$PAGES" "$(wc -c < "$WORK/doc.pdf")" "$RUNS" "$f" "$b" "$r" "$ok" "$(load)"
    # On a loaded machine a job of three processes (the job, its host
    # lookup, the worker) waits longer for the processor than one does.
    echo "        processor time: filter $fc s, qpdf $bc s, ratio $(ratio "$fc" "$bc")"
done
left=$(ls -A "$WORK/tmp" | wc -l)
echo "temp files left: $left"
[ "$failed" -eq 0 ] && [ "$left" -eq 0 ] && echo "PASS" || { echo "FAIL"; exit 1; }
