#!/usr/bin/env bash
# hollin's MSI packages under 64-bit Wine, in a Wine prefix made for this run:
#
#   1. the reference: regsvr32 of the 64-bit DLL, and the 32-bit DLL's
#      registration in the 32-bit registry view (32-bit programs cannot run on
#      every machine, so it is imported: the 64-bit registration's keys with
#      the 32-bit DLL's path and "win32" for the type library), both DLLs where
#      the packages put them; then all of it removed again;
#   2. msiexec /i hollin-x64.msi /qn leaves hollin's keys in both views exactly
#      as the reference, key by key and value by value, and the 64-bit urlmon
#      host then gets the native page for a dnswhois URL;
#   3. a newer hollin-x64.msi (the same source, version 99.0.0.0) replaces it:
#      one hollin is installed afterwards, the newer;
#   4. msiexec /x leaves the registry as it was before the install (no key of
#      hollin's, the foreign keys planted beforehand intact) and no file;
#   5. the same for hollin-x86.msi against the 32-bit registration alone.
#
#   scripts/msi-test.sh NATIVE_BUILD_DIR WIN32_BUILD_DIR WIN64_BUILD_DIR
#
# The packages are WIN32_BUILD_DIR/hollin-x86.msi and WIN64_BUILD_DIR/hollin-x64.msi.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

take_arguments 3 "$@"
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native=$(cd "$1" && pwd)
win32=$(cd "$2" && pwd)
win64=$(cd "$3" && pwd)
for file in "$native/hollin-whoisd" "$native/dnswhois" "$native/hollin.so" "$win64/urlbind.exe" \
    "$win32/hollin.dll" "$win32/hollin-x86.msi" "$win64/hollin.dll" "$win64/hollin-x64.msi"; do
    if [ ! -e "$file" ]; then
        echo "msi-test: $file is missing: build the native build, both Windows builds and their packages" >&2
        exit 2
    fi
done

