#!/usr/bin/env bash
# The Windows build end to end under Wine, with Wine's own regsvr32, registry,
# oleaut32 and urlmon, in a Wine prefix made for this run (64-bit when
# HOLLIN_WINEARCH is win64, for the 64-bit build):
#
#   1. regsvr32 /s hollin.dll, and the registry holds every key of the class,
#      the type library and the URL scheme's handler;
#   2. urlbind (a browser-like urlmon host) opens dnswhois URLs against the
#      project's whois server running on Linux loopback, and gets the page
#      bytes that the native dnswhois host gets from hollin.so for the same
#      URL and server; a URL with a syntax error gets the status-3 page;
#      with DefaultServer set in both registries, a simple-shape URL follows
#      a chain of referrals over three ports of the whois server, names with
#      letters beyond ASCII go out in their ASCII form, and an IPv6 default
#      server and an IPv6 literal in a URL reach a whois server on ::1
#      (skipped where ::1, or its port 43 for the literal, cannot be bound);
#      with RdapBootstrap set to the project's RDAP server on loopback, the
#      RDAP pages (a registry's answer and its registrar's, a redirect, an
#      address, an AS number, failures) are the native pages, byte for byte;
#   3. regsvr32 /u /s removes the script's keys, keeps CLSID, and leaves the
#      handler's "CLSID" empty.
#
#   scripts/wine-e2e.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

take_arguments 2 "$@"
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
for file in "$native/hollin-whoisd" "$native/dnswhois" "$native/hollin.so" \
    "$windows/hollin.dll" "$windows/urlbind.exe"; do
    if [ ! -e "$file" ]; then
        echo "wine-e2e: $file is missing: build both targets first" >&2
        exit 2
    fi
done

