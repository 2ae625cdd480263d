#!/usr/bin/env bash
# Builds hollin and runs every test: natively (ctest), then the 32-bit and
# 64-bit Windows builds, whose tests run under 32-bit and 64-bit Wine.
# Installs what it needs first when run as root on a fresh machine.
#
#   scripts/test-all.sh [--native-only]
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
. scripts/lib.sh
jobs=$(nproc 2>/dev/null || echo 2)

native_only=0
case "${1:-}" in
--native-only) native_only=1 ;;
-h | --help)
    usage_from_header
    exit 0
    ;;
"") ;;
*)
    echo "test-all: unknown option $1 (see --help)" >&2
    exit 2
    ;;
esac

step() { printf '\n== %s\n' "$*"; }

step "prerequisites"
scripts/install-deps.sh

step "layers"
scripts/check-layers.sh --build build-layers

step "native build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOLLIN_WERROR=ON >/dev/null
cmake --build build -j "$jobs"

step "style"
scripts/check-style.sh build

step "native tests"
ctest --test-dir build --output-on-failure -j "$jobs"

step "linux installation and Debian package"
scripts/install-test.sh build

# The same tests again under the sanitizers: memory errors, leaks and
# undefined behaviour (address), then data races between the browser's thread
# and the request's worker (thread).
for sanitizer in address thread; do
    step "native tests under the $sanitizer sanitizer"
    cmake -S . -B "build-$sanitizer" -DCMAKE_BUILD_TYPE=Debug -DHOLLIN_SANITIZE=$sanitizer \
        -DHOLLIN_WERROR=ON >/dev/null
    cmake --build "build-$sanitizer" -j "$jobs"
    ctest --test-dir "build-$sanitizer" --output-on-failure -j "$jobs"
done

# Every fuzzer for a short while, so that they keep building and their seeds
# keep passing; scripts/fuzz.sh runs them longer.
step "fuzzers (20 s each)"
scripts/fuzz.sh 20

if [ "$native_only" = 1 ]; then
    exit 0
fi

step "windows build"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release -DHOLLIN_WERROR=ON >/dev/null
cmake --build build-win -j "$jobs" --target all msi

step "windows tests under Wine"
if can_run_i386; then
    ctest --test-dir build-win --output-on-failure
else
    # The DLL is still checked; only what must run it under Wine is left out.
    echo "test-all: this machine cannot run 32-bit programs (the kernel refuses them:"
    echo "test-all: \"Exec format error\"), so 32-bit Wine cannot start: skipping the"
    echo "test-all: Wine tests of build-win; checking the DLL's exports and imports only"
    ctest --test-dir build-win --output-on-failure -R '^dll_exports_and_imports$'
fi

# The 64-bit DLL, and the x64 package with both DLLs. Its tests run under
# 64-bit Wine, which every x86-64 machine runs: the unit tests, the end to
# end test, and both packages installed and removed (the x86 package in the
# 64-bit prefix too, where it takes the 32-bit registry view).
step "windows 64-bit build"
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DHOLLIN_WERROR=ON >/dev/null
cmake --build build-win64 -j "$jobs" --target all msi

step "windows 64-bit tests under 64-bit Wine"
ctest --test-dir build-win64 --output-on-failure
