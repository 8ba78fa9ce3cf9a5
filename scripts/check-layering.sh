#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Fails when a source file includes a header from a layer above its own.  The
# layers, lowest first; folders on one line sit side by side and may not
# include each other.
set -eu
SRC=${1:-"$(dirname "$0")/../src"}
LAYERS="job
encoding
ticket
models
host
pjl pages
core
cups
tools"

rank() {
    echo "$LAYERS" | awk -v f="$1" '{ for (i = 1; i <= NF; i++) if ($i == f) print NR }'
}

status=0
cd "$SRC"
for file in $(find . -name '*.cpp' -o -name '*.hpp' | sed 's|^\./||' | sort); do
    own=${file%%/*}
    [ "$own" = "$file" ] && continue  # the entry point at the top of src/
    own_rank=$(rank "$own")
    if [ -z "$own_rank" ]; then
        echo "$file: folder '$own' has no place in the layering"
        status=1
        continue
    fi
    for used in $(sed -n 's|^#include "\([a-z_]*\)/.*"|\1|p' "$file" | sort -u); do
        [ "$used" = "$own" ] && continue
        used_rank=$(rank "$used")
        if [ -z "$used_rank" ] || [ "$used_rank" -ge "$own_rank" ]; then
            echo "$file includes $used/: only layers below $own may be included"
            status=1
        fi
    done
done
[ $status -eq 0 ] && echo "layering: every include points down"
exit $status
