#!/usr/bin/env bash
# Checks the product code's style: clang-format (layout, .clang-format) on
# every C++ file of the product and the tests, and clang-tidy (names and
# bug-prone patterns, .clang-tidy) on the product's sources, with the
# compile commands of the native build folder BUILD_DIR (configured here
# when it has none yet).
#
#   scripts/check-style.sh [BUILD_DIR]      default: build
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
. scripts/lib.sh

case "${1:-}" in
-h | --help)
    usage_from_header
    exit 0
    ;;
esac
build_dir=${1:-build}

mapfile -t formatted < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${formatted[@]}"
echo "check-style: clang-format: ${#formatted[@]} files as formatted"

cmake -S . -B "$build_dir" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# The Windows-only sources are not in the native build's compile commands.
mapfile -t sources < <(git ls-files 'platform/*.cpp' 'support/*.cpp' 'protocol/*.cpp' \
    'toolkit/*.cpp' 'server/*.cpp' 'host/*.cpp' |
    grep -v '^host/urlbind\.cpp$\|^platform/idna_windows\.cpp$\|^platform/http_winhttp\.cpp$')
report=$(mktemp)
trap 'rm -f "$report"' EXIT
printf '%s\n' "${sources[@]}" |
    xargs -P "$(nproc 2>/dev/null || echo 2)" -n 4 clang-tidy -p "$build_dir" --quiet \
        >"$report" 2>/dev/null || true
if grep -q 'warning:\|error:' "$report"; then
    grep -A3 'warning:\|error:' "$report" >&2
    echo "check-style: clang-tidy reported the above" >&2
    exit 1
fi
echo "check-style: clang-tidy: ${#sources[@]} sources clean"
