#!/bin/sh
# Raster mode: 20 letter text pages through the filter with
# ZRPDFRasterizedMode=true, against `pdftoppm -r 300 -png` on the same pages,
# interleaved in the same run.  Target: median time ratio at most 1.3.
# Memory: the peak with three times the pages must stay where it was, and
# within about two page bitmaps (2550 x 3300 x 4 bytes each) above the
# filter's own peak on the same document without rasterising.
#   bench/render-raster.sh [build-dir] [pages] [runs]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
PAGES=${2:-20}
RUNS=${3:-3}
FILTER=$BUILD/pdftopjl
. bench/render-common.sh

python3 bench/render-text-pdf.py "$WORK/doc.pdf" "$PAGES"
python3 bench/render-text-pdf.py "$WORK/long.pdf" $((PAGES * 3))

filter ZRPDFRasterizedMode=true "$WORK/doc.pdf" > "$WORK/job"
grep -aq '/Subtype /Image /Width 2550 /Height 3300' "$WORK/job" ||
    { echo "FAIL: the pages were not rasterised"; exit 1; }

: > "$WORK/filter.txt"
: > "$WORK/base.txt"
i=0
while [ $i -lt "$RUNS" ]; do
    measure_filter ZRPDFRasterizedMode=true "$WORK/doc.pdf" >> "$WORK/filter.txt"
    measure pdftoppm -r 300 -png "$WORK/doc.pdf" "$WORK/page" >> "$WORK/base.txt"
    rm -f "$WORK"/page*.png
    i=$((i + 1))
done
long=$(measure_filter ZRPDFRasterizedMode=true "$WORK/long.pdf" | cut -d' ' -f2)
plain=$(measure_filter ZRTurnPage=true "$WORK/doc.pdf" | cut -d' ' -f2)

f=$(cut -d' ' -f1 "$WORK/filter.txt" | median)
b=$(cut -d' ' -f1 "$WORK/base.txt" | median)
rss=$(cut -d' ' -f2 "$WORK/filter.txt" | sort -n | tail -1)
bitmaps=$((2 * 2550 * 3300 * 4 / 1024))
r=$(ratio "$f" "$b")
left=$(ls -A "$WORK/tmp" | wc -l)
echo "document:        $PAGES letter text pages"
echo "filter median:   ${f} s"
echo "pdftoppm median: ${b} s"
echo "ratio:           $r (target <= 1.3)"
echo "peak RSS:        $((rss / 1024)) MiB with $PAGES pages, $((long / 1024)) MiB with $((PAGES * 3))"
echo "                 $((plain / 1024)) MiB without rasterising; two page bitmaps: $((bitmaps / 1024)) MiB"
echo "temp files left: $left"
ok=$(awk -v r="$r" -v m="$rss" -v l="$long" -v p="$plain" -v b="$bitmaps" \
    'BEGIN { print (r <= 1.3 && m <= p + b * 1.1 && l <= m * 1.1) ? "yes" : "no" }')
[ "$ok" = yes ] && [ "$left" -eq 0 ] && echo "PASS" || { echo "FAIL"; exit 1; }
