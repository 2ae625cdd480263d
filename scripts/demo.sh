#!/usr/bin/env bash
# hollin's main job, end to end on this machine and without the Internet:
# builds the native side when needed, registers the fresh hollin.so in a
# registry file of the demo's own (not the user's), starts the project's
# whois server on 127.0.0.1, and opens a dnswhois URL through the dnswhois
# host (the browser's stand-in, which finds hollin through the registry as a
# browser does), printing the page it gets.
#
#   scripts/demo.sh [QUERY]      (default QUERY: example.com)
#
# Try the queries the test server scripts: close, silent, reset, large, drip,
# hostile; or a URL error with scripts/demo.sh --url dnswhois:x
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
. scripts/lib.sh

query=example.com
url=
case "${1:-}" in
-h | --help)
    usage_from_header
    exit 0
    ;;
--url)
    url=${2:?--url needs a URL}
    ;;
"") ;;
*) query=$1 ;;
esac

scripts/install-deps.sh --native
echo "demo: building the native side..." >&2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target hollin dnswhois regsvr hollin-whoisd \
    >/dev/null

work=$(mktemp -d)
cleanup() {
    stop_whoisd
    rm -rf "$work"
}
trap cleanup EXIT

export HOLLIN_REGISTRY=$work/registry.reg
build/regsvr build/hollin.so
echo "demo: registered build/hollin.so in $HOLLIN_REGISTRY" >&2

start_whoisd build/hollin-whoisd "$work"
url=${url:-dnswhois://127.0.0.1:$whoisd_port/$query}

echo "demo: whois server on 127.0.0.1:$whoisd_port; opening $url" >&2
build/dnswhois "$url"
