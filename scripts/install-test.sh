#!/usr/bin/env bash
# Checks hollin's Linux installation from a native build:
#
#   1. cmake --install into a stage holds the hosts, the library, a man page
#      per host (each rendered by man -l), the desktop entry (valid, claiming
#      dnswhois: links for dnswhois --open %u) and the README;
#   2. the staged dnswhois, with no registration, serves dnswhois URLs and
#      bare queries (`dnswhois example.com` asking the shipped whois server, set
#      as the default server) through the installed library, with the same
#      page bytes as the build's dnswhois and hollin.so;
#   3. cpack makes hollin_VERSION_ARCH.deb, with its dependencies declared
#      and installable here (apt-get's simulation), holding the same files;
#      unpacked into a scratch root, its dnswhois answers as in 2.
#
#   scripts/install-test.sh BUILD_DIR
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

take_arguments 1 "$@"
if [ ! -x "$1/dnswhois" ]; then
    echo "install-test: $1/dnswhois is missing: build first" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
version=$(sed -n 's/^project(hollin VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")

work=$(mktemp -d)
cleanup() {
    stop_whoisd
    rm -rf "$work"
}
trap cleanup EXIT
# No registration anywhere: the installed library must serve on its own.
export HOLLIN_REGISTRY=$work/no-registry.reg


hosts="dnswhois regsvr hollin-tree hollin-whoisd"
# The files of an installation under ROOT (its prefix).
holds_the_installation() {
    local root=$1 file
    for file in $hosts; do
        [ -x "$root/bin/$file" ] && [ -f "$root/share/man/man1/$file.1" ] || return 1
    done
    [ -f "$root/lib/hollin/hollin.so" ] && [ -f "$root/share/doc/hollin/README.md" ] &&
        [ -f "$root/share/applications/hollin-dnswhois.desktop" ]
}
renders() { # a man page, with no complaint from man or groff
    local text
    text=$(MANWIDTH=80 man -l "$1" 2>"$work/man.err") && [ ! -s "$work/man.err" ] &&
        grep -q '^NAME' <<<"$text" && grep -q "hollin $version" <<<"$text"
}
claims_the_scheme() {
    grep -qx 'MimeType=x-scheme-handler/dnswhois;' "$1" && grep -qx 'Exec=dnswhois --open %u' "$1"
}
# ROOT/bin/dnswhois ARGS... gives the page the build's dnswhois gives for URL.
same_page() { # same_page ROOT URL ARGS...
    local root=$1 url=$2
    shift 2
    "$root/bin/dnswhois" "$@" >"$work/installed.html" || return 1
    "$build/dnswhois" --library "$build/hollin.so" "$url" >"$work/built.html" || return 1
    cmp -s "$work/installed.html" "$work/built.html"
}
# With the shipped whois server as the default server (the only setting in
# the registry file: still no registration), a bare query asks it.
asks_the_default_server() { # asks_the_default_server ROOT ARGS...
    local root=$1
    shift
    write_lookup_settings "$work/settings.reg" "127.0.0.1:$whoisd_port"
    HOLLIN_REGISTRY=$work/settings.reg same_page "$root" dnswhois:example.com "$@" &&
        grep -q 'Reply from 127.0.0.1:' "$work/installed.html" &&
        grep -q 'Domain Name: EXAMPLE.COM' "$work/installed.html"
}
serves_without_registration() { # serves_without_registration ROOT
    local root=$1 url="dnswhois://127.0.0.1:$whoisd_port/example.com"
    same_page "$root" "$url" "$url" &&
        same_page "$root" "$url" --library "$root/lib/hollin/hollin.so" "$url" &&
        same_page "$root" "$url" "//127.0.0.1:$whoisd_port/example.com" &&
        same_page "$root" dnswhois:x x &&
        asks_the_default_server "$root" example.com &&
        asks_the_default_server "$root" --library "$root/lib/hollin/hollin.so" example.com
}

echo "== cmake --install"
stage=$work/stage
install_stage() {
    cmake --install "$build" --prefix "$stage" >"$work/install.log" 2>&1 || {
        cat "$work/install.log"
        return 1
    }
}
check "cmake --install succeeds" install_stage
check "the stage holds hosts, library, man pages, desktop entry, README" \
    holds_the_installation "$stage"
for host in $hosts; do
    check "man -l renders $host.1" renders "$stage/share/man/man1/$host.1"
done
desktop=$stage/share/applications/hollin-dnswhois.desktop
check "desktop-file-validate passes on the desktop entry" desktop-file-validate "$desktop"
check "the desktop entry claims dnswhois: links for dnswhois --open %u" claims_the_scheme "$desktop"

echo "== the staged programs, with no registry file"
start_whoisd "$stage/bin/hollin-whoisd" "$work" 2>"$work/whoisd.log"
check "dnswhois serves URLs, --library and bare queries as the build does" \
    serves_without_registration "$stage"

echo "== cpack: the Debian package"
rm -f "$build"/hollin_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || cat "$work/cpack.log"
deb=$build/hollin_${version}_$(dpkg --print-architecture).deb
check "cpack makes $(basename "$deb")" test -f "$deb"
depends=$(dpkg-deb -f "$deb" Depends 2>/dev/null)
declares_dependencies() {
    local package
    for package in libc6 libstdc++6 xdg-utils libidn2-0 libcurl4; do
        grep -q "$package" <<<"$depends" || return 1
    done
}
installable() { apt-get install -s "$deb" >"$work/apt.log" 2>&1; }
check "it depends on the C and C++ runtimes, xdg-utils, libidn2 and libcurl ($depends)" declares_dependencies
check "apt-get can install it here, offline (simulated)" installable
root=$work/root
dpkg-deb -x "$deb" "$root" 2>/dev/null
check "the package holds hosts, library, man pages, desktop entry, README" \
    holds_the_installation "$root/usr"
check "the unpacked dnswhois serves as the build does" serves_without_registration "$root/usr"

checks_passed "install test"
