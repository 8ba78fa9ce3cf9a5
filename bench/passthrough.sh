#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Body copy speed and memory: a 512 MiB document through the filter (no
# re-rendering, no job copy), sent from where it lies, against one read of it
# (`cat doc >/dev/null`), both into /dev/null; beside them the same two into a
# pipe that a reader drains (as a backend does), and the two-copy floor (cp,
# then cat).  Target: median time ratio to the one read at most 1.3, peak RSS
# under 16 MiB.
#   bench/passthrough.sh [build-dir] [MiB] [runs]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
MIB=${2:-512}
RUNS=${3:-9}
FILTER=$BUILD/pdftopjl
[ -x "$FILTER" ] || { echo "build the filter first ($FILTER)"; exit 2; }

WORK=$(mktemp -d "${BENCH_TMP:-/tmp}/pdftopjl-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir "$WORK/tmp"
bench/make-big-pdf.sh "$WORK/doc.pdf" "$MIB"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# "seconds peak-KiB" of a command, its output discarded.
seconds() {
    python3 -c '
import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print("%.4f %d" % (time.monotonic() - start, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))
' "$@"
}

: > "$WORK/filter.txt"
: > "$WORK/base.txt"
: > "$WORK/floor.txt"
: > "$WORK/pipe.txt"
: > "$WORK/catpipe.txt"
i=0
while [ $i -lt "$RUNS" ]; do
    TMPDIR="$WORK/tmp" PPD= seconds "$FILTER" 1 user title 1 "" "$WORK/doc.pdf" >> "$WORK/filter.txt"
    seconds cat "$WORK/doc.pdf" >> "$WORK/base.txt"
    seconds sh -c "TMPDIR='$WORK/tmp' PPD= '$FILTER' 1 user title 1 '' '$WORK/doc.pdf' | cat >/dev/null" \
        >> "$WORK/pipe.txt"
    seconds sh -c "cat '$WORK/doc.pdf' | cat >/dev/null" >> "$WORK/catpipe.txt"
    seconds sh -c "cp '$WORK/doc.pdf' '$WORK/tmp/x' && cat '$WORK/tmp/x' >/dev/null" >> "$WORK/floor.txt"
    rm -f "$WORK/tmp/x"
    i=$((i + 1))
done

f=$(cut -d' ' -f1 "$WORK/filter.txt" | median)
b=$(cut -d' ' -f1 "$WORK/base.txt" | median)
two=$(cut -d' ' -f1 "$WORK/floor.txt" | median)
pipe=$(cut -d' ' -f1 "$WORK/pipe.txt" | median)
catpipe=$(cut -d' ' -f1 "$WORK/catpipe.txt" | median)
rss=$(cut -d' ' -f2 "$WORK/filter.txt" | sort -n | tail -1)
left=$(ls -A "$WORK/tmp" | wc -l)
ratio=$(awk -v f="$f" -v b="$b" 'BEGIN { if (b > 0) printf "%.2f", f / b; else print "inf" }')
echo "document:      $MIB MiB"
echo "filter median: ${f} s"
echo "cat median:    ${b} s"
echo "ratio:         $ratio (target <= 1.3)"
div() { awk -v f="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", f / b; else print "inf" }'; }
echo "into a pipe:   filter ${pipe} s, cat ${catpipe} s (ratio $(div "$pipe" "$catpipe"))"
echo "cp+cat median: ${two} s (filter into a pipe: ratio $(div "$pipe" "$two"))"
echo "peak RSS:      $((rss / 1024)) MiB (${rss} KiB, target < 16 MiB)"
echo "temp files left: $left"
ok=$(awk -v r="$ratio" -v m="$rss" 'BEGIN { print (r <= 1.3 && m < 16384) ? "yes" : "no" }')
[ "$ok" = yes ] && [ "$left" -eq 0 ] && echo "PASS" || { echo "FAIL"; exit 1; }
