#!/usr/bin/env bash
# Runs every Windows test program of the Windows build under Wine, in a Wine prefix made for this run,
# and fails when any check fails or any program ends without its closing line.
#
# Usage: scripts/run-wine-tests.sh [windows build directory, default build/windows]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-${VRACOINS_BUILD_DIR:-$root/build}/windows}"
programs_dir="$build/tests/wine"
list="$programs_dir/wine-tests.list"
# Generous for programs that take a second or two; only a hung program comes near it.
timeout_seconds="${VRACOINS_WINE_TEST_TIMEOUT:-300}"

if [ ! -f "$list" ]; then
    echo "wine: no test list at $list; build the Windows build first (scripts/build.sh windows)"
    exit 1
fi

# shellcheck source=scripts/wine-prefix.sh
source "$root/scripts/wine-prefix.sh"
wine_prefix_create

passed=0
failed=0
skipped=0
broken=()
closing_pattern='^[A-Za-z0-9_]+: ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped$'

while read -r program; do
    [ -n "$program" ] || continue
    name="$(basename "$program")"
    echo "wine: running $name"
    status=0
    output="$(cd "$(dirname "$program")" && timeout "$timeout_seconds" wine "./$name" </dev/null 2>&1)" || status=$?
    # Windows programs end their lines with CR LF.
    output="${output//$'\r'/}"
    printf '%s\n' "$output"
    closing="$(grep -E "$closing_pattern" <<<"$output" | tail -n 1 || true)"
    if [[ "$closing" =~ $closing_pattern ]]; then
        passed=$((passed + BASH_REMATCH[1]))
        failed=$((failed + BASH_REMATCH[2]))
        skipped=$((skipped + BASH_REMATCH[3]))
        if [ "$status" -ne 0 ] && [ "${BASH_REMATCH[2]}" -eq 0 ]; then
            broken+=("$name exited with $status")
            failed=$((failed + 1))
        fi
    elif [ "$status" -eq 0 ]; then
        # A program without the closing line is judged by its exit code, as one check.
        passed=$((passed + 1))
    else
        # Failed, crashed, hung (timeout answers 124) or never started.
        broken+=("$name exited with $status without a closing line")
        failed=$((failed + 1))
    fi
done <"$list"

for problem in "${broken[@]}"; do
    echo "wine: $problem"
done
echo "wine: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
