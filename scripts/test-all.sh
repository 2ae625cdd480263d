#!/usr/bin/env bash
# Builds hollin twice and runs every test: natively (ctest), then the
# Windows build, whose tests run under 32-bit Wine. Installs what it needs
# first when run as root on a fresh machine.
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
cmake --build build-win -j "$jobs"

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
