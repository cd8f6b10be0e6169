#!/usr/bin/env bash
# Builds the module's benchmarks (Release, -O2, in build/bench) and runs them all in one run: the
# pass-through hooks against malloc/free called directly, each tracking mode against the pass-through
# hooks, the page-guarded mode against Electric Fence on the same workload, the post pass's rename against
# the number of existing copies, and the memory a block costs in each mode. Prints the machine, then
# tables of ratios (medians over the rounds, with their spread) and of memory per block.
# Not part of scripts/test.sh: timings say nothing reliable on a loaded machine, and take a while.
#
# Usage: scripts/bench.sh [--rounds=N] [--min-time=SECONDS] [--benchmark_filter=REGEX ...]
# VRACOINS_BUILD_DIR moves the build away from build/, VRACOINS_JOBS sets the build's jobs (default 2).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds_dir="${VRACOINS_BUILD_DIR:-$root/build}"
jobs="${VRACOINS_JOBS:-2}"
build="$builds_dir/bench"

# Google Benchmark and the peer allocator (Electric Fence), besides what the host build needs.
"$root/scripts/install-deps.sh" libbenchmark-dev electric-fence

cmake -S "$root" -B "$build" -G Ninja -DVRACOINS_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
cmake --build "$build" -j "$jobs" --target vracoins_bench peer_allocator_bench bench_tools_tests
# The tools' own checks first: the figures below rest on their arithmetic and measuring.
"$build/bench/bench_tools_tests" --gtest_brief=1

echo "bench: machine"
lscpu | grep -E '^(Model name|CPU\(s\)|Thread\(s\) per core|CPU max MHz):' | sed 's/^/  /'
echo "  Memory: $(free -h | awk '/^Mem:/ {print $2}')"
echo "  Kernel: $(uname -r)"
echo "  Load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"

started=$SECONDS
status=0
"$build/bench/vracoins_bench" "$@" || status=$?
echo "bench: load average after the run: $(cut -d' ' -f1-3 /proc/loadavg); ran $((SECONDS - started)) s"
exit "$status"
