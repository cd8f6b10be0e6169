#!/usr/bin/env bash
# Checks who includes whom (docs/ARCHITECTURE.md):
#   - product code (coinstaller/, memtrack/, module/, outside their tests/) never includes the simulation,
#     and the two subsystems never include each other: they meet only in the module's link;
#   - the simulation (winsim/) never includes product code;
#   - platform/ includes nothing of the project but the simulation's Win32 face.
# Prints each offending include and ends with "layers: N passed, N failed", one check per rule.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

passed=0
failed=0

# Includes of the project's own headers, as "file:line:#include "dir/..."", in the given folders
# (their tests/ folders left out unless asked for).
project_includes() {
    local keep_tests="$1"
    shift
    local exclude=(--exclude-dir=tests)
    [ "$keep_tests" = with-tests ] && exclude=()
    grep -rnE '^\s*#\s*include\s*"[a-z_]+/' "${exclude[@]}" --include='*.h' --include='*.cpp' "$@" || true
}

# rule NAME PATTERN-OF-FORBIDDEN-TARGETS KEEP-TESTS FOLDER...
rule() {
    local name="$1" forbidden="$2" keep_tests="$3"
    shift 3
    local offending
    offending="$(project_includes "$keep_tests" "$@" | grep -E "#\s*include\s*\"($forbidden)/" || true)"
    if [ -z "$offending" ]; then
        passed=$((passed + 1))
        echo "layers: ok: $name"
    else
        failed=$((failed + 1))
        echo "layers: FAILED: $name"
        printf '  %s\n' "$offending"
    fi
}

rule "the co-installer includes neither the simulation nor the tracker" "winsim|memtrack|module" \
    without-tests coinstaller
rule "the tracker includes neither the simulation nor the co-installer" "winsim|coinstaller|module" \
    without-tests memtrack
rule "the module's entry includes no simulation" "winsim" without-tests module
rule "the simulation includes no product code" "coinstaller|memtrack|module" with-tests winsim
rule "the platform header reaches only the simulation's Win32 face" "coinstaller|memtrack|module|tests" \
    with-tests platform

echo "layers: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
