#!/usr/bin/env bash
# Installs what building and testing hollin needs, when it is missing: the
# native toolchain with GoogleTest, the mingw-w64 cross toolchain and tools,
# and 32-bit Wine (not with --native). Installs only as root; otherwise it
# says what is missing.
#
#   scripts/install-deps.sh [--native]
set -euo pipefail

native_only=0
[ "${1:-}" = --native ] && native_only=1

missing=()
need() { command -v "$1" >/dev/null 2>&1 || missing+=("$2"); }
need cmake cmake
need g++ g++
need make make
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
if [ "$native_only" = 0 ]; then
    need i686-w64-mingw32-g++-posix mingw-w64
    need i686-w64-mingw32-widl mingw-w64-tools
    need wine wine
    [ -f /usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll ] || missing+=(wine32:i386)
fi

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" != 0 ]; then
    echo "install-deps: missing ${missing[*]}; run as root to install them" >&2
    exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
packages=(cmake g++ make googletest)
if [ "$native_only" = 0 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    packages+=(mingw-w64 mingw-w64-tools wine wine32:i386)
fi
apt-get update -qq
apt-get install -y -qq "${packages[@]}" >/dev/null
