#!/usr/bin/env bash
# Configures and builds the project: the host build (over the simulated Win32 layer, with the unit tests)
# in build/host and the Windows cross build (vracoins.dll and the Windows test programs) in
# build/windows. Name builds to make only those: host, windows, sanitize (the host build with
# AddressSanitizer and UndefinedBehaviorSanitizer, in build/host-sanitize). VRACOINS_BUILD_DIR moves
# the three away from build/.
#
# Usage: scripts/build.sh [host] [windows] [sanitize]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
builds_dir="${VRACOINS_BUILD_DIR:-$root/build}"
jobs="${VRACOINS_JOBS:-2}"

builds=("$@")
if [ ${#builds[@]} -eq 0 ]; then
    builds=(host windows)
fi

configure_and_build() {
    local directory="$1"
    shift
    # CMake keeps the compilers a build directory was first configured with, so a directory configured
    # with another toolchain file than today's is configured afresh.
    local stamp="$builds_dir/$directory/toolchain.sha256" toolchain=""
    for argument in "$@"; do
        case "$argument" in -DCMAKE_TOOLCHAIN_FILE=*) toolchain="${argument#*=}" ;; esac
    done
    if [ -n "$toolchain" ] && [ -d "$builds_dir/$directory" ] &&
        [ "$(cat "$stamp" 2>/dev/null)" != "$(sha256sum <"$toolchain")" ]; then
        rm -rf "${builds_dir:?}/$directory"
    fi
    cmake -S "$root" -B "$builds_dir/$directory" -G Ninja "$@" >/dev/null
    if [ -n "$toolchain" ]; then
        sha256sum <"$toolchain" >"$stamp"
    fi
    cmake --build "$builds_dir/$directory" -j "$jobs"
}

for build in "${builds[@]}"; do
    echo "build: $build"
    case "$build" in
    host) configure_and_build host ;;
    sanitize) configure_and_build host-sanitize -DVRACOINS_SANITIZE=ON ;;
    windows) configure_and_build windows -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" ;;
    *)
        echo "build: unknown build '$build' (host, windows or sanitize)" >&2
        exit 2
        ;;
    esac
done
