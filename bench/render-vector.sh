#!/bin/sh
# Vector half turn: a 1,000-page text document through the filter with
# ZRTurnPage=true, against `qpdf --rotate=+180` on the same file, the two
# interleaved in the same run.  Target: median time ratio at most 1.5.
#   bench/render-vector.sh [build-dir] [pages] [runs]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
PAGES=${2:-1000}
RUNS=${3:-9}
FILTER=$BUILD/pdftopjl
. bench/render-common.sh

python3 bench/render-text-pdf.py "$WORK/doc.pdf" "$PAGES"

# The filter must really have rewritten the pages.
filter ZRTurnPage=true "$WORK/doc.pdf" > "$WORK/job"
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
left=$(ls -A "$WORK/tmp" | wc -l)
echo "document:      $PAGES text pages, $(wc -c < "$WORK/doc.pdf") bytes"
echo "filter median: ${f} s"
echo "qpdf median:   ${b} s"
echo "ratio:         $r (target <= 1.5)"
echo "temp files left: $left"
ok=$(awk -v r="$r" 'BEGIN { print (r <= 1.5) ? "yes" : "no" }')
[ "$ok" = yes ] && [ "$left" -eq 0 ] && echo "PASS" || { echo "FAIL"; exit 1; }
