#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# make-big-pdf.sh OUT MIB: a valid one-page PDF padded to about MIB MiB by an
# unused stream of random bytes, so that PDF libraries open it without
# scanning it.
set -eu
OUT=$1
MIB=$2
{
    printf '%%PDF-1.4\n'
} > "$OUT"
off1=$(wc -c < "$OUT"); printf '1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n' >> "$OUT"
off2=$(wc -c < "$OUT"); printf '2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n' >> "$OUT"
off3=$(wc -c < "$OUT"); printf '3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>\nendobj\n' >> "$OUT"
off4=$(wc -c < "$OUT"); printf '4 0 obj\n<< /Length 27 >>\nstream\n0 0 1 rg 72 72 100 100 re f\nendstream\nendobj\n' >> "$OUT"
len=$((MIB * 1024 * 1024))
off5=$(wc -c < "$OUT"); printf '5 0 obj\n<< /Length %d >>\nstream\n' "$len" >> "$OUT"
head -c "$len" /dev/urandom >> "$OUT"
printf '\nendstream\nendobj\n' >> "$OUT"
xref=$(wc -c < "$OUT")
{
    printf 'xref\n0 6\n0000000000 65535 f \n'
    for o in $off1 $off2 $off3 $off4 $off5; do printf '%010d 00000 n \n' "$o"; done
    printf 'trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' "$xref"
} >> "$OUT"
