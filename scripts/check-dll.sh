#!/usr/bin/env bash
# Checks the built co-installer DLL for what a driver package, Windows' dbghelp and the Wine tests rely on:
#   - a PE32+ image for x86-64;
#   - exactly one named export, VRACoInstallerEntryProc, undecorated;
#   - imports from Windows system DLLs only (the C++ and GCC run-times linked in, so no libstdc++,
#     libgcc or libwinpthread DLL has to travel with it);
#   - static imports from Known DLLs only, which Windows loads from the system directory whatever folder
#     the host program lies in: any other library (dbghelp.dll, winspool.drv) is loaded at run time from
#     the system directory, since a static import of it would take a copy planted beside the program;
#   - a CodeView (RSDS) debug directory entry that names the PDB by file name alone, and that PDB beside
#     the DLL with the same GUID and age, so that dbghelp takes it as the DLL's own;
#   - line information in the PDB for every source file of the module's own (coinstaller/*.cpp,
#     memtrack/*.cpp under the source root);
#   - no DWARF (.debug_* sections) left in the DLL;
#   - a version resource whose FileVersion and ProductVersion, as text and as numbers, are the project's
#     version, with OriginalFilename vracoins.dll and the other strings a file's properties show.
# The version is --version's, or else the one the build tree's CMake cache holds (VRACOINS_VERSION).
#
# Usage: scripts/check-dll.sh [path/to/vracoins.dll] [source root] [--version X.Y.Z]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dll=""
sources=""
version=""
while [ $# -gt 0 ]; do
    case "$1" in
    --version)
        version="${2:?--version needs the version, X.Y.Z}"
        shift 2
        ;;
    --version=*)
        version="${1#--version=}"
        shift
        ;;
    *)
        if [ -z "$dll" ]; then
            dll="$1"
        elif [ -z "$sources" ]; then
            sources="$1"
        else
            echo "usage: scripts/check-dll.sh [path/to/vracoins.dll] [source root] [--version X.Y.Z]" >&2
            exit 2
        fi
        shift
        ;;
    esac
done
dll="${dll:-${VRACOINS_BUILD_DIR:-$root/build}/windows/module/vracoins.dll}"
sources="$(cd "${sources:-$root}" && pwd)"
objdump=x86_64-w64-mingw32-objdump
readobj=llvm-readobj-14
pdbutil=llvm-pdbutil-14

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

# Known DLLs of Windows 10 (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs) that a
# co-installer may import, ntdll (which the loader maps before anything else) and API sets (which the loader
# resolves through its schema, never by a search). docs/SECURITY.md lists the DLL's imports.
known='^(kernel32|advapi32|msvcrt|setupapi|ntdll|user32|gdi32|ole32|oleaut32|shlwapi|shell32|imagehlp|psapi|api-ms-win-[a-z0-9-]+)\.dll$'
searched="$(grep -Ev "$known" <<<"$imports" || true)"
if [ -n "$imports" ] && [ -z "$searched" ]; then
    pass "static imports from Known DLLs only: $(tr '\n' ' ' <<<"$imports")"
else
    fail "static imports of DLLs that are no Known DLLs, which Windows would take from beside the host program first: $(tr '\n' ' ' <<<"${searched:-(no imports at all)}")"
fi

# --- The PDB -------------------------------------------------------------------------------------------------
# The CodeView entry: "PDBGUID: (86 40 EA 33 ...)", "PDBAge: 1", "PDBFileName: vracoins.pdb".
debug_directory="$("$readobj" --coff-debug-directory "$dll" 2>&1 || true)"
rsds_name="$(awk '/PDBFileName:/ { sub(/^[[:space:]]*PDBFileName:[[:space:]]*/, ""); print; exit }' <<<"$debug_directory")"
rsds_age="$(awk '/PDBAge:/ { print $2; exit }' <<<"$debug_directory")"
# The GUID's bytes as stored: its first three fields little-endian, so written as the PDB shows it, the
# first four bytes, then two and two, come reversed.
rsds_guid="$(sed -n 's/.*PDBGUID: (\(.*\)).*/\1/p' <<<"$debug_directory" | head -n 1 |
    awk 'NF == 16 { printf "{%s%s%s%s-%s%s-%s%s-%s%s-%s%s%s%s%s%s}", $4, $3, $2, $1, $6, $5, $8, $7, $9, $10,
                        $11, $12, $13, $14, $15, $16 }')"
