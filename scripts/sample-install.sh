#!/usr/bin/env bash
# Builds everything (host and Windows builds) and runs one sample printer installation under Wine with
# the built vracoins.dll as the printer's co-installer: a driver package registers it for a Printer-class
# device, SetupAPI runs DIF_INSTALLDEVICE (the co-installer's pre pass, then the class installer), the
# post pass follows with the class installer's result, and what each pass changed in the registry and
# among the printers is printed. Installs what is missing first (Debian).
#
# Usage: scripts/sample-install.sh [--track MODE]
#   --track MODE  switch the allocation tracker on in the Wine prefix before the installation
#                 (TrackMemoryAllocation = MODE, 1 to 4, and TrackMemoryLogLocation = C:\vracoins-logs),
#                 then print its report: what the DLL wrote on the debugger output when it was unloaded,
#                 and the log files it wrote, if any.
set -euo pipefail

usage() {
    echo "usage: scripts/sample-install.sh [--track MODE]   (MODE: TrackMemoryAllocation, 1 to 4)"
}

track_mode=""
while [ $# -gt 0 ]; do
    case "$1" in
    --track)
        if [ $# -lt 2 ]; then
            usage >&2
            exit 2
        fi
        track_mode="$2"
        shift 2
        ;;
    --track=*)
        track_mode="${1#--track=}"
        shift
        ;;
    -h | --help)
        usage
        exit 0
        ;;
    *)
        usage >&2
        exit 2
        ;;
    esac
done
case "$track_mode" in
"" | 1 | 2 | 3 | 4) ;;
*)
    echo "sample-install: --track takes a tracking mode from 1 to 4, not '$track_mode'" >&2
    usage >&2
    exit 2
    ;;
esac

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds_dir="${VRACOINS_BUILD_DIR:-$root/build}"
windows_build="$builds_dir/windows"
mlkdump="$builds_dir/host/tools/mlkdump/mlkdump"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" host windows
"$root/scripts/check-dll.sh" "$windows_build/module/vracoins.dll"

# shellcheck source=scripts/wine-prefix.sh
source "$root/scripts/wine-prefix.sh"
echo "sample-install: preparing a fresh Wine prefix"
wine_prefix_create

# The tracker reads its switches once, when the module is loaded, so they go in before the installation.
log_location='C:\vracoins-logs'
log_directory="$WINEPREFIX/drive_c/vracoins-logs"
if [ -n "$track_mode" ]; then
    echo "sample-install: switching the tracker on: TrackMemoryAllocation $track_mode, TrackMemoryLogLocation $log_location"
    tracker_key='HKLM\SOFTWARE\Orvale\DIZadaridi'
    wine reg add "$tracker_key" /v TrackMemoryAllocation /t REG_DWORD /d "$track_mode" /f >/dev/null
    wine reg add "$tracker_key" /v TrackMemoryLogLocation /t REG_SZ /d "$log_location" /f >/dev/null
fi

echo "sample-install: running the sample installation with $windows_build/module/vracoins.dll"
echo
# Wine sees the root of the Linux file system as drive Z:.
dll="$(cd "$windows_build/module" && pwd)/vracoins.dll"
status=0
(cd "$windows_build/tests/wine" && wine ./sample_install.exe "Z:${dll//\//\\}") | tr -d '\r' || status=$?

if [ -n "$track_mode" ]; then
    echo
    echo "Tracker's log files in $log_location:"
    shopt -s nullglob
    logs=("$log_directory"/*)
    if [ ${#logs[@]} -eq 0 ]; then
        echo "  none: the tracker writes them only for a leaked block or a damaged guard zone"
    fi
    for log in "${logs[@]}"; do
        echo "  $(basename "$log"):"
        case "$log" in
        *.mlk) "$mlkdump" "$log" | sed "s/^/  | /" || echo "  (mlkdump could not decode it)" ;;
        *) tr -d '\r' <"$log" | sed 's/^/  | /' ;;
        esac
    done
fi
exit "$status"
