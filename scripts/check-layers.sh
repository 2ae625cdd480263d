#!/usr/bin/env bash
# Checks the layering of hollin's folders: each is a library on a rung of a
# ladder (platform, then support, then protocol and toolkit, then server,
# then the hosts), and no file includes a header of a higher rung or of
# another library on its own rung. Outside platform/, the only platform
# header included is platform/winapi.h. With --build DIR, it also builds
# each folder library alone, in rung order, in a fresh build folder DIR.
#
#   scripts/check-layers.sh [--build DIR]
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
. scripts/lib.sh

build_dir=
case "${1:-}" in
--build)
    build_dir=${2:?"check-layers: --build needs a folder"}
    ;;
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

# The rung of each folder; folders of one rung may not include each other.
declare -A rung=([platform]=0 [support]=1 [protocol]=2 [toolkit]=2 [server]=3 [host]=4)

faults=0
for folder in "${!rung[@]}"; do
    while IFS=: read -r file line text; do
        included=$(sed -E 's/.*#include "([^"]*)".*/\1/' <<<"$text")
        target=${included%%/*}
        [ -n "${rung[$target]:-}" ] || continue
        if [ "$target" != "$folder" ] && [ "${rung[$target]}" -ge "${rung[$folder]}" ]; then
            echo "$file:$line: $folder (rung ${rung[$folder]}) includes $included (rung ${rung[$target]})" >&2
            faults=$((faults + 1))
        elif [ "$target" = platform ] && [ "$folder" != platform ] &&
            [ "$included" != platform/winapi.h ]; then
            echo "$file:$line: $folder includes $included; outside platform/ only platform/winapi.h" >&2
            faults=$((faults + 1))
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include "' "$folder"/*.h "$folder"/*.cpp 2>/dev/null || true)
done
if [ "$faults" -ne 0 ]; then
    echo "check-layers: $faults include(s) against the ladder" >&2
    exit 1
fi
echo "check-layers: every include goes down the ladder"

if [ -n "$build_dir" ]; then
    rm -rf "$build_dir"
    cmake -S . -B "$build_dir" -DHOLLIN_WERROR=ON >/dev/null
    for library in hollin_platform hollin_support hollin_protocol hollin_toolkit hollin_server; do
        echo "check-layers: building $library alone"
        cmake --build "$build_dir" --target "$library" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
    done
    echo "check-layers: each folder library builds alone"
fi
