#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Writes the seed corpora in fuzz/corpus/: header inputs (option string,
# title, PPD, user, copies, host name, host address, split on NUL), text
# conversion inputs (buffer size byte, then text) and job streams from the
# built filter.
#   fuzz/make-corpus.sh [build-dir]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
FILTER=$BUILD/pdftopjl
[ -x "$FILTER" ] || { echo "build the filter first ($FILTER)"; exit 2; }
C=fuzz/corpus
mkdir -p "$C/header" "$C/utf8" "$C/jobstream"
T=com.quorvelin.qbd.printsettings.

# Header: a stored job with every owner field on the sample (UTF-8) printer.
printf '%s\0%s\0%s\0%s\0%s\0%s\0%s' \
    "${T}PrintTypeTicketKey=2 ${T}PrintTypeUserNameTicketKey=alice ${T}PrintTypePasswordTicketKey=1234 ${T}DocumentNameTypeTicketKey=1 ${T}KVRManageTypeListTicketKey=1 ${T}KVRUserIDListCtrlTicket=2 ${T}KVRAdminUserIDTextEditTicket=admin ${T}KVRAdminUserPasswordTextEditTicket=/49/50/51 ${T}KVRAdminUserInputRadioBtnTicket=1 ${T}KVRInputUserIDTextEditTicket=bob ${T}KVRInputUserPasswordTextEditTicket=pw ${T}KVRHkgnPrintDateTicketKey=2024/01/02 ${T}KVRHostNameStringTicket=studio Collate=true ZROutputMode=HighQuality ZRColorMode=Black ZRInputSlot=BypassTray ZRMSILeadingEdge=LongEdge media=A3 ZRStaple=LeftDoublePort ZRPunch=true orientation-requested=4 number-up=4 com.apple.print.PrintSettings.PMDuplexing..n.=3" \
    "Quarterly report ✓" "$(cat samples/pdftopjl-sample.ppd)" alice 2 mac-mini 192.168.1.20 \
    > "$C/header/stored-utf8"
# A proof job for a Shift-JIS printer, whose PPD gives a model and a duplex default.
printf '%s\0%s\0%s\0%s\0%s\0%s\0%s' \
    "${T}PrintTypeTicketKey=3 ${T}DocumentNameTypeTicketKey=2 ${T}DocumentNameTicketKey=見積書 ${T}KVRManageTypeListTicketKey=2 ${T}KVRUserIDListCtrlTicket=1 ${T}KVRLoginTextEditTicket=yamada ${T}KVRUserPasswordTextEditTicket=secret ${T}KVRMacHostNameStringTicket=山田のMac ${T}KVRIPAddressStringTicket=IC0A80001 ${T}PrintTypeProductTypeTicketKey=1 com.apple.print.PrintSettings.PMLayoutRows..n.=2 com.apple.print.PrintSettings.PMLayoutColumns..n.=3 ZRInputSlot=2ndTray media=B5 MediaType=Default" \
    "請求書 2024年度 第3四半期 売上報告書 (最終版)" \
    "$(printf '%s\n' '*ModelName: "Zarelle DR530"' '*ZRPrinterLanguageEncoding: "SJIS"' \
        '*OpenUI *Duplex: PickOne' '*DefaultDuplex: DuplexTumble' '*Duplex None: ""' \
        '*Duplex DuplexTumble: ""' '*CloseUI: *Duplex' '*OpenUI *ZRStaple: PickOne' \
        '*DefaultZRStaple: None' '*ZRStaple None: ""' '*CloseUI: *ZRStaple')" \
    山田 1 "" 10.0.0.7 > "$C/header/proof-sjis"
# Finishing on a Latin-1 printer, orientation from the page format.
printf '%s\0%s\0%s' \
    "ZRStaple=UpperLeftSinglePort ZRPunch=True Collate=false ZROutputMode=HighSpeed sides=two-sided-short-edge com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat.PMOrientation..n.=2 com.apple.print.PrintSettings.PMOrientation..n.=2" \
    "Report" '*ZRPrinterLanguageEncoding: "ISOLatin1"' > "$C/header/finishing-latin1"
# A passcode the line cannot carry: the job is refused.
printf '%s' "${T}PrintTypeTicketKey=2 ${T}PrintTypePasswordTicketKey=/97/34/98" > "$C/header/refused"
: > "$C/header/empty"

# Text conversions: buffer size byte, then the text.
printf '\100Hello, world \\ ~' > "$C/utf8/ascii"
printf '\377請求書 2024年度 ①' > "$C/utf8/japanese"
printf '\005日本語' > "$C/utf8/cut"
printf '\040emoji 😀 ok' > "$C/utf8/surrogates"
printf '\040\300\257 overlong' > "$C/utf8/invalid"
printf '\000abc' > "$C/utf8/no-buffer"

# Job streams: the sample document through the filter on a UTF-8 and a
# Shift-JIS printer, and one cut short.
printf '%s\n' '*PPD-Adobe: "4.3"' '*ModelName: "Zarelle DR530"' > "$C/sjis.ppd"
PPD=samples/pdftopjl-sample.ppd "$FILTER" 1 alice "Quarterly report" 2 \
    "${T}PrintTypeTicketKey=2 ${T}PrintTypePasswordTicketKey=1234 ${T}KVRHostNameStringTicket=studio ${T}KVRIPAddressStringTicket=IC0A80001 Collate=true" \
    samples/sample.pdf > "$C/jobstream/utf8" 2>/dev/null
PPD=$C/sjis.ppd "$FILTER" 1 yamada "請求書" 1 "${T}DocumentNameTypeTicketKey=1 ${T}KVRHostNameStringTicket=studio ${T}KVRIPAddressStringTicket=IC0A80001" \
    samples/sample.pdf > "$C/jobstream/sjis" 2>/dev/null
rm "$C/sjis.ppd"
head -c 600 "$C/jobstream/utf8" > "$C/jobstream/cut-short"
