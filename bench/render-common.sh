# SPDX-License-Identifier: Apache-2.0
# Shared by the re-rendering benchmarks (sourced): work directory, a minimal
# PPD, the median and the timing helpers.
[ -x "$FILTER" ] || { echo "build the filter first ($FILTER)"; exit 2; }

WORK=$(mktemp -d "${BENCH_TMP:-/tmp}/pdftopjl-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir "$WORK/tmp"
cat > "$WORK/printer.ppd" <<'PPD'
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "BENCH.PPD"
*Manufacturer: "Bench"
*Product: "(Bench)"
*PSVersion: "(3010.000) 0"
*ShortNickName: "Bench"
*NickName: "Bench"
PPD

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# Prints "seconds peak-KiB processor-seconds" of a command, its output
# discarded; finer than /usr/bin/time's hundredths, which the vector figures
# need.  The peak is that of its largest process, the processor time that of
# all of them (user and system).
measure() {
    python3 -c '
import resource, subprocess, sys, time
# What the interpreter start already waited for (a version manager shim
# runs programs of its own) is not the command.
before = resource.getrusage(resource.RUSAGE_CHILDREN)
start = time.monotonic()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
elapsed = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = usage.ru_utime + usage.ru_stime - before.ru_utime - before.ru_stime
print("%.4f %d %.4f" % (elapsed, usage.ru_maxrss, cpu))
' "$@"
}
# The filter on DOC with OPTIONS, as CUPS would run it.
filter() { env TMPDIR="$WORK/tmp" PPD="$WORK/printer.ppd" "$FILTER" 1 user title 1 "$1" "$2"; }
# The same under measure (a function cannot be timed by /usr/bin/time); its
# environment set here, since a run of env would add a program's start to
# every figure, as much as the whole of a small job's rewrite.
measure_filter() {
    (export TMPDIR="$WORK/tmp" PPD="$WORK/printer.ppd"; measure "$FILTER" 1 user title 1 "$1" "$2")
}
ratio() { awk -v f="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", f / b; else print "inf" }'; }
