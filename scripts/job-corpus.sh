#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Runs the filter on every case of a case list the way cupsd does, and keeps
# each job stream with its exit status and messages, so two builds can be
# shown to write the same jobs.
#
#   job-corpus.sh [--cases FILE] --run BIN OUTDIR
#   job-corpus.sh [--cases FILE] --compare BEFORE_BIN AFTER_BIN [KEEPDIR]
#
# --run writes OUTDIR/NAME.job (the job stream) and OUTDIR/NAME.msg (exit
# status, then the ERROR/WARNING/INFO/PAGE/ATTR/STATE lines) for each case.
# Masked, as they change from run to run: "@PJL COMMENT DATE=/TIME=" lines,
# the PDF trailer's /ID (qpdf writes a fresh one) and this run's temporary
# directory in messages.
# --compare runs both binaries and prints one line per differing case; cases
# tagged "#changes" are listed apart and do not fail. Exit 1 on a difference.
#
# Case list (default tests/corpus/cases.txt), one case a line, fields split
# by "|":  name | ppd | copies | options | document | title | user  [#changes]
#   ppd:      sample, sjis, smh, minus90, defaults, stored, none, missing
#   document: sample (3 pages), one, two, six, landscape, empty, notpdf;
#             "pipe:NAME" sends it through a pipe on standard input.
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
self="$root/scripts/$(basename "$0")"
cases="$root/tests/corpus/cases.txt"

usage() {
    echo "usage: $0 [--cases FILE] --run BIN OUTDIR" >&2
    echo "       $0 [--cases FILE] --compare BEFORE_BIN AFTER_BIN [KEEPDIR]" >&2
    exit 2
}

trim() { local s=$1; s=${s#"${s%%[![:space:]]*}"}; s=${s%"${s##*[![:space:]]}"}; printf '%s' "$s"; }

# One case: JC_WORK (inputs), JC_BIN, JC_OUT are in the environment; $1 is
# the case's line in $JC_WORK/cases.
run_one() {
    local n=$1 line name ppd copies opts doc title user tag
    line=$(sed -n "${n}p" "$JC_WORK/cases")
    tag=
    case $line in *[[:space:]]'#changes') tag=changes; line=${line%'#changes'} ;; esac
    IFS='|' read -r name ppd copies opts doc title user <<<"$line"
    name=$(trim "$name"); ppd=$(trim "$ppd"); copies=$(trim "$copies")
    opts=$(trim "$opts"); doc=$(trim "$doc"); title=$(trim "$title"); user=$(trim "$user")

    local tmp="$JC_WORK/tmp/${JC_OUT##*/}-$name" envppd=()
    mkdir -p "$tmp"
    case $ppd in
        none) ;;
        missing) envppd=("PPD=$JC_WORK/in/absent.ppd") ;;
        *) envppd=("PPD=$JC_WORK/in/$ppd.ppd") ;;
    esac
    # cupsd's environment, fixed; CUPS_SERVERROOT is empty so no job-copy
    # marker of the machine's applies (test builds name their own).
    local env=(env -i PATH=/usr/bin:/bin TZ=UTC LANG=C.UTF-8 LC_ALL=C.UTF-8 HOME="$tmp"
               TMPDIR="$tmp" CUPS_SERVERROOT="$JC_WORK/serverroot" CUPS_DATADIR=/usr/share/cups
               CUPS_SERVERBIN=/usr/lib/cups CUPS_CACHEDIR="$tmp" CUPS_STATEDIR="$tmp"
               CUPS_REQUESTROOT="$tmp" "${envppd[@]}")
    local status
    if [[ $doc == pipe:* ]]; then
        # cat, not a redirection: the filter must see a pipe.
        cat "$JC_WORK/in/${doc#pipe:}.pdf" |
            timeout -k 5 60 "${env[@]}" "$JC_BIN" "$n" "$user" "$title" "$copies" "$opts" \
                >"$tmp.out" 2>"$tmp.err"
        status=${PIPESTATUS[1]}
    else
        timeout -k 5 60 "${env[@]}" "$JC_BIN" "$n" "$user" "$title" "$copies" "$opts" \
            "$JC_WORK/in/$doc.pdf" >"$tmp.out" 2>"$tmp.err" </dev/null
        status=$?
    fi
    LC_ALL=C sed -E -e 's/^(@PJL COMMENT (DATE|TIME)=).*/\1(masked)/' \
        -e 's#/ID *\[ *<[0-9A-Fa-f]*> *<[0-9A-Fa-f]*> *\]#/ID [<(masked)><(masked)>]#g' \
        "$tmp.out" >"$JC_OUT/$name.job"
    {
        echo "status $status${tag:+ (#$tag)}"
        LC_ALL=C grep -aE '^(ERROR|WARNING|INFO|PAGE|ATTR|STATE):' "$tmp.err" |
            LC_ALL=C sed -e "s#$JC_WORK/tmp/[^/ ]*#\$TMPDIR#g" -e "s#$JC_WORK/in/#\$INPUT/#g"
    } >"$JC_OUT/$name.msg"
    rm -rf "$tmp" "$tmp.out" "$tmp.err"
}

