#!/usr/bin/env bash
# Shows that the module leaks nothing of its own at unload with tracking off: a whole installation (pre
# and post pass, USB printer, queue rename) by the module loaded with dlopen and unloaded with dlclose,
# under valgrind's leak check, with the tracker's key missing and with "TrackMemoryAllocation" 0. A
# control run of the module's test build, which leaks one block on purpose, must be reported as a leak.
# Builds tests/leak_check in the host build (build/host; VRACOINS_BUILD_DIR moves it). Ends with
# "leak-check: N passed, N failed".
#
# Usage: scripts/leak-check.sh
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds_dir="${VRACOINS_BUILD_DIR:-$root/build}"
jobs="${VRACOINS_JOBS:-2}"
build="$builds_dir/host"

"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$jobs" --target unload_leak_check

logs="$(mktemp -d "${TMPDIR:-/tmp}/vracoins-leak-check.XXXXXX")"
trap 'rm -rf "$logs"' EXIT
leak_exit=99
valgrind_options=(
    --leak-check=full --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect
    --error-exitcode="$leak_exit" --keep-debuginfo=yes --num-callers=30
)

passed=0
failed=0
report() {
    local verdict="$1" scenario="$2" log="$3"
    if [ "$verdict" = passed ]; then
        passed=$((passed + 1))
        echo "leak-check: $scenario: passed"
    else
        failed=$((failed + 1))
        echo "leak-check: $scenario: FAILED"
        cat "$log"
    fi
}

# The module's own installation: valgrind must find no error and nothing definitely or indirectly lost.
for scenario in installation-without-switches installation-switched-off; do
    log="$logs/$scenario.log"
    status=0
    valgrind "${valgrind_options[@]}" --log-file="$log" "$build/tests/leak_check/unload_leak_check" \
        "$scenario" || status=$?
    grep -E 'definitely lost|indirectly lost|ERROR SUMMARY' "$log" | sed "s/^==[0-9]*==/  $scenario:/" || true
    report "$([ "$status" -eq 0 ] && echo passed || echo failed)" "$scenario" "$log"
done

# The control: the leak checker must see the block that the test build leaks, allocated in the module.
log="$logs/leaking-build.log"
status=0
valgrind "${valgrind_options[@]}" --log-file="$log" "$build/tests/leak_check/unload_leak_check" leaking-build ||
    status=$?
if [ "$status" -eq "$leak_exit" ] && grep -q 'definitely lost in' "$log" && grep -q 'vracoinsTestHook_leak' "$log"; then
    report passed "leaking-build (control: the leak is seen)" "$log"
else
    report failed "leaking-build (control: the leak is seen)" "$log"
fi

echo "leak-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
