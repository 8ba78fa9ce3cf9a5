#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Installs dependencies, builds, and runs the whole test suite twice: once in
# a plain build and once with AddressSanitizer and UndefinedBehaviorSanitizer.
# Any sanitizer report fails the run.  Then each fuzz target runs a short,
# fixed number of inputs from its seeds (clang builds them).
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh

run_suite() {
    dir=$1
    shift
    # Test builds keep the job-copy marker inside the build tree.
    cmake -S . -B "$dir" -DPDFTOPJL_TESTS=ON \
        -DPDFTOPJL_JOBCOPY_MARKER="$ROOT/$dir/jobcopy-marker/jobcopy" "$@"
    cmake --build "$dir" -j "$JOBS"
    (cd "$dir" && ctest -j "$JOBS" --output-on-failure --timeout 900)
}

echo "== plain build =="
run_suite build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== sanitizer build =="
REPORTS="$ROOT/build-asan/sanitizer-reports"
rm -rf "$REPORTS"
mkdir -p "$REPORTS"
# Filters run by the private cupsd in the tests run as lp and report here too.
chmod 1777 "$REPORTS"
ASAN_OPTIONS="log_path=$REPORTS/asan:detect_leaks=1:abort_on_error=0:exitcode=86"
UBSAN_OPTIONS="log_path=$REPORTS/ubsan:print_stacktrace=1:halt_on_error=1:exitcode=87"
LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
status=0
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DPDFTOPJL_SANITIZE=ON || status=$?
if [ -n "$(ls -A "$REPORTS")" ]; then
    echo "Sanitizer reports:"
    cat "$REPORTS"/*
    exit 1
fi

echo "== fuzz targets =="
if command -v clang++ >/dev/null 2>&1; then
    (
        unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
        CC=clang CXX=clang++ cmake -S . -B build-fuzz -DPDFTOPJL_FUZZ=ON \
            -DPDFTOPJL_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
        cmake --build build-fuzz -j "$JOBS"
        cd build-fuzz && ctest -j "$JOBS" --output-on-failure --timeout 300
    ) || status=$?
else
    echo "clang++ is not installed: fuzz targets skipped"
fi
exit $status
