#!/usr/bin/env bash
# Builds the host tests with ThreadSanitizer (build/host-tsan, VRACOINS_BUILD_DIR to move it) and runs the
# concurrency checks under it: the behaviour checks whose names begin with "Concurrent" (threads
# allocating and releasing through the module's operators in every tracking mode, and the co-installer
# entry's passes on several threads against one registry), and the simulation's own thread and lock
# checks. The first data race that ThreadSanitizer reports ends the run as a failure.
#
# Ends with the line "tsan: N passed, N failed" (gtest tests); the exit code is non-zero on any failure.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds_dir="${VRACOINS_BUILD_DIR:-$root/build}"
jobs="${VRACOINS_JOBS:-2}"
build="$builds_dir/host-tsan"

echo "tsan: building in $build"
cmake -S "$root" -B "$build" -G Ninja -DVRACOINS_SANITIZE_THREAD=ON >/dev/null
cmake --build "$build" -j "$jobs" --target behaviour_tests winsim_tests

# halt_on_error: a race is a failure, not a warning to scroll past. No race is suppressed.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1${TSAN_OPTIONS:+ $TSAN_OPTIONS}"

passed=0
failed=0
log="$(mktemp "${TMPDIR:-/tmp}/vracoins-tsan.XXXXXX")"
trap 'rm -f "$log"' EXIT

# Runs one gtest program with a filter and adds its counts; a run that ended before gtest's summary (the
# sanitizer stops the process at the first race) counts as one failure more.
run() {
    local program="$1" filter="$2" status=0
    echo
    echo "tsan: $(basename "$program") --gtest_filter=$filter"
    "$program" --gtest_filter="$filter" 2>&1 | tee "$log" || status=$?
    local ran ok bad
    ran="$(grep -oE '^\[==========\] [0-9]+ tests? from .* ran' "$log" | grep -oE '[0-9]+' | head -n 1 || true)"
    ok="$(grep -oE '^\[  PASSED  \] [0-9]+' "$log" | grep -oE '[0-9]+' || true)"
    bad="$(grep -oE '^ ?[0-9]+ FAILED TESTS?' "$log" | grep -oE '[0-9]+' || true)"
    ok="${ok:-0}"
    bad="${bad:-0}"
    if [ -z "$ran" ] || { [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; }; then
        echo "tsan: $(basename "$program") ended with status $status before its summary"
        bad=$((bad + 1))
    fi
    passed=$((passed + ok))
    failed=$((failed + bad))
}

run "$build/tests/behaviour/behaviour_tests" 'BehaviourCheck.Concurrent*'
run "$build/winsim/tests/winsim_tests" '*Thread*:*CriticalSection*:*Waiting*-*EndTheProcess*:*EndsTheProcess*'

echo
echo "tsan: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
