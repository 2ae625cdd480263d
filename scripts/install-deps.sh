#!/usr/bin/env bash
# Installs what building and testing hollin needs, when it is missing: the
# native toolchain with GoogleTest and the tools the installation is checked
# with (man, desktop-file-validate, dpkg-shlibdeps for the Debian package),
# and (not with --native) the 32- and 64-bit mingw-w64 cross toolchains and
# tools, 32- and 64-bit Wine, and wixl and msitools for the MSI packages.
# Installs only as root; otherwise it says what is missing.
#
#   scripts/install-deps.sh [--native]
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

native_only=0
case "${1:-}" in
--native) native_only=1 ;;
-h | --help)
    usage_from_header
    exit 0
    ;;
"") ;;
*)
    usage_from_header >&2
    exit 2
    ;;
esac

# The packages, each with a command or file that shows it is installed. When
# one is missing, all of them go to apt-get, which leaves alone what is there.
packages=()
missing=()
need() { # need PACKAGE COMMAND-OR-FILE
    packages+=("$1")
    case $2 in
    /*) [ -f "$2" ] ;;
    *) command -v "$2" >/dev/null 2>&1 ;;
    esac || missing+=("$1")
}
need cmake cmake
need g++ g++
need make make
need googletest /usr/src/googletest/CMakeLists.txt
need libidn2-dev /usr/include/idn2.h
need libbenchmark-dev /usr/include/benchmark/benchmark.h
need man-db man
need desktop-file-utils desktop-file-validate
need dpkg-dev dpkg-shlibdeps
need xdg-utils xdg-open
# HttpFetch's transport, and the RDAP test server with the certificates its
# HTTPS test makes.
need libcurl4-openssl-dev curl-config
need python3 python3
need openssl openssl
# The fuzzers (clang with libFuzzer and the sanitizers' runtimes) and the
# browser test's headless Chromium.
need clang clang++
need libfuzzer-14-dev /usr/lib/llvm-14/lib/libFuzzer.a
need libclang-rt-14-dev /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a
need chromium chromium
if [ "$native_only" = 0 ]; then
    need mingw-w64 i686-w64-mingw32-g++-posix
    need g++-mingw-w64-x86-64-posix x86_64-w64-mingw32-g++-posix
    need mingw-w64-tools i686-w64-mingw32-widl
    need wine wine
    need wine32:i386 /usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll
    need wine64 /usr/lib/wine/wine64
    need wixl wixl
    need msitools msiinfo
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
if [ "$native_only" = 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq "${packages[@]}" >/dev/null
