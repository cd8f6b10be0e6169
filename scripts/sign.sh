#!/usr/bin/env bash
# Signs vracoins.dll with Authenticode (SHA-256) through osslsigncode, in place.
#
# With --pfx, the certificate and private key of a PKCS#12 file, whose password is in the environment
# variable named by --password-env (never on a command line); --timestamp adds an RFC 3161 timestamp from
# that server, so that the signature outlives the certificate (it needs the network).
# Without --pfx, a self-signed code-signing test certificate, made once under the build directory
# (build/signing/, VRACOINS_BUILD_DIR moves it), the way a driver package is test-signed before the real
# certificate is applied. Windows trusts it only where it was added to the machine's trusted roots and
# test signing is on; scripts/check-signature.sh verifies against it.
#
# Usage: scripts/sign.sh [DLL] [--pfx FILE --password-env VARIABLE] [--timestamp URL]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds_dir="${VRACOINS_BUILD_DIR:-$root/build}"

usage() {
    echo "usage: scripts/sign.sh [DLL] [--pfx FILE --password-env VARIABLE] [--timestamp URL]"
}

dll=""
pfx=""
password_variable=""
timestamp=""
while [ $# -gt 0 ]; do
    case "$1" in
    --pfx | --password-env | --timestamp)
        if [ $# -lt 2 ]; then
            usage >&2
            exit 2
        fi
        case "$1" in
        --pfx) pfx="$2" ;;
        --password-env) password_variable="$2" ;;
        --timestamp) timestamp="$2" ;;
        esac
        shift 2
        ;;
    -h | --help)
        usage
        exit 0
        ;;
    -*)
        usage >&2
        exit 2
        ;;
    *)
        if [ -n "$dll" ]; then
            usage >&2
            exit 2
        fi
        dll="$1"
        shift
        ;;
    esac
done
dll="${dll:-$builds_dir/windows/module/vracoins.dll}"
if [ ! -f "$dll" ]; then
    echo "sign: no DLL at $dll" >&2
    exit 1
fi

# The password goes to osslsigncode in a file only this user reads.
scratch="$(mktemp -d "${TMPDIR:-/tmp}/vracoins-sign.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
password_file="$scratch/password"

if [ -n "$pfx" ]; then
    if [ -z "$password_variable" ] || [ -z "${!password_variable+set}" ]; then
        echo "sign: --pfx needs --password-env VARIABLE, an environment variable that holds the PFX's password" >&2
        exit 2
    fi
    (umask 077 && printf '%s' "${!password_variable}" >"$password_file")
else
    if [ -n "$password_variable" ]; then
        echo "sign: --password-env goes with --pfx" >&2
        exit 2
    fi
    certificates="$builds_dir/signing"
    pfx="$certificates/test-signing.pfx"
    if [ ! -f "$pfx" ] || [ ! -f "$certificates/test-signing.crt" ] || [ ! -f "$certificates/test-signing.password" ]; then
        echo "sign: making a self-signed code-signing test certificate in $certificates"
        mkdir -p "$certificates"
        (
            umask 077
            openssl rand -base64 24 >"$certificates/test-signing.password"
            openssl req -x509 -newkey rsa:3072 -sha256 -days 3650 -nodes \
                -subj "/O=Orvale/CN=vracoins test signing (not for release)" \
                -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
                -addext "extendedKeyUsage=codeSigning" \
                -keyout "$scratch/test-signing.key" -out "$certificates/test-signing.crt" 2>/dev/null
            openssl pkcs12 -export -inkey "$scratch/test-signing.key" -in "$certificates/test-signing.crt" \
                -passout "file:$certificates/test-signing.password" -out "$pfx"
        )
    fi
    echo "sign: test-signing with the self-signed test certificate $certificates/test-signing.crt (not for release)"
    cp "$certificates/test-signing.password" "$password_file"
fi

arguments=(sign -pkcs12 "$pfx" -readpass "$password_file" -h sha256 -n vracoins -in "$dll" -out "$scratch/signed.dll")
if [ -n "$timestamp" ]; then
    arguments+=(-ts "$timestamp")
fi
if ! osslsigncode "${arguments[@]}" >"$scratch/osslsigncode.log" 2>&1; then
    echo "sign: osslsigncode could not sign $dll:" >&2
    cat "$scratch/osslsigncode.log" >&2
    exit 1
fi
# The signed image replaces the file itself, so that a DLL that was open stays whole.
cat "$scratch/signed.dll" >"$dll"
echo "sign: signed $dll (Authenticode, SHA-256)"