work=$(mktemp -d)
whoisd6_pids=()
rdapd_pid=
export WINEPREFIX=$work/prefix
cleanup() {
    stop_whoisd
    for pid in "${whoisd6_pids[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    if [ -n "$rdapd_pid" ]; then
        kill "$rdapd_pid" 2>/dev/null && wait "$rdapd_pid" 2>/dev/null
    fi
    wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

echo "== a Wine prefix of this run's own"
use_wine_prefix || exit 1
mkdir -p "$WINEPREFIX/drive_c/hollin"
cp "$windows/hollin.dll" "$windows/urlbind.exe" "$WINEPREFIX/drive_c/hollin/"


# --- the registry, read back with Wine's reg ------------------------------------------

# The data of a REG_SZ value (NAME empty: the default value), or exit 1.
registry_value() {
    local key=$1 name=$2 output
    if [ -z "$name" ]; then
        output=$("$WINE" reg query "$key" /ve 2>/dev/null) || return 1
    else
        output=$("$WINE" reg query "$key" /v "$name" 2>/dev/null) || return 1
    fi
    printf '%s\n' "$output" | tr -d '\r' | sed -n 's/^    .*    REG_SZ    \{0,1\}//p' | head -n 1
}
value_is() {
    local value
    value=$(registry_value "$1" "$2") || return 1
    [ "$value" = "$3" ]
}
key_exists() { "$WINE" reg query "$1" >/dev/null 2>&1; }
key_missing() { ! key_exists "$1"; }

CLSID='{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}'
LIBID='{5D1C7E20-83A4-4B61-9E07-2C44D8A1B6F3}'
IID='{5D1C7E2E-83A4-4B61-9E07-2C44D8A1B6F3}'
CLASS="HKCR\\CLSID\\$CLSID"
HANDLER='HKCR\PROTOCOLS\Handler\dnswhois'
DLL='C:\hollin\hollin.dll'
# The type library's file is registered for the platform the DLL is built for.
TLB_PLATFORM=win32
[ "${HOLLIN_WINEARCH:-win32}" = win64 ] && TLB_PLATFORM=win64

echo "== regsvr32 /s hollin.dll"
check "regsvr32 /s succeeds" "$WINE" regsvr32 /s "$DLL"
check "ProgID: its name" value_is 'HKCR\Tervask.WhoIsProtocol.1' '' 'LocalFileProtocol Class'
check "ProgID: its class" value_is 'HKCR\Tervask.WhoIsProtocol.1\CLSID' '' "$CLSID"
check "version-independent ProgID: its name" \
    value_is 'HKCR\Tervask.WhoIsProtocol' '' 'LocalFileProtocol Class'
check "version-independent ProgID: its class" \
    value_is 'HKCR\Tervask.WhoIsProtocol\CLSID' '' "$CLSID"
check "version-independent ProgID: its current version" \
    value_is 'HKCR\Tervask.WhoIsProtocol\CurVer' '' 'Tervask.WhoIsProtocol.1'
check "class: its name" value_is "$CLASS" '' 'LocalFileProtocol Class'
check "class: ProgID" value_is "$CLASS\\ProgID" '' 'Tervask.WhoIsProtocol.1'
check "class: VersionIndependentProgID" \
    value_is "$CLASS\\VersionIndependentProgID" '' 'Tervask.WhoIsProtocol'
check "class: InprocServer32 is the library's path" value_is "$CLASS\\InprocServer32" '' "$DLL"
check "class: ThreadingModel" value_is "$CLASS\\InprocServer32" ThreadingModel Apartment
check "class: TypeLib" value_is "$CLASS\\TypeLib" '' "$LIBID"
check "handler: CLSID" value_is "$HANDLER" CLSID "$CLSID"
check "type library: registered" value_is "HKCR\\TypeLib\\$LIBID\\1.0" '' 'hollin 1.0 Type Library'
check "type library: its file" value_is "HKCR\\TypeLib\\$LIBID\\1.0\\0\\$TLB_PLATFORM" '' "$DLL"
check "type library: its interface" value_is "HKCR\\Interface\\$IID" '' ILocalFileProtocol

echo "== urlbind's command line"
version=$(sed -n 's/^project(hollin VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
urlbind() { "$WINE" 'C:\hollin\urlbind.exe' "$@" 2>"$work/urlbind.err" | tr -d '\r'; }
says_version() { [ "$(urlbind --version)" = "urlbind $version" ]; }
shows_usage() { urlbind -h | grep -q '^usage: urlbind'; }
refuses() { # refuses MESSAGE ARGS...: exit status 2 and MESSAGE on standard error
    local message=$1
    shift
    "$WINE" 'C:\hollin\urlbind.exe' "$@" >/dev/null 2>"$work/urlbind.err"
    [ $? -eq 2 ] && grep -q -- "$message" "$work/urlbind.err"
}
check "urlbind --version says the project's version" says_version
check "urlbind -h shows its usage" shows_usage
check "urlbind rejects an unknown option" refuses "unknown option --bogus" --bogus x
check "urlbind rejects --timeout=0" refuses "--timeout wants" --timeout=0 x

echo "== pages through urlmon and through the native host"
# Three servers: the first (the default server below) refers chain.example
# to the second, which names the third as the registrar's server.
cat >"$work/iana.txt" <<'EOF'
@@ chain.example
domain:       EXAMPLE
refer:        127.0.0.1:${port2}
EOF
cat >"$work/registry.txt" <<'EOF'
@@ chain.example
   Domain Name: CHAIN.EXAMPLE
   Registrar WHOIS Server: 127.0.0.1:${port3}
EOF
cat >"$work/registrar.txt" <<'EOF'
@@ chain.example
Domain Name: chain.example
Registrant: <b>Example</b> & Co
EOF
start_whoisd "$native/hollin-whoisd" "$work" --record "$work/received" \
    --replies "$work/iana.txt" --port 0 --replies "$work/registry.txt" \
    --port 0 --replies "$work/registrar.txt" --record "$work/registrar-received" \
    2>"$work/whoisd.log"

# Both hosts open URL; their pages must be the same bytes.
same_page() { # same_page URL NAME [URLBIND-OPTION...]
    local url=$1 name=$2
    shift 2
    "$WINE" 'C:\hollin\urlbind.exe' --output="C:\\hollin\\$name.html" --timeout 30000 "$@" -- "$url" ||
        return 1
    "$native/dnswhois" --library "$native/hollin.so" --output "$work/$name.native.html" "$url" ||
        return 1
    cmp -s "$WINEPREFIX/drive_c/hollin/$name.html" "$work/$name.native.html"
}
# A connection reset after part of a reply is left out: under Wine, recv
# reports it as an orderly close, so the Windows page lacks the Socket Error
# lines that Linux and Windows itself give.
for query in example.com hostile large drip close; do
    check "the page for $query is the native page, byte for byte" \
        same_page "dnswhois://127.0.0.1:$whoisd_port/$query" "$query"
done
check "the empty query's page is the native page" same_page "dnswhois://127.0.0.1:$whoisd_port/" empty
check "the whois server saw the query and one line feed" grep -qx '"example.com\\n"' "$work/received"
check "a syntax error gets the native status-3 page" same_page 'dnswhois:x' syntax
check "the status-3 page says so" grep -q 'Syntax error in the URL' "$work/syntax.native.html"

echo "== referrals, international names and IPv6, through urlmon and natively"
# The default server in both registries: Wine's, and the native host's file.
export HOLLIN_REGISTRY=$work/native-registry.reg
# RDAP goes to the loopback bootstrap BASE, or is off (nothing goes to IANA).
set_default_server() { # set_default_server HOST:PORT [BASE]
    "$WINE" reg add 'HKCU\Software\Tervask\WhoIsProtocol' /v DefaultServer /t REG_SZ \
        /d "$1" /f >/dev/null 2>&1
    "$WINE" reg add 'HKCU\Software\Tervask\WhoIsProtocol' /v RdapBootstrap /t REG_SZ \
        /d "${2:-}" /f >/dev/null 2>&1
    write_lookup_settings "$HOLLIN_REGISTRY" "$1" "${2:-}"
}
set_default_server "127.0.0.1:$whoisd_port"
check "the default server is set in Wine's registry" \
    value_is 'HKCU\Software\Tervask\WhoIsProtocol' DefaultServer "127.0.0.1:$whoisd_port"
check "a chain of referrals gives the native page" same_page 'dnswhois:chain.example' chain
check "the chain's page names its three servers" \
    test "$(grep -c '^<B>Reply from 127.0.0.1:' "$work/chain.native.html")" -eq 3
check "the registrar was asked by both hosts" \
    test "$(grep -cx '"chain.example\\n"' "$work/registrar-received")" -eq 2
check "an international name's page is the native page" \
    same_page "dnswhois://127.0.0.1:$whoisd_port/bücher.example" idn
check "its escaped form's page is the native page" \
    same_page "dnswhois://127.0.0.1:$whoisd_port/b%C3%BCcher.example" idn-escaped
check "the simple shape's international name's page is the native page" \
    same_page 'dnswhois:bücher.example' idn-simple
check "both hosts sent the ASCII form, every time" \
    test "$(grep -cx '"xn--bcher-kva.example\\n"' "$work/received")" -eq 6
# A whois server on ::1 at PORT (0: any free one); its port goes to FILE.
start_whoisd6() { # start_whoisd6 PORT FILE
    "$native/hollin-whoisd" --ipv6 --port "$1" --port-file "$2" 2>"$2.log" &
    whoisd6_pids+=($!)
    for _ in $(seq 1 100); do
        if [ -s "$2" ] || ! kill -0 "${whoisd6_pids[-1]}" 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
    [ -s "$2" ]
}
if start_whoisd6 0 "$work/port6"; then
    # Wine 8's urlmon drops a bracketed IPv6 host followed by a port from a
    # URL of a scheme it does not know when it canonicalizes it (Windows
    # keeps it), so the literal with a port is reached as the default server,
    # and in a URL only where the whois port itself can be listened on.
    set_default_server "[::1]:$(cat "$work/port6")"
    check "an IPv6 default server's page is the native page" \
        same_page 'dnswhois:example.com' ipv6-default
    check "the IPv6 page holds the reply" grep -q 'EXAMPLE.COM' "$work/ipv6-default.native.html"
    if start_whoisd6 43 "$work/port6-43"; then
        check "an IPv6 literal's page is the native page" \
            same_page 'dnswhois://[::1]/example.com' ipv6
    else
        echo "skip    IPv6 literal in a URL: cannot listen on [::1]:43 ($(cat "$work/port6-43.log"))"
    fi
else
    echo "skip    IPv6: this machine cannot listen on ::1 ($(cat "$work/port6.log"))"
fi

echo "== RDAP over loopback http://, through urlmon (WinHTTP) and natively (libcurl)"
# hollin-rdapd with the sample bootstrap files and answers; the whois
# server's reply for these queries names no whois server, so both hosts go on
# to RDAP.
start_rdapd() {
    "$native/hollin-rdapd" --routes "$top/tests/rdapd/samples/routes.json" --port 0 \
        --log "$work/rdap.log" >"$work/rdapd.out" 2>"$work/rdapd.err" &
    rdapd_pid=$!
    for _ in $(seq 1 400); do
        grep -q '^listening on ' "$work/rdapd.out" 2>/dev/null && return 0
        kill -0 "$rdapd_pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}
if start_rdapd; then
    rdap_port=$(sed -n 's/^listening on //p' "$work/rdapd.out")
    set_default_server "127.0.0.1:$whoisd_port" "http://127.0.0.1:$rdap_port/bootstrap/"
    check "a registry's RDAP answer and its registrar's give the native page" \
        same_page 'dnswhois:fóo.example' rdap-related
    check "that page holds both answers" \
        test "$(grep -c '^<B>RDAP answer from ' "$work/rdap-related.native.html")" -eq 2
    check "a redirected RDAP question gives the native page" \
        same_page 'dnswhois:moved.example' rdap-redirect
    check "an IPv4 address's RDAP answer gives the native page" \
        same_page 'dnswhois:192.0.2.1' rdap-ipv4
    check "an AS number's RDAP answer gives the native page" \
        same_page 'dnswhois:AS65536' rdap-autnum
    check "an HTTP 500 gives the native failure page" same_page 'dnswhois:broken.example' rdap-500
    check "an answer that is no JSON gives the native failure page" \
        same_page 'dnswhois:notjson.example' rdap-notjson
    check "WinHTTP sent the RDAP media type" \
        test "$(grep -c 'GET /rir/ip/192.0.2.1 application/rdap+json' "$work/rdap.log")" -eq 2
else
    check "hollin-rdapd starts ($(cat "$work/rdapd.err" 2>/dev/null))" false
fi
"$WINE" reg delete 'HKCU\Software\Tervask\WhoIsProtocol' /f >/dev/null 2>&1

echo "== regsvr32 /u /s hollin.dll"
check "regsvr32 /u /s succeeds" "$WINE" regsvr32 /u /s "$DLL"
for key in 'HKCR\Tervask.WhoIsProtocol.1' 'HKCR\Tervask.WhoIsProtocol' "$CLASS" \
    "HKCR\\TypeLib\\$LIBID" "HKCR\\Interface\\$IID"; do
    check "removed: $key" key_missing "$key"
done
check "kept: HKCR\\CLSID" key_exists 'HKCR\CLSID'
check "handler: CLSID is the empty string" value_is "$HANDLER" CLSID ''
check "a second regsvr32 /u /s succeeds" "$WINE" regsvr32 /u /s "$DLL"
check "handler: CLSID is still the empty string" value_is "$HANDLER" CLSID ''

checks_passed "wine end to end"