# The inputs every case may name: PPD variants and documents, all derived
# from the repository's samples the same way each time.
prepare() {
    local in="$JC_WORK/in" ppd="$root/samples/pdftopjl-sample.ppd" pdf="$root/samples/sample.pdf"
    mkdir -p "$in" "$JC_WORK/serverroot" "$JC_WORK/tmp"
    cp "$ppd" "$in/sample.ppd"
    sed '/^\*ZRPrinterLanguageEncoding:/d' "$ppd" >"$in/sjis.ppd"
    # A model whose bypass tray is SMH rather than TRAY5.
    sed 's/^\*ModelName: .*/*ModelName: "Zarelle R612 PDF"/' "$ppd" >"$in/smh.ppd"
    sed 's/^\*LandscapeOrientation: .*/*LandscapeOrientation: Minus90/' "$ppd" >"$in/minus90.ppd"
    sed -e 's/^\*DefaultZRInputSlot: .*/*DefaultZRInputSlot: 2ndTray/' \
        -e 's/^\*DefaultPageSize: .*/*DefaultPageSize: Letter/' \
        -e 's/^\*DefaultDuplex: .*/*DefaultDuplex: DuplexNoTumble/' \
        -e 's/^\*DefaultOutputBin: .*/*DefaultOutputBin: FaceUp/' \
        -e 's/^\*DefaultZRColorMode: .*/*DefaultZRColorMode: Black/' \
        -e 's/^\*DefaultZRTrapping: .*/*DefaultZRTrapping: false/' \
        -e 's/^\*DefaultZRStaple: .*/*DefaultZRStaple: LeftDoublePort/' \
        -e 's/^\*DefaultMediaType: .*/*DefaultMediaType: Thick/' "$ppd" >"$in/defaults.ppd"
    sed -e 's/^\*DefaultZRPrintType: .*/*DefaultZRPrintType: Stored/' \
        -e 's/^\*DefaultZRPasscode: .*/*DefaultZRPasscode: Custom.4321/' \
        -e 's/^\*DefaultZRInputSlot: .*/*DefaultZRInputSlot: 2ndTray/' "$ppd" >"$in/stored.ppd"
    cp "$pdf" "$in/sample.pdf"
    qpdf --deterministic-id --empty --pages "$pdf" 1 -- "$in/one.pdf" &&
        qpdf --deterministic-id --empty --pages "$pdf" 1-2 -- "$in/two.pdf" &&
        qpdf --deterministic-id --empty --pages "$pdf" "$pdf" -- "$in/six.pdf" &&
        qpdf --deterministic-id --rotate=+90 "$pdf" "$in/landscape.pdf" || {
        echo "$0: qpdf could not build the documents" >&2
        exit 2
    }
    : >"$in/empty.pdf"
    echo "This is not a PDF." >"$in/notpdf.pdf"
    # Case lines without comments and blank lines; names must be unique.
    LC_ALL=C grep -vE '^[[:space:]]*(#|$)' "$cases" >"$JC_WORK/cases"
    [ -s "$JC_WORK/cases" ] || { echo "$0: no cases in $cases" >&2; exit 2; }
    local dup
    dup=$(cut -d'|' -f1 "$JC_WORK/cases" | sed 's/[[:space:]]//g' | sort | uniq -d | head -1)
    if [ -n "$dup" ]; then
        echo "$0: case name used twice: $dup" >&2
        exit 2
    fi
}

