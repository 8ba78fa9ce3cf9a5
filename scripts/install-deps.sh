#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Installs what pdftopjl needs to build, test and benchmark, from Debian's
# archive.  Safe to run again: only missing packages are installed.
set -eu

PACKAGES="g++ cmake make pkg-config
libcups2-dev libavahi-client-dev libqpdf-dev libgnutls28-dev libjpeg-dev libpoppler-cpp-dev zlib1g-dev libdeflate-dev libgtest-dev libgmock-dev
qpdf poppler-utils ghostscript cups-filters cups cups-client time python3 strace man-db groff-base
clang libclang-rt-14-dev
libpappl-dev cups-ipp-utils libjpeg-turbo-progs"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
