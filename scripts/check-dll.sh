#!/usr/bin/env bash
# Checks the built co-installer DLL for what a driver package and the Wine tests rely on:
#   - a PE32+ image for x86-64;
#   - exactly one named export, VRACoInstallerEntryProc, undecorated;
#   - imports from Windows system DLLs only (the C++ and GCC run-times linked in, so no libstdc++,
#     libgcc or libwinpthread DLL has to travel with it);
#   - DWARF debug information kept in the DLL, version 4 for every compilation unit of our own
#     sources (Wine's dbghelp reads no later version). The MinGW run-time's own units come prebuilt
#     with DWARF 5; they are counted, not failed.
#
# Usage: scripts/check-dll.sh [path/to/vracoins.dll] [source root]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dll="${1:-${VRACOINS_BUILD_DIR:-$root/build}/windows/module/vracoins.dll}"
sources="${2:-$root}"
objdump=x86_64-w64-mingw32-objdump

failures=0
passes=0
pass() {
    passes=$((passes + 1))
    echo "check-dll: ok: $*"
}
fail() {
    failures=$((failures + 1))
    echo "check-dll: FAILED: $*"
}

if [ ! -f "$dll" ]; then
    echo "check-dll: no DLL at $dll"
    echo "check-dll: 0 passed, 1 failed"
    exit 1
fi

headers="$("$objdump" -p "$dll")"

if grep -q 'file format pei-x86-64' <<<"$headers" && grep -Eq '^Magic[[:space:]]+020b[[:space:]]+\(PE32\+\)' <<<"$headers"; then
    pass "PE32+ image for x86-64"
else
    fail "not a PE32+ x86-64 image: $(grep -E 'file format|^Magic' <<<"$headers" | tr '\n' ' ')"
fi

# Named exports are listed under "[Ordinal/Name Pointer] Table" as "[   0] Name".
exports="$(awk '/\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
                table && /^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+[^[:space:]]+$/ { print $NF; next }
                table && NF == 0 { table = 0 }' <<<"$headers")"
if [ "$exports" = "VRACoInstallerEntryProc" ]; then
    pass "one named export, VRACoInstallerEntryProc"
else
    fail "expected the one named export VRACoInstallerEntryProc, found: $(tr '\n' ' ' <<<"${exports:-(none)}")"
fi

# Windows' own DLLs that a co-installer may import from.
allowed='^(kernel32|advapi32|setupapi|winspool|dbghelp|msvcrt|ucrtbase|user32|ntdll|ole32|oleaut32|shlwapi|version|api-ms-win-[a-z0-9-]+)\.(dll|drv)$'
imports="$(awk '/DLL Name:/ { print tolower($3) }' <<<"$headers")"
foreign="$(grep -Ev "$allowed" <<<"$imports" || true)"
if [ -n "$imports" ] && [ -z "$foreign" ]; then
    pass "imports only from Windows system DLLs: $(tr '\n' ' ' <<<"$imports")"
else
    fail "imports from DLLs that are not Windows' own: $(tr '\n' ' ' <<<"${foreign:-(no imports at all)}")"
fi

if "$objdump" -h "$dll" | grep -q '[[:space:]]\.debug_info[[:space:]]'; then
    pass "debug information kept in the DLL"
else
    fail "no .debug_info section: the DLL was stripped or built without -g"
fi

# One line per compilation unit: version, name, compilation directory.
units="$("$objdump" --dwarf=info --dwarf-depth=1 "$dll" 2>/dev/null |
    awk '/Compilation Unit @/ { if (unit) print version, name, dir; unit = 1; version = name = dir = "-" }
         /^[[:space:]]+Version:/ { version = $2 }
         /DW_AT_name/ { name = $NF }
         /DW_AT_comp_dir/ { dir = $NF }
         END { if (unit) print version, name, dir }')"
own="$(awk -v root="$sources/" 'index($2, root) == 1 || index($3 "/", root) == 1' <<<"$units")"
own_count="$(grep -c . <<<"$own" || true)"
not_v4="$(awk '$1 != 4 { print $2 " (DWARF " $1 ")" }' <<<"$own")"
others="$(awk -v root="$sources/" '!(index($2, root) == 1 || index($3 "/", root) == 1)' <<<"$units" | grep -c . || true)"
if [ "$own_count" -gt 0 ] && [ -z "$not_v4" ]; then
    pass "DWARF 4 in all $own_count compilation units of our sources ($others from the MinGW run-time left as built)"
elif [ "$own_count" -eq 0 ]; then
    fail "no compilation unit of the sources under $sources in the debug information"
else
    fail "compilation units not in DWARF 4: $(tr '\n' ' ' <<<"$not_v4")"
fi

echo "check-dll: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
