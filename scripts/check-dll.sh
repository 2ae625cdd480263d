#!/usr/bin/env bash
# Checks what hollin.dll shows the system: a 32-bit (i386) PE DLL, or with
# HOLLIN_PE_FORMAT=pei-x86-64 a 64-bit (PE32+, x86-64) one, named
# hollin.DLL, exporting exactly the four entry points of an in-process server
# under their plain names, and importing system DLLs only.
#
#   scripts/check-dll.sh PATH/hollin.dll
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

case "${1:-}" in
"" | -h | --help)
    usage_from_header
    [ -n "${1:-}" ] && exit 0 || exit 2
    ;;
esac
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
dump=$("$objdump" -p "$dll") || exit 1

passed=0
failed=0
check() {
    if [ "$2" = "$3" ]; then
        passed=$((passed + 1))
        echo "ok      $1"
    else
        failed=$((failed + 1))
        printf 'FAILED  %s\n  expected: %s\n  found:    %s\n' "$1" "$3" "$2"
    fi
}

format=$(printf '%s\n' "$dump" | sed -n 's/^.*file format \(.*\)$/\1/p' | head -n 1)
expected_format=${HOLLIN_PE_FORMAT:-pei-i386}
check "a $expected_format file" "$format" "$expected_format"
characteristics=$(printf '%s\n' "$dump" | grep -c -E '^\s+DLL$')
check "a DLL" "$characteristics" 1
module=$(printf '%s\n' "$dump" | sed -n 's/^Name[[:space:]]*[0-9a-f]* \(.*\)$/\1/p')
check "module name" "$module" hollin.DLL
exports=$(printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | tr '\n' ' ')
check "exports" "$exports" "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
system='^(ADVAPI32|KERNEL32|msvcrt|OLE32|OLEAUT32|USER32|WS2_32)\.dll$'
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
others=$(printf '%s\n' "$imports" | grep -v -i -E "$system" | tr '\n' ' ')
check "imports system DLLs only ($(echo $imports))" "$others" ""

echo "hollin.dll: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
