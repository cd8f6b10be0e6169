#!/usr/bin/env bash
# Runs the Windows build's tests under Wine: ctest in the Windows build directory, which runs each
# GoogleTest test of the Windows test programs through scripts/wine-emulator.sh, in a Wine prefix made
# for this run (see cmake/windows_tests.cmake). Further arguments go to ctest (-R name for one test).
# After ctest's report, the reason of each skipped test and the Windows behaviours that Wine was seen to
# lack (expectations that count as met on Wine), from the tests' output in ctest's log.
#
# Usage: scripts/run-wine-tests.sh [windows build directory, default build/windows] [ctest arguments]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-${VRACOINS_BUILD_DIR:-$root/build}/windows}"
shift || true

if [ ! -f "$build/CTestTestfile.cmake" ]; then
    echo "wine: no tests in $build; build the Windows build first (scripts/build.sh windows)"
    exit 1
fi
status=0
ctest --test-dir "$build" --output-on-failure --no-tests=error "$@" || status=$?

log="$build/Testing/Temporary/LastTest.log"
if [ -f "$log" ]; then
    awk '/^\[ RUN      \] / { test = $4 }
         /^\[  WINE    \] / { print "wine: " test ": Wine lacks (not a failure): " substr($0, 14) }
         /: Skipped$/ { reason = ""; skipping = 1; next }
         /^Google Test trace:/ && skipping { trace = 1; next }
         /^\[  SKIPPED \] / { if (skipping) print "wine: " test " skipped: " reason; skipping = trace = 0; next }
         skipping && trace { sub(/^[^ ]*: /, ""); reason = reason " (in: " $0 ")"; next }
         skipping { reason = reason (reason == "" ? "" : " ") $0 }' "$log"
fi
exit "$status"