run_all() {
    JC_BIN=$(realpath "$1")
    JC_OUT=$(realpath -m "$2")
    [ -x "$JC_BIN" ] || { echo "$0: not an executable: $1" >&2; exit 2; }
    mkdir -p "$JC_OUT" && rm -f "$JC_OUT"/*.job "$JC_OUT"/*.msg
    export JC_WORK JC_BIN JC_OUT
    seq 1 "$(wc -l <"$JC_WORK/cases")" | xargs -r -P2 -n1 "$self" --one
}

names() { cut -d'|' -f1 "$JC_WORK/cases" | sed 's/[[:space:]]//g'; }

# The first difference of two files: "line L, byte B" (byte from the start),
# or which one ends first.
first_difference() {
    local out
    out=$(LC_ALL=C cmp -- "$1" "$2" 2>&1) && return 1
    case $out in
        *"EOF on $1"*) echo "before ends first (${out##*EOF on "$1" }), after goes on" ;;
        *"EOF on $2"*) echo "after ends first (${out##*EOF on "$2" }), before goes on" ;;
        *) echo "$out" | sed -E 's/.*differ: (char|byte) ([0-9]+), line ([0-9]+).*/line \3, byte \2/' ;;
    esac
    return 0
}

mode=
[ "${1-}" = --cases ] && { [ $# -ge 2 ] || usage; cases=$(realpath "$2"); shift 2; }
case "${1-}" in
    --one) run_one "$2"; exit 0 ;;
    --run) [ $# -eq 3 ] || usage; mode=run ;;
    --compare) [ $# -eq 3 ] || [ $# -eq 4 ] || usage; mode=compare ;;
    *) usage ;;
esac
[ -r "$cases" ] || { echo "$0: no case list: $cases" >&2; exit 2; }

JC_WORK=$(mktemp -d "${TMPDIR:-/tmp}/job-corpus.XXXXXX")
trap 'rm -rf "$JC_WORK"' EXIT
trap 'exit 130' INT TERM
prepare

if [ $mode = run ]; then
    run_all "$2" "$3"
    echo "$(names | wc -l) cases written to $3"
    exit 0
fi

keep=${4:-$JC_WORK/out}
run_all "$2" "$keep/before"
run_all "$3" "$keep/after"
total=0 failed=0 changed=0 changes_list=
while read -r name; do
    total=$((total + 1))
    diffs=
    if d=$(first_difference "$keep/before/$name.job" "$keep/after/$name.job"); then
        diffs="job stream: $d"
    fi
    if ! cmp -s "$keep/before/$name.msg" "$keep/after/$name.msg"; then
        l=$(diff "$keep/before/$name.msg" "$keep/after/$name.msg" | sed -n '1{s/[acd].*//;s/,.*//;p}')
        diffs="${diffs:+$diffs; }messages line $l: '$(sed -n "${l}p" "$keep/before/$name.msg")' -> '$(sed -n "${l}p" "$keep/after/$name.msg")'"
    fi
    [ -n "$diffs" ] || continue
    if grep -q '(#changes)' "$keep/before/$name.msg"; then
        changed=$((changed + 1))
        changes_list+="  $name: $diffs"$'\n'
    else
        failed=$((failed + 1))
        echo "DIFFERS $name: $diffs"
    fi
done < <(names)
if [ -n "$changes_list" ]; then
    echo "Expected to change (#changes), differing:"
    printf '%s' "$changes_list"
fi
echo "$total cases compared: $failed differ, $changed tagged #changes differ, $((total - failed - changed)) identical"
[ $failed -eq 0 ]
