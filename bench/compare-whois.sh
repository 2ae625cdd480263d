#!/usr/bin/env bash
# Times dnswhois with hollin.so against Debian's whois, each as a whole
# process, against one hollin-whoisd on 127.0.0.1: for each query, RUNS pairs
# (after two pairs to warm up), the two programs alternating and taking turns
# to go first, and prints the median wall time of each. Needs the whois
# package.
#
#   bench/compare-whois.sh [BUILD_DIR [RUNS]]    (default: build, 20)
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$top/scripts/lib.sh"
case "${1:-}" in
-h | --help)
    usage_from_header
    exit 0
    ;;
esac
build=$(cd "${1:-$top/build}" && pwd)
runs=${2:-20}
command -v whois >/dev/null || {
    echo "compare-whois: whois is not installed (apt-get install whois)" >&2
    exit 1
}

work=$(mktemp -d)
trap 'stop_whoisd; rm -rf "$work"' EXIT
start_whoisd "$build/hollin-whoisd" "$work" >/dev/null 2>&1

# Milliseconds one run of the command takes, to three decimals.
time_ms() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null
    local end=$EPOCHREALTIME
    echo "$(((${end/./} - ${start/./}) / 1000)).$(printf '%03d' $(((${end/./} - ${start/./}) % 1000)))"
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

for query in example.com large; do
    hollin=("$build/dnswhois" --library "$build/hollin.so" "dnswhois://127.0.0.1:$whoisd_port/$query")
    debian=(whois -h 127.0.0.1 -p "$whoisd_port" "$query")
    : >"$work/hollin" && : >"$work/debian"
    for i in $(seq -2 "$runs"); do
        if [ $((i % 2)) = 0 ]; then
            a=$(time_ms "${hollin[@]}") && b=$(time_ms "${debian[@]}")
        else
            b=$(time_ms "${debian[@]}") && a=$(time_ms "${hollin[@]}")
        fi
        if [ "$i" -gt 0 ]; then
            echo "$a" >>"$work/hollin" && echo "$b" >>"$work/debian"
        fi
    done
    echo "$query: dnswhois $(median <"$work/hollin") ms, whois $(median <"$work/debian") ms" \
        "(median of $runs runs each, alternated)"
done