pdb="$(dirname "$dll")/$rsds_name"
if grep -q 'PDBSignature: 0x53445352' <<<"$debug_directory" && [ "$rsds_name" = "$(basename "$dll" .dll).pdb" ]; then
    pass "CodeView (RSDS) debug directory entry naming $rsds_name by file name"
else
    fail "expected a CodeView (RSDS) debug directory entry naming $(basename "$dll" .dll).pdb by file name alone, found: ${rsds_name:-(none)}"
fi

summary=""
if [ -n "$rsds_name" ] && [ "$rsds_name" = "$(basename "$rsds_name")" ] && [ -f "$pdb" ]; then
    summary="$("$pdbutil" dump -summary "$pdb" 2>&1 || true)"
fi
pdb_guid="$(awk '/^[[:space:]]*GUID:/ { print $2; exit }' <<<"$summary")"
pdb_age="$(awk '/^[[:space:]]*Age:/ { print $2; exit }' <<<"$summary")"
if [ -z "$summary" ]; then
    fail "no PDB named ${rsds_name:-(none)} beside $(basename "$dll")"
elif [ -n "$rsds_guid" ] && [ "$rsds_guid" = "$pdb_guid" ] && [ -n "$rsds_age" ] && [ "$rsds_age" = "$pdb_age" ]; then
    pass "$rsds_name matches the DLL: GUID $pdb_guid, age $pdb_age"
else
    fail "$rsds_name is not the DLL's: the DLL names GUID ${rsds_guid:-?} age ${rsds_age:-?}, the PDB has GUID ${pdb_guid:-?} age ${pdb_age:-?}"
fi

# Source files with line information: the file lines of "llvm-pdbutil dump -l", "/path/file.cpp (MD5: ...)"
# or "/path/file.cpp (no checksum)", each followed by its line tables.
lined=""
if [ -n "$summary" ]; then
    lined="$("$pdbutil" dump -l "$pdb" 2>/dev/null |
        sed -E -n 's/^([^[:space:]].*) \(((MD5|SHA1|SHA256): [0-9A-Fa-f]+|no checksum)\)$/\1/p' | sort -u)"
