#!/usr/bin/env bash
# Builds the module's benchmarks and runs them all in one run, the host's then Wine's, and prints the
# machine, then tables of ratios (medians over the rounds, with their spread) and of memory per block.
#
# On the host (Release, -O2, in build/bench; the module over the simulation): the instructions of one
# allocate/release pair under callgrind, through the pass-through hooks and through hookless operators;
# the pass-through hooks against malloc/free called directly, each tracking mode against the pass-through
# hooks, modes 1 and 3 with call stacks of 8 and 32 frames against the same mode without, the page-guarded
# mode against Electric Fence on the same workload, the post pass's rename against
# the number of existing copies, and the memory a block costs in each mode.
# Under Wine (the Windows build, Release, -O2, in build/bench-windows; vracoins_wine_bench.exe in a Wine
# prefix made for the run): the pass-through hooks against the MinGW run-time's malloc/free, each tracking
# mode against the pass-through hooks, modes 1 and 3 with call stacks against the same mode without, mode 2
# against mode 3, and the whole sample installation in each
# mode against tracking off.
# Not part of scripts/test.sh: timings say nothing reliable on a loaded machine, and take a while.
#
# Usage: scripts/bench.sh [--host | --wine] [--rounds=N] [--min-time=SECONDS] [host options ...]
#   --host, --wine       only that side (default: both, the host first)
#   --rounds=N           rounds of every benchmark, both sides (default 7)
#   --min-time=SECONDS   minimum time of each benchmark per round, both sides (default 0.1)
#   host options         --peer=LIBRARY and Google Benchmark's own (--benchmark_filter=REGEX ...)
# VRACOINS_BUILD_DIR moves the builds away from build/, VRACOINS_JOBS sets the build's jobs (default 2).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds_dir="${VRACOINS_BUILD_DIR:-$root/build}"
jobs="${VRACOINS_JOBS:-2}"

run_host=1
run_wine=1
shared_options=()
host_options=()
for argument in "$@"; do
    case "$argument" in
    --host) run_wine=0 ;;
    --wine) run_host=0 ;;
    --rounds=* | --min-time=*) shared_options+=("$argument") ;;
    *) host_options+=("$argument") ;;
    esac
done
if [ "$run_host" -eq 0 ] && [ "${#host_options[@]}" -gt 0 ]; then
    echo "bench: ${host_options[*]}: options of the host's benchmarks, which --wine does not run" >&2
    exit 2
fi

# Google Benchmark and the peer allocator (Electric Fence), besides what the builds need.
"$root/scripts/install-deps.sh" libbenchmark-dev electric-fence

echo "bench: machine"
lscpu | grep -E '^(Model name|CPU\(s\)|Thread\(s\) per core|CPU max MHz):' | sed 's/^/  /'
echo "  Memory: $(free -h | awk '/^Mem:/ {print $2}')"
echo "  Kernel: $(uname -r)"
started=$SECONDS
status=0

# Instructions per allocate/release pair: the difference between a run of 20000 pairs and one of 10000,
# divided by 10000, so that the program's start and the module's load and first use cancel out.
count_pair_instructions() {
    local program="$1" allocator="$2" size="$3" counts=()
    for pairs in 10000 20000; do
        counts+=("$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$program" "$allocator" "$size" \
            "$pairs" 2>&1 | awk '/Collected :/ {print $4}')")
    done
    if [ -z "${counts[0]}" ] || [ -z "${counts[1]}" ]; then
        echo "not counted"
        return 1
    fi
    echo $(((counts[1] - counts[0]) / 10000))
}

if [ "$run_host" -eq 1 ]; then
    build="$builds_dir/bench"
    cmake -S "$root" -B "$build" -G Ninja -DVRACOINS_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
    cmake --build "$build" -j "$jobs" --target vracoins_bench peer_allocator_bench bench_tools_tests \
        hook_instructions
    # The tools' own checks first: the figures below rest on their arithmetic and measuring.
    "$build/bench/bench_tools_tests" --gtest_brief=1

    echo "bench: host: load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo
    echo "Instructions per allocate/release pair (callgrind; entry, operator and malloc/free included)"
    echo
    echo "| Size | pass-through hooks | hookless operators | malloc+free called by the entry | hooks' own |"
    echo "|---:|---:|---:|---:|---:|"
    for size in 16 256 4096; do
        hooks="$(count_pair_instructions "$build/bench/hook_instructions" pass-through "$size")" || status=1
        direct="$(count_pair_instructions "$build/bench/hook_instructions" direct "$size")" || status=1
        plain="$(count_pair_instructions "$build/bench/hook_instructions" malloc-call "$size")" || status=1
        own="not counted"
        if [[ "$hooks$direct" =~ ^[0-9]+$ ]]; then
            own=$((hooks - direct))
        fi
        echo "| $size | $hooks | $direct | $plain | $own |"
    done
    "$build/bench/vracoins_bench" "${shared_options[@]}" "${host_options[@]}" || status=$?
    echo "bench: host: load average after the run: $(cut -d' ' -f1-3 /proc/loadavg); $((SECONDS - started)) s so far"
fi

if [ "$run_wine" -eq 1 ]; then
    windows_build="$builds_dir/bench-windows"
    cmake -S "$root" -B "$windows_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
    cmake --build "$windows_build" -j "$jobs" --target vracoins_wine_bench
    # shellcheck source=scripts/wine-prefix.sh
    source "$root/scripts/wine-prefix.sh"
    echo "bench: wine: $(wine --version), in a fresh prefix"
    wine_prefix_create
    echo "bench: wine: load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
    wine_started=$SECONDS
    wine_status=0
    (cd "$windows_build/tests/wine" && wine ./vracoins_wine_bench.exe "${shared_options[@]}") | tr -d '\r' ||
        wine_status=$?
    [ "$wine_status" -eq 0 ] || status=$wine_status
    echo "bench: wine: load average after the run: $(cut -d' ' -f1-3 /proc/loadavg); ran $((SECONDS - wine_started)) s"
fi
echo "bench: ran $((SECONDS - started)) s"
exit "$status"
