#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Small jobs, what almost every job is: a 1-page and a 10-page document with
# the sample PPD and typical options, through the filter and through
# cups-filters' pdftopdf with the same document, PPD and options, runs
# interleaved so that load hits both alike.  Target: median ratio at most 1.0.
#   bench/smalljob.sh [build-dir] [runs]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${2:-21}
FILTER=$BUILD/pdftopjl
PDFTOPDF=${PDFTOPDF:-/usr/lib/cups/filter/pdftopdf}
[ -x "$FILTER" ] || { echo "build the filter first ($FILTER)"; exit 2; }
[ -x "$PDFTOPDF" ] || { echo "needs cups-filters' pdftopdf ($PDFTOPDF)"; exit 2; }

WORK=$(mktemp -d "${BENCH_TMP:-/tmp}/pdftopjl-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir "$WORK/tmp"
PPD=samples/pdftopjl-sample.ppd
# What lp sends for a stapled, two-sided A4 job on tray 1.
OPTIONS="ZRInputSlot=1stTray media=A4 ZRStaple=UpperLeftSinglePort collate=true sides=two-sided-long-edge number-up=1 finishings=3 print-color-mode=color job-uuid=urn:uuid:1 job-originating-host-name=localhost"

# Microseconds and peak KiB of one run, its output discarded.
measure() {
    python3 -c '
import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print("%d %d" % ((time.monotonic() - start) * 1e6, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))
' "$@"
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

status=0
for pages in 1 10; do
    python3 bench/render-text-pdf.py "$WORK/doc$pages.pdf" "$pages" 595 842
    : > "$WORK/f.txt"
    : > "$WORK/p.txt"
    i=0
    while [ $i -lt "$RUNS" ]; do
        measure env TMPDIR="$WORK/tmp" PPD="$PPD" "$FILTER" 1 user title 2 "$OPTIONS" \
            "$WORK/doc$pages.pdf" >> "$WORK/f.txt"
        measure env TMPDIR="$WORK/tmp" PPD="$PPD" "$PDFTOPDF" 1 user title 2 "$OPTIONS" \
            "$WORK/doc$pages.pdf" >> "$WORK/p.txt"
        i=$((i + 1))
    done
    f=$(cut -d' ' -f1 "$WORK/f.txt" | median)
    p=$(cut -d' ' -f1 "$WORK/p.txt" | median)
    rss=$(cut -d' ' -f2 "$WORK/f.txt" | sort -n | tail -1)
    prss=$(cut -d' ' -f2 "$WORK/p.txt" | sort -n | tail -1)
    ratio=$(awk -v f="$f" -v p="$p" 'BEGIN { printf "%.2f", f / p }')
    echo "$pages page(s): filter median $((f / 1000)).$(( (f % 1000) / 100 )) ms, pdftopdf $((p / 1000)).$(( (p % 1000) / 100 )) ms, ratio $ratio (target <= 1.0); peak RSS filter $((rss / 1024)) MiB, pdftopdf $((prss / 1024)) MiB"
    awk -v r="$ratio" 'BEGIN { exit !(r <= 1.0) }' || status=1
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
[ $status -eq 0 ] && echo "PASS" || echo "FAIL"
exit $status
