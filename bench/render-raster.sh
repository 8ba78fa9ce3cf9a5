#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Raster mode (ZRPDFRasterizedMode=true) on letter pages, 20 and 100 by
# default, of three kinds: black text; dense colour office pages (the same
# text under a coloured heading box and rule, one line in colour: six colours
# a page); and ordinary office pages (11 pt paragraphs within one-inch
# margins under a heading in one coloured box: three colours); against
# Ghostscript's 300 dpi PDF of images and `pdftoppm -r 300` to PPM, all
# interleaved in the same run.  Targets, each page count:
#   black text:   filter time   <= 0.8 x Ghostscript's time
#                 filter output <= Ghostscript's output (the whole job stream
#                                  against its PDF)
#                 filter time   <= 0.8 x pdftoppm's time (painting alone,
#                                  nothing compressed)
#   colour and office pages:
#                 filter output <= 0.35 x Ghostscript's output
#                 filter time   <= 1.0 x pdftoppm's time
# Memory, on the first page count of black text: the peak of the largest
# process (the job's or one painting worker's) must stay where it was with
# three times the pages, and within about two page bitmaps (2550 x 3300 x 4
# bytes each) above the filter's own peak on the same document without
# rasterising.  Painting workers run one per core, so the job as a whole
# holds that many times as much at most.
#   bench/render-raster.sh [build-dir] ["page counts"] [runs] ["kinds"]
# kinds: "text colour office" by default.
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
COUNTS=${2:-"20 100"}
RUNS=${3:-3}
KINDS=${4:-"text colour office"}
FILTER=$BUILD/pdftopjl
command -v gs > /dev/null || { echo "Ghostscript is needed (scripts/install-deps.sh)"; exit 2; }
. bench/render-common.sh

failed=0
load() { cut -d' ' -f1-3 /proc/loadavg; }
# name, figure, anchor's name, anchor, highest ratio allowed
report() {
    r=$(ratio "$2" "$4")
    v=$(awk -v r="$r" -v l="$5" 'BEGIN { print (r <= l) ? "PASS" : "FAIL" }')
    [ "$v" = PASS ] || failed=1
    printf '  %-13s %12s   %-18s %12s   ratio %5s (<= %s)  %s\n' "$1" "$2" "$3" "$4" "$r" "$5" "$v"
}
column() { cut -d' ' -f"$1" "$2" | median; }

echo "load (1, 5, 15 min) at start: $(load); $(nproc) cores"
first=yes
for PAGES in $COUNTS; do
for KIND in $KINDS; do
    if [ "$KIND" != text ]; then
        python3 bench/render-text-pdf.py --"$KIND" "$WORK/doc.pdf" "$PAGES"
        size_limit=0.35 gs_time_limit=- ppm_limit=1.0
    else
        python3 bench/render-text-pdf.py "$WORK/doc.pdf" "$PAGES"
        size_limit=1.0 gs_time_limit=0.8 ppm_limit=0.8
    fi
    filter ZRPDFRasterizedMode=true "$WORK/doc.pdf" > "$WORK/job" 2> /dev/null
    grep -aq '/Height 3300 /Subtype /Image /Type /XObject /Width 2550' "$WORK/job" ||
        { echo "FAIL: the pages were not rasterised"; exit 1; }
    format=$(grep -ao '/ColorSpace .\{0,30\}' "$WORK/job" | head -1 | sed 's/ <.*//; s/ \/Decode.*//')

    : > "$WORK/filter.txt"
    : > "$WORK/gs.txt"
    : > "$WORK/ppm.txt"
    i=0
    while [ $i -lt "$RUNS" ]; do
        measure_filter ZRPDFRasterizedMode=true "$WORK/doc.pdf" >> "$WORK/filter.txt"
        measure gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfimage24 -r300 \
            -sOutputFile="$WORK/gs.pdf" "$WORK/doc.pdf" >> "$WORK/gs.txt"
        rm -f "$WORK"/page*.ppm
        measure pdftoppm -r 300 "$WORK/doc.pdf" "$WORK/page" >> "$WORK/ppm.txt"
        i=$((i + 1))
    done
    ppm_bytes=$(cat "$WORK"/page*.ppm | wc -c)
    rm -f "$WORK"/page*.ppm

    f=$(column 1 "$WORK/filter.txt")
    cpu=$(column 3 "$WORK/filter.txt")
    g=$(column 1 "$WORK/gs.txt")
    p=$(column 1 "$WORK/ppm.txt")
    job=$(wc -c < "$WORK/job")
    gs_bytes=$(wc -c < "$WORK/gs.pdf")
    echo "$PAGES letter pages of $KIND ($format), median of $RUNS runs (load now $(load)):"
    if [ "$gs_time_limit" = - ]; then
        printf '  %-13s %12s   %-18s %12s   ratio %5s\n' "time (s)" "$f" "Ghostscript" "$g" "$(ratio "$f" "$g")"
    else
        report "time (s)" "$f" "Ghostscript" "$g" "$gs_time_limit"
    fi
    report "size (bytes)" "$job" "Ghostscript" "$gs_bytes" "$size_limit"
    report "time (s)" "$f" "pdftoppm to PPM" "$p" "$ppm_limit"
    echo "  processor time $cpu s over $f s: $(ratio "$cpu" "$f") cores busy;" \
        "pdftoppm's $(column 3 "$WORK/ppm.txt") s; the job is $(ratio "$job" "$ppm_bytes")" \
        "of pdftoppm's PPM ($ppm_bytes bytes)"

    if [ "$first" = yes ] && [ "$KIND" = text ]; then
        first=no
        python3 bench/render-text-pdf.py "$WORK/long.pdf" $((PAGES * 3))
        rss=$(cut -d' ' -f2 "$WORK/filter.txt" | sort -n | tail -1)
        long=$(measure_filter ZRPDFRasterizedMode=true "$WORK/long.pdf" | cut -d' ' -f2)
        plain=$(measure_filter ZRTurnPage=true "$WORK/doc.pdf" | cut -d' ' -f2)
        bitmaps=$((2 * 2550 * 3300 * 4 / 1024))
        ok=$(awk -v m="$rss" -v l="$long" -v p="$plain" -v b="$bitmaps" \
            'BEGIN { print (m <= p + b * 1.1 && l <= m * 1.1) ? "PASS" : "FAIL" }')
        [ "$ok" = PASS ] || failed=1
        echo "  peak RSS of a process: $((rss / 1024)) MiB with $PAGES pages," \
            "$((long / 1024)) MiB with $((PAGES * 3)); $((plain / 1024)) MiB without" \
            "rasterising, two page bitmaps $((bitmaps / 1024)) MiB  $ok"
    fi
done
done
left=$(ls -A "$WORK/tmp" | wc -l)
echo "temp files left: $left"
echo "load at end: $(load)"
[ "$failed" -eq 0 ] && [ "$left" -eq 0 ] && echo "PASS" || { echo "FAIL"; exit 1; }