work=$(mktemp -d)
export WINEPREFIX=$work/prefix HOLLIN_WINEARCH=win64
cleanup() {
    stop_whoisd
    wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

echo "== a 64-bit Wine prefix of this run's own"
use_wine_prefix || exit 1
drive=$WINEPREFIX/drive_c
mkdir -p "$drive/msi"
cp "$win64/hollin-x64.msi" "$win32/hollin-x86.msi" "$win64/urlbind.exe" "$drive/msi/"
# Where the packages put the DLLs.
dir64='C:\Program Files\hollin'
dir32='C:\Program Files (x86)\hollin'
file64="$drive/Program Files/hollin/hollin.dll"
file32="$drive/Program Files (x86)/hollin/hollin.dll"

# The classes part of the registry, both views, as sorted "[KEY]" and
# "[KEY] VALUE" lines. Keys that hold no value, themselves or below, are left
# out: Wine's installer makes the empty Installer keys and removes a key it
# emptied even when it was there before (the empty Wow6432Node\Interface).
# With --hollin only hollin's keys, empty or not, the library's path under
# InprocServer32 aside (regsvr32 registers the short form of the folder).
snapshot() {
    "$WINE" regedit /E 'C:\snapshot.reg' 'HKEY_LOCAL_MACHINE\Software\Classes' || return 1
    iconv -f UTF-16 -t UTF-8 "$drive/snapshot.reg" | tr -d '\r' >"$work/snapshot.reg"
    if [ "${1:-}" = --hollin ]; then
        awk '/^\[/ { key = $0; print key; next } /^$/ { next } { print key " " $0 }' \
            "$work/snapshot.reg" | { grep -E '5D1C7E2|Tervask\.WhoIsProtocol|\\Handler\\dnswhois' || true; } |
            LC_ALL=C sort
        return
    fi
    awk '/^\[/ { key = substr($0, 2, length($0) - 2); keys[++count] = key; next }
        /^$/ || /^REGEDIT/ || /^Windows Registry/ { next }
        { values[key] = values[key] "[" key "] " $0 "\n"; held[key] = 1 }
        END {
            for (key in held)
                for (part = key; !(part in kept); sub(/\\[^\\]*$/, "", part)) {
                    kept[part] = 1
                    if (part !~ /\\/) break
                }
            for (i = 1; i <= count; i++)
                if (keys[i] in kept) printf "[%s]\n%s", keys[i], values[keys[i]]
        }' "$work/snapshot.reg" | LC_ALL=C sort
}
as_before() { snapshot >"$work/after" && diff "$work/before" "$work/after"; }
no_hollin_key() { [ -z "$(snapshot --hollin)" ]; }
without_library_path() { sed 's/^\(\[[^]]*\\InprocServer32\] @=\).*/\1PATH/' "$1"; }
same_as() { # same_as FILE: hollin's keys now are those of FILE
    snapshot --hollin >"$work/now" &&
        diff <(without_library_path "$1") <(without_library_path "$work/now")
}
# eventually CHECK...: CHECK holds now or within 10 s. Under load, a CI run
# once failed to see the x86 package's keys right after its install (the
# look at hollin's keys failed outright, as when there are none), while the
# uninstall that followed worked; six runs on an idle machine passed. So a
# check of the registry after msiexec is made again for a while, and only its
# last try says what differs.
eventually() {
    local try
    for try in $(seq 19); do
        if "$@" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.5
    done
    "$@"
}
reg_import() { # reg_import VIEW FILE
    "$WINE" reg import "Z:$2" "/reg:$1" >/dev/null 2>&1
}
# The 32-bit DLL's registration, as a .reg file made from the 64-bit one's
# keys (64-bit view only); with --without-helpdir it leaves the type
# library's HELPDIR (a key both views share) to the 64-bit registration.
registration32() {
    {
        echo 'REGEDIT4'
        grep -v 'Wow6432Node' "$work/registered64" | grep -v '^\[[^]]*\] ' |
            while IFS= read -r key; do
                if [ "${1:-}" = --without-helpdir ] && [[ $key == *'\HELPDIR]' ]]; then
                    continue
                fi
                echo
                echo "${key/\\win64]/\\win32]}"
                grep -F "$key " "$work/registered64" | cut -c $((${#key} + 2))- |
                    sed 's/Program Files\\\\hollin/Program Files (x86)\\\\hollin/'
            done
    } >"$work/registration32.reg"
}
# Deletes hollin's keys in both views (the 32-bit one seen through
# Wow6432Node from the 64-bit one).
remove_hollin_keys() {
    local key view
    {
        echo 'REGEDIT4'
        for view in '' 'Wow6432Node\'; do
            for key in 'CLSID\{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}' 'Tervask.WhoIsProtocol' \
                'Tervask.WhoIsProtocol.1' 'PROTOCOLS\Handler\dnswhois' \
                'TypeLib\{5D1C7E20-83A4-4B61-9E07-2C44D8A1B6F3}' \
                'Interface\{5D1C7E2E-83A4-4B61-9E07-2C44D8A1B6F3}'; do
                echo "[-HKEY_LOCAL_MACHINE\\Software\\Classes\\$view$key]"
            done
        done
    } >"$work/remove.reg"
    reg_import 64 "$work/remove.reg"
}
install_dlls() {
    mkdir -p "$(dirname "$file64")" "$(dirname "$file32")" &&
        cp "$win64/hollin.dll" "$file64" && cp "$win32/hollin.dll" "$file32"
}
remove_dlls() { rm -rf "$(dirname "$file64")" "$(dirname "$file32")"; }
# Another product's handler and class, in both views, as in the last snapshot.
foreign=(
    '[HKEY_LOCAL_MACHINE\Software\Classes\PROTOCOLS\Handler\foreign] "CLSID"="{0F0F0F0F-1111-2222-3333-444444444444}"'
    '[HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{0F0F0F0F-1111-2222-3333-444444444444}] @="Foreign Class"'
    '[HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\CLSID\{0F0F0F0F-1111-2222-3333-444444444444}] @="Foreign Class"'
)
foreign_keys_intact() {
    local line
    for line in "${foreign[@]}"; do
        grep -qxF "$line" "$work/after" || return 1
    done
}
no_file_left() { [ ! -e "$file64" ] && [ ! -e "$file32" ]; }
msiexec() { "$WINE" msiexec "$@" >/dev/null 2>&1; }

echo "== another product's keys, planted in both views"
cat >"$work/foreign.reg" <<'KEYS'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Classes\PROTOCOLS\Handler\foreign]
"CLSID"="{0F0F0F0F-1111-2222-3333-444444444444}"

[HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{0F0F0F0F-1111-2222-3333-444444444444}]
@="Foreign Class"
KEYS
reg_import 64 "$work/foreign.reg" && reg_import 32 "$work/foreign.reg"
snapshot >"$work/before"
cp "$work/before" "$work/after"
check "the foreign keys are there" foreign_keys_intact

echo "== the reference: regsvr32 of each DLL"
install_dlls
check "regsvr32 /s of the 64-bit DLL succeeds" "$WINE" regsvr32 /s "$dir64\\hollin.dll"
snapshot --hollin >"$work/registered64"
registration32 --without-helpdir
check "the 32-bit registration imports into the 32-bit view" \
    reg_import 32 "$work/registration32.reg"
snapshot --hollin >"$work/reference-x64"
registration32
remove_hollin_keys
check "the 32-bit registration alone imports" reg_import 32 "$work/registration32.reg"
snapshot --hollin >"$work/reference-x86"
remove_hollin_keys
remove_dlls
check "the reference is gone again" as_before

echo "== hollin-x64.msi"
check "msiexec /i hollin-x64.msi /qn succeeds" msiexec /i 'C:\msi\hollin-x64.msi' /qn
check "hollin's keys are regsvr32's, in both views" eventually same_as "$work/reference-x64"
start_whoisd "$native/hollin-whoisd" "$work" 2>"$work/whoisd.log"
url="dnswhois://127.0.0.1:$whoisd_port/example.com"
"$native/dnswhois" --library "$native/hollin.so" "$url" >"$work/native.html"
native_page() {
    "$WINE" 'C:\msi\urlbind.exe' --output 'C:\msi\page.html' "$url" &&
        cmp -s "$drive/msi/page.html" "$work/native.html"
}
check "the 64-bit urlmon host gets the native page" native_page
# The same package with a newer version, as the build makes it.
(cd "$win64" && wixl -a x64 -D Platform=x64 -D Version=99.0.0.0 \
    -D Dll32="$(realpath --relative-to=. "$win32/hollin.dll")" -D Dll64=hollin.dll \
    -o "$drive/msi/hollin-x64-newer.msi" "$top/packaging/hollin.wxs" 2>/dev/null)
installed_versions() {
    "$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
        tr -d '\r' | awk '$1 == "DisplayName" { name = $3 } $1 == "DisplayVersion" && name == "hollin" { print $3 }'
}
check "a newer package installs over it" msiexec /i 'C:\msi\hollin-x64-newer.msi' /qn
only_newer_installed() { [ "$(installed_versions)" = 99.0.0.0 ]; }
check "and replaces it: one hollin, the newer" eventually only_newer_installed
check "msiexec /x of the newer package succeeds" msiexec /x 'C:\msi\hollin-x64-newer.msi' /qn
check "no key of hollin's is left" eventually no_hollin_key
check "the registry is as before the install" eventually as_before
check "the foreign keys survive" eventually foreign_keys_intact
check "no file is left" eventually no_file_left

echo "== hollin-x86.msi"
check "msiexec /i hollin-x86.msi /qn succeeds" msiexec /i 'C:\msi\hollin-x86.msi' /qn
check "hollin's keys are the 32-bit registration's" eventually same_as "$work/reference-x86"
check "msiexec /x hollin-x86.msi /qn succeeds" msiexec /x 'C:\msi\hollin-x86.msi' /qn
check "no key of hollin's is left" eventually no_hollin_key
check "the registry is as before the install" eventually as_before
check "the foreign keys survive" eventually foreign_keys_intact
check "no file is left" eventually no_file_left

checks_passed "msi test"
