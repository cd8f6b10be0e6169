#!/usr/bin/env bash
# The emulator through which CTest runs the Windows build's test programs under Wine
# (CMAKE_CROSSCOMPILING_EMULATOR, see cmake/windows_tests.cmake), and the making and removing of the Wine
# prefix they share, which lies in DIRECTORY/prefix:
#
#   wine-emulator.sh make DIRECTORY                  a fresh prefix, at the start of each ctest run
#   wine-emulator.sh remove DIRECTORY                the prefix gone, at its end
#   wine-emulator.sh run DIRECTORY PROGRAM [ARG...]  PROGRAM under Wine in the prefix
#
# CTest lists a program's tests (--gtest_list_tests) when it loads them, before the run's first test; a
# prefix that this makes is marked untouched until a test runs in it, and `make` keeps such a prefix
# instead of making another one. `make` leaves the prefix's server running until `remove`, so that each
# test does not wait for Wine's start-up.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ $# -lt 2 ]; then
    echo "usage: wine-emulator.sh make|remove DIRECTORY, or wine-emulator.sh run DIRECTORY PROGRAM [ARG...]" >&2
    exit 2
fi
action="$1"
directory="$(realpath -m "$2")"
shift 2

# shellcheck source=scripts/wine-prefix.sh
source "$root/scripts/wine-prefix.sh"
export WINEPREFIX="$directory/prefix"
untouched="$directory/untouched"

make_prefix() {
    wine_prefix_remove
    mkdir -p "$directory"
    wine_prefix_boot
}

case "$action" in
make)
    if [ ! -f "$untouched" ] || [ ! -d "$WINEPREFIX" ]; then
        make_prefix
    fi
    # The server that listing the tests may have left running is replaced by a persistent one.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1
    ;;
remove)
    wine_prefix_remove
    ;;
run)
    if [ $# -lt 1 ]; then
        echo "wine-emulator.sh: run needs a program" >&2
        exit 2
    fi
    if [ ! -d "$WINEPREFIX" ]; then
        make_prefix
        touch "$untouched"
    fi
    if [[ " $* " != *" --gtest_list_tests "* ]]; then
        rm -f "$untouched"
    fi
    # Wine's own processes, which outlive the program, inherit its standard error: a file, so that CTest,
    # which reads the test's output to its end, does not wait for them.
    errors="$(mktemp "$directory/stderr.XXXXXX")"
    output="$(mktemp "$directory/stdout.XXXXXX")"
    trap 'rm -f "$errors" "$output"' EXIT
    for attempt in 1 2; do
        status=0
        wine "$@" </dev/null >"$output" 2>"$errors" || status=$?
        # A program that failed without printing a byte never ran (Wine failed to start it, seen once in
        # many runs); it gets one more start. A test that ran and failed has printed its report.
        if [ "$status" -eq 0 ] || [ -s "$output" ] || [ "$attempt" -eq 2 ]; then
            break
        fi
        echo "wine-emulator: $1 ended with status $status before printing anything; starting it again" >&2
    done
    # Windows programs end their lines with CR LF.
    tr -d '\r' <"$output"
    tr -d '\r' <"$errors" >&2
    exit "$status"
    ;;
*)
    echo "wine-emulator.sh: unknown action '$action' (make, remove or run)" >&2
    exit 2
    ;;
esac
