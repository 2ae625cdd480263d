#!/usr/bin/env bash
# Builds the fuzzers of fuzz/ (clang, libFuzzer, AddressSanitizer and UBSan)
# in build-fuzz and runs each for SECONDS (60 by default) over its seed
# corpus, reporting the executions each made. A crash, leak or sanitizer
# report stops the run with the fuzzer's output and the input that caused it,
# which goes into fuzz/corpus/NAME/ once the fault is fixed.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
. scripts/lib.sh

seconds=60
case "${1:-}" in
-h | --help)
    usage_from_header
    exit 0
    ;;
"") ;;
*[!0-9]* | 0)
    echo "fuzz: SECONDS must be a whole number above 0 (see --help)" >&2
    exit 2
    ;;
*) seconds=$1 ;;
esac

build=build-fuzz
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOLLIN_FUZZ=ON -DHOLLIN_WERROR=ON >/dev/null
cmake --build "$build" --target fuzzers -j "$(nproc 2>/dev/null || echo 2)"

# What a run finds (and new inputs it makes) goes to a scratch folder; the
# repository's corpus only gains inputs by hand, with the fix they prove.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The fuzzers that write files on every run write them to memory.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

failed=0
for source in fuzz/*_fuzzer.cpp; do
    name=$(basename "$source" _fuzzer.cpp)
    mkdir -p "$work/$name"
    log="$work/$name.log"
    if "$build/fuzz/${name}_fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=25 \
        -artifact_prefix="$work/$name-" "$work/$name" "fuzz/corpus/$name" >"$log" 2>&1; then
        runs=$(sed -nE 's/^Done ([0-9]+) runs.*/\1/p' "$log")
        echo "fuzz: $name: ${runs:-?} executions in ${seconds} s, nothing found"
    else
        echo "fuzz: $name FAILED; its output:" >&2
        tail -n 60 "$log" >&2
        for artifact in "$work/$name"-*; do
            [ -e "$artifact" ] || continue
            mkdir -p "$build/fuzz/found"
            cp "$artifact" "$build/fuzz/found/"
            echo "fuzz: the input is kept as $build/fuzz/found/$(basename "$artifact")" >&2
        done
        failed=1
    fi
done
exit "$failed"
