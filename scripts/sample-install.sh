#!/usr/bin/env bash
# Builds everything (host and Windows builds) and runs one sample printer installation under Wine with
# the built vracoins.dll as the printer's co-installer: a USB printer device with its print queue and
# companion device is set up, the co-installer's pre and post passes are called, and what they changed in
# the registry and among the printers is printed. Installs what is missing first (Debian).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
windows_build="${VRACOINS_BUILD_DIR:-$root/build}/windows"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" host windows
"$root/scripts/check-dll.sh" "$windows_build/module/vracoins.dll"

# shellcheck source=scripts/wine-prefix.sh
source "$root/scripts/wine-prefix.sh"
echo "sample-install: preparing a fresh Wine prefix"
wine_prefix_create

echo "sample-install: running the sample installation with $windows_build/module/vracoins.dll"
echo
# Wine sees the root of the Linux file system as drive Z:.
dll="$(cd "$windows_build/module" && pwd)/vracoins.dll"
cd "$windows_build/tests/wine"
wine ./sample_install.exe "Z:${dll//\//\\}"
