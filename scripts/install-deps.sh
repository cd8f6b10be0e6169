#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need, and only those not yet installed; further
# packages named as arguments (for commands beyond the tests, such as the benchmarks) come along.
# Runs as root (or through sudo); quiet unless something goes wrong.
#
# Usage: scripts/install-deps.sh [package ...]
set -euo pipefail

packages=(
    cmake ninja-build g++ libgtest-dev libgmock-dev          # host build and its tests
    mingw-w64 g++-mingw-w64-x86-64                           # Windows build: MinGW-w64's headers and libraries,
    clang lld llvm-14                                        # compiled by clang, linked by lld (llvm-14: windres, objcopy)
    osslsigncode openssl                                     # test signing of the DLL
    wine wine64                                              # running the Windows programs
    libdw-dev libelf-dev pkg-config                          # call-site resolution on the host
    file binutils                                            # checks of the built DLL (and llvm-14's readobj, pdbutil)
    valgrind                                                 # the leak check of the unloaded module
    clang libclang-rt-14-dev                                 # fuzzing (libFuzzer) under AddressSanitizer
    clang-format
    "$@"
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
# Wine's recommended packages stay in: the Wine tests run against the prefix that a normal install gives.
"${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
