#!/usr/bin/env bash
# Checks the Authenticode signature of a signed vracoins.dll with osslsigncode:
#   - the signature is there, SHA-256, and verifies against the certificate (the test certificate of
#     scripts/sign.sh unless --ca names another);
#   - it covers the file: the digest it signed is the file's digest, and the signature is the last thing
#     in the file, so that no byte lies outside what was signed;
#   - a byte changed afterwards, in a scratch copy of the code, makes verification fail.
# With --sign, the DLL is signed first with the test certificate (scripts/sign.sh): what the Windows
# build's test run does to the copy that the Windows test programs load, before they load it.
#
# Usage: scripts/check-signature.sh DLL [--ca CERTIFICATE.pem] [--sign]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds_dir="${VRACOINS_BUILD_DIR:-$root/build}"

usage() {
    echo "usage: scripts/check-signature.sh DLL [--ca CERTIFICATE.pem] [--sign]"
}

dll=""
ca="$builds_dir/signing/test-signing.crt"
sign=false
while [ $# -gt 0 ]; do
    case "$1" in
    --ca)
        ca="${2:?--ca needs a certificate file}"
        shift 2
        ;;
    --sign)
        sign=true
        shift
        ;;
    -h | --help)
        usage
        exit 0
        ;;
    *)
        if [ -n "$dll" ] || [[ "$1" == -* ]]; then
            usage >&2
            exit 2
        fi
        dll="$1"
        shift
        ;;
    esac
done
if [ -z "$dll" ] || [ ! -f "$dll" ]; then
    usage >&2
    echo "check-signature: no DLL at ${dll:-(none given)}" >&2
    exit 2
fi
if $sign; then
    "$root/scripts/sign.sh" "$dll"
fi

failures=0
passes=0
pass() {
    passes=$((passes + 1))
    echo "check-signature: ok: $*"
}
fail() {
    failures=$((failures + 1))
    echo "check-signature: FAILED: $*"
}

scratch="$(mktemp -d "${TMPDIR:-/tmp}/vracoins-signature.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

# Answers osslsigncode's report of a file, and whether it verified.
verify() {
    osslsigncode verify -in "$1" -CAfile "$ca" 2>&1
}

status=0
report="$(verify "$dll")" || status=$?
signed_digest="$(awk -F': *' '/^Current message digest/ { print $2; exit }' <<<"$report" | tr -d ' ')"
file_digest="$(awk -F': *' '/^Calculated message digest/ { print $2; exit }' <<<"$report" | tr -d ' ')"
if [ "$status" -eq 0 ] && grep -q '^Signature verification: ok' <<<"$report" &&
    grep -q '^Message digest algorithm *: SHA256' <<<"$report"; then
    pass "Authenticode signature, SHA-256, verified against $(basename "$ca")"
else
    fail "no signature that verifies against $ca: $(grep -E 'verification|No signature|Failed|MISMATCH' <<<"$report" | tr '\n' ' ')"
fi

# The certificate table (data directory entry 4, "Security Directory") holds the signature; its end is the
# file's end when nothing was appended after signing.
security="$(x86_64-w64-mingw32-objdump -p "$dll" | awk '/^Entry 4 / && !found { print $3, $4; found = 1 }')"
read -r table_offset table_size <<<"${security:-0 0}"
table_end=$((16#$table_offset + 16#$table_size))
file_size="$(stat -c %s "$dll")"
if [ -n "$signed_digest" ] && [ "$signed_digest" = "$file_digest" ] && [ "$((16#$table_size))" -gt 0 ] &&
    [ "$table_end" -eq "$file_size" ]; then
    pass "the signature covers the file: digest $signed_digest, signature at the end ($table_end of $file_size bytes)"
else
    fail "the signature does not cover the file: signed digest ${signed_digest:-?}, file digest ${file_digest:-?}, signature ending at $table_end of $file_size bytes"
fi

# One byte of the code changed, in a scratch copy.
copy="$scratch/changed.dll"
cp "$dll" "$copy"
text_offset="$(x86_64-w64-mingw32-objdump -h "$copy" | awk '$2 == ".text" && !found { print $6; found = 1 }')"
at=$((16#${text_offset:-0} + 64))
byte="$(od -A n -t u1 -j "$at" -N 1 "$copy" | tr -d ' ')"
printf '%b' "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$copy" bs=1 seek="$at" conv=notrunc status=none
status=0
changed_report="$(verify "$copy")" || status=$?
if [ -n "$text_offset" ] && ! cmp -s "$dll" "$copy" && [ "$status" -ne 0 ] && grep -q 'MISMATCH' <<<"$changed_report"; then
    pass "a byte changed at offset $at after signing fails verification (digest mismatch)"
else
    fail "a byte changed at offset $at after signing was not caught by a digest mismatch (status $status)"
fi

echo "check-signature: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
