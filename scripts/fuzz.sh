#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and UndefinedBehaviorSanitizer, over
# the simulated Win32 layer) in build/fuzz and runs each for a bounded time on a copy of its seed corpus
# from fuzz/corpus. What the fuzzer adds to the corpus, its logs and the inputs that failed stay in
# build/fuzz/runs. A crash, sanitizer report, leak or broken expectation fails the target, and the input
# that caused it is named for reproducing.
# Needs clang and its libFuzzer runtime (Debian: clang, libclang-rt-14-dev); installs nothing.
# VRACOINS_BUILD_DIR moves the build away from build/.
#
# Usage: scripts/fuzz.sh [seconds per target, default 20]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds_dir="${VRACOINS_BUILD_DIR:-$root/build}"
build="$builds_dir/fuzz"
jobs="${VRACOINS_JOBS:-2}"
seconds="${1:-20}"

if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [seconds per target, default 20]" >&2
    exit 2
fi
for tool in clang clang++; do
    if ! command -v "$tool" >/dev/null; then
        echo "fuzz: $tool not found; install clang and libclang-rt-14-dev" >&2
        exit 2
    fi
done

echo "fuzz: building in $build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DVRACOINS_FUZZ=ON >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz_targets

targets=()
for seeds in "$root"/fuzz/corpus/*/; do
    targets+=("$(basename "$seeds")")
done

passed=0
failed=0
for target in "${targets[@]}"; do
    fuzzer="$build/fuzz/${target}_fuzzer"
    corpus="$build/runs/corpus/$target"
    artifacts="$build/runs/artifacts/$target"
    log="$build/runs/logs/$target.log"
    rm -rf "$corpus" "$artifacts"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    cp "$root/fuzz/corpus/$target"/* "$corpus"/

    status=0
    "$fuzzer" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || status=$?

    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
    coverage="$(grep -oE '(DONE|INITED) +cov: [0-9]+' "$log" | tail -n 1 | grep -oE '[0-9]+$' || true)"
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        echo "fuzz: $target passed: ${runs:-?} runs, ${rate:-?} exec/s, ${coverage:-?} edges covered"
    else
        failed=$((failed + 1))
        reproducer="$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)"
        echo "fuzz: $target FAILED (exit $status); log $log"
        grep -E 'ERROR: |runtime error|fuzz expectation broken|SUMMARY' "$log" | head -n 5 | sed 's/^/    /' || true
        echo "    reproducer: ${reproducer:-none written}"
        [ -n "$reproducer" ] && echo "    reproduce: $fuzzer $reproducer"
    fi
done

echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