fi
own=()
for directory in coinstaller memtrack; do
    for source in "$sources/$directory"/*.cpp; do
        [ -f "$source" ] && own+=("$source")
    done
done
unlined=()
for source in "${own[@]}"; do
    grep -Fxq "$source" <<<"$lined" || unlined+=("${source#"$sources"/}")
done
if [ ${#own[@]} -gt 0 ] && [ ${#unlined[@]} -eq 0 ]; then
    pass "line information in the PDB for all ${#own[@]} sources of coinstaller/ and memtrack/"
elif [ ${#own[@]} -eq 0 ]; then
    fail "no sources under $sources/coinstaller or $sources/memtrack"
else
    fail "no line information in the PDB for: ${unlined[*]}"
fi

dwarf="$("$objdump" -h "$dll" | awk '$2 ~ /^\.debug_/ { print $2 }')"
if [ -z "$dwarf" ]; then
    pass "no DWARF left in the DLL"
else
    fail "DWARF left in the DLL: $(tr '\n' ' ' <<<"$dwarf")"
fi

# --- The version resource --------------------------------------------------------------------------------------
if [ -z "$version" ]; then
    # The build tree's cache, in the DLL's directory or one above it.
    directory="$(cd "$(dirname "$dll")" && pwd)"
    while [ "$directory" != / ] && [ ! -f "$directory/CMakeCache.txt" ]; do
        directory="$(dirname "$directory")"
    done
    version="$(sed -n 's/^VRACOINS_VERSION:INTERNAL=//p' "$directory/CMakeCache.txt" 2>/dev/null || true)"
fi

# The VERSIONINFO resource's bytes, from llvm-readobj's hex dump ("0000: 2C033400 00005600 ...  |...|"),
# decoded by its tree of blocks: each a length, a value length, a type, a UTF-16 key, then its value and
# children at 4-byte boundaries. The root's value is VS_FIXEDFILEINFO; the strings are
# StringFileInfo\<language>\<key> = value. Printed as key=value lines.
resources="$("$readobj" --coff-resources "$dll" 2>/dev/null || true)"
version_info="$(awk '/Type: VERSIONINFO/ { in_type = 1 } in_type && /Data \(/ { data = 1; next }
                     data && /^[[:space:]]*\)/ { exit }
                     data { sub(/\|.*/, ""); sub(/^[[:space:]]*[0-9A-F]+:/, ""); printf "%s", $0 }' <<<"$resources" |
    tr -d ' ' | perl -e '
        my $bytes = pack("H*", join("", <STDIN>));
        sub text { my ($at, $end) = @_; my $s = ""; for (my $i = $at; $i + 1 < $end; $i += 2) {
            my $c = unpack("v", substr($bytes, $i, 2)); last if $c == 0; $s .= chr($c); } return $s; }
        sub node { my ($at, $path) = @_;
            my ($length, $value_length, $type) = unpack("v3", substr($bytes, $at, 6));
            return $at + 2 if !$length;
            my $key = text($at + 6, $at + $length);
            my $value_at = ($at + 6 + 2 * (length($key) + 1) + 3) & ~3;
            if ($path eq "" && $value_length >= 52) {
                my @f = unpack("V13", substr($bytes, $value_at, 52));
                printf "fixed:signature=%08x\n", $f[0];
                printf "fixed:FileVersion=%d.%d.%d.%d\n", $f[2] >> 16, $f[2] & 0xffff, $f[3] >> 16, $f[3] & 0xffff;
                printf "fixed:ProductVersion=%d.%d.%d.%d\n", $f[4] >> 16, $f[4] & 0xffff, $f[5] >> 16, $f[5] & 0xffff;
            } elsif ($type == 1 && $path =~ m{^VS_VERSION_INFO/StringFileInfo/[^/]+$}) {
                print "$key=", text($value_at, $at + $length), "\n";
            }
            my $size = $type == 1 ? 2 * $value_length : $value_length;
            my $child = ($value_at + $size + 3) & ~3;
            my $child_path = $path eq "" ? $key : "$path/$key";
            while ($child < $at + $length) { my $next = node($child, $child_path); last if $next <= $child;
                $child = ($next + 3) & ~3; }
            return $at + $length; }
        node(0, "") if length($bytes) >= 6;' 2>/dev/null || true)"
value_of() {
    sed -n "s/^$1=//p" <<<"$version_info" | head -n 1
}
problems=()
if [ -z "$version" ]; then
    problems+=("no project version to compare with (give --version X.Y.Z, or a DLL in a build tree)")
fi
[ "$(value_of fixed:signature)" = feef04bd ] || problems+=("no VS_FIXEDFILEINFO")
for key in FileVersion ProductVersion; do
    [ "$(value_of "$key")" = "$version" ] || problems+=("$key \"$(value_of "$key")\", not \"$version\"")
    [ "$(value_of "fixed:$key")" = "$version.0" ] ||
        problems+=("the fixed $key $(value_of "fixed:$key"), not $version.0")
done
[ "$(value_of OriginalFilename)" = "$(basename "$dll")" ] ||
    problems+=("OriginalFilename \"$(value_of OriginalFilename)\", not \"$(basename "$dll")\"")
for key in FileDescription ProductName InternalName LegalCopyright; do
    [ -n "$(value_of "$key")" ] || problems+=("no $key")
done
if [ -z "$version_info" ]; then
    fail "no version resource (VERSIONINFO) in the DLL"
elif [ ${#problems[@]} -eq 0 ]; then
    pass "version resource: FileVersion and ProductVersion $version, OriginalFilename $(value_of OriginalFilename), \"$(value_of FileDescription)\""
else
    fail "version resource: $(printf '%s; ' "${problems[@]}")"
fi

echo "check-dll: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
