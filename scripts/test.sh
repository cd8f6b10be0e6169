#!/usr/bin/env bash
# Runs every test of the project, installing what is missing first (Debian):
#   0. who includes whom: product code, the simulation and the platform header keep to their layers;
#   1. the host build and its unit tests (ctest), over the simulated Win32 layer, the behaviour checks
#      among them; then the module's leak check under valgrind;
#   2. the same tests with AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the concurrency checks under ThreadSanitizer;
#   4. each fuzz target for a bounded time under AddressSanitizer (VRACOINS_FUZZ_SECONDS, default 20);
#   5. the Windows cross build (clang and lld, PDBs): the checks of vracoins.dll, then its tests under Wine
#      (ctest, which test-signs the DLL they load first).
# Every phase runs even when an earlier one failed; the exit code is non-zero if any failed.
# Builds go to build/ (VRACOINS_BUILD_DIR to move them).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds_dir="${VRACOINS_BUILD_DIR:-$root/build}"
logs="$(mktemp -d "${TMPDIR:-/tmp}/vracoins-test.XXXXXX")"
trap 'rm -rf "$logs"' EXIT

"$root/scripts/install-deps.sh"

results=()
total_passed=0
total_failed=0

# Runs one phase, showing its output and keeping it for the counts.
phase() {
    local name="$1"
    shift
    echo
    echo "==== $name"
    local status=0
    "$@" 2>&1 | tee "$logs/phase.log" || status=$?
    results+=("$(printf '%-28s %s' "$name" "$([ "$status" -eq 0 ] && echo passed || echo "FAILED (exit $status)")")")
    return "$status"
}

# Adds the counts of a runner's closing line to the totals; a phase that ended before its runner
# reported counts as one failure.
count_ctest() {
    local line
    line="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/phase.log" | tail -n 1 || true)"
    if [[ "$line" =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        total_passed=$((total_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
        total_failed=$((total_failed + BASH_REMATCH[1]))
    else
        total_failed=$((total_failed + 1))
    fi
}
count_plain() {
    local line
    line="$(grep -E '^[A-Za-z0-9_-]+: [0-9]+ passed, [0-9]+ failed' "$logs/phase.log" | tail -n 1 || true)"
    if [[ "$line" =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
        total_passed=$((total_passed + BASH_REMATCH[1]))
        total_failed=$((total_failed + BASH_REMATCH[2]))
    else
        total_failed=$((total_failed + 1))
    fi
}

host_tests() {
    "$root/scripts/build.sh" "$1" && ctest --test-dir "$builds_dir/$2" --output-on-failure --no-tests=error
}
# The tracker relies on malloc answering an impossible size with null, and its page-guard tests expect a
# process to die of the access fault itself rather than of the sanitizer's report of it.
sanitized_host_tests() {
    ASAN_OPTIONS="allocator_may_return_null=1:handle_segv=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
        UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}" host_tests "$@"
}

phase "layers" "$root/scripts/check-layers.sh" || true
count_plain
phase "host unit tests" host_tests host host || true
count_ctest
phase "leak check at unload" "$root/scripts/leak-check.sh" || true
count_plain
phase "sanitized host unit tests" sanitized_host_tests sanitize host-sanitize || true
count_ctest
phase "ThreadSanitizer" "$root/scripts/stress-tsan.sh" || true
count_plain
phase "fuzzing" "$root/scripts/fuzz.sh" "${VRACOINS_FUZZ_SECONDS:-20}" || true
count_plain
if phase "Windows build" "$root/scripts/build.sh" windows; then
    phase "vracoins.dll checks" "$root/scripts/check-dll.sh" "$builds_dir/windows/module/vracoins.dll" || true
    count_plain
    phase "Wine tests" "$root/scripts/run-wine-tests.sh" "$builds_dir/windows" || true
    count_ctest
else
    total_failed=$((total_failed + 1))
fi

echo
echo "==== summary"
failed_phases=0
for result in "${results[@]}"; do
    echo "  $result"
    [[ "$result" == *FAILED* ]] && failed_phases=$((failed_phases + 1))
done
echo "all: $total_passed passed, $total_failed failed"
[ "$failed_phases" -eq 0 ] && [ "$total_failed" -eq 0 ]
