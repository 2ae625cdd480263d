# Helpers the scripts share; sourced, not run.

# Prints the script's leading comment block (after the #! line), without the
# comment marks: its usage text.
usage_from_header() {
    sed -n '2,$ { /^#/!q; s/^# \{0,1\}//p; }' "$0"
}

# A test script's command line: -h or --help prints its usage; any other
# number of arguments than COUNT is bad usage (exit status 2).
take_arguments() { # take_arguments COUNT "$@"
    local count=$1
    shift
    case "${1:-}" in
    -h | --help)
        usage_from_header
        exit 0
        ;;
    esac
    if [ $# -ne "$count" ]; then
        usage_from_header >&2
        exit 2
    fi
}

# Sets Wine up for the prefix WINEPREFIX names: 32-bit, or 64-bit when
# HOLLIN_WINEARCH is win64; quiet; and making the prefix first when it has
# none yet. WINE is then the loader to run programs with (64-bit Wine's own
# loader for win64: Debian's wine command prefers the 32-bit one). When that
# fails, says so with wineboot's messages and returns 1.
use_wine_prefix() {
    export WINEARCH=${HOLLIN_WINEARCH:-win32} WINEDEBUG=-all
    WINE=wine
    if [ "$WINEARCH" = win64 ]; then
        WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
        export WINELOADER=$WINE
    fi
    # No Mono or Gecko installers, no desktop: nothing here needs them. A
    # caller's own overrides (a test without some DLL) come on top.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
    unset DISPLAY
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    mkdir -p "$WINEPREFIX"
    if ! "$WINE" wineboot --init >"$WINEPREFIX/wineboot.log" 2>&1; then
        local name=${0##*/}
        echo "${name%.sh}: could not create the Wine prefix $WINEPREFIX:" >&2
        cat "$WINEPREFIX/wineboot.log" >&2
        return 1
    fi
    wineserver --wait
}

# Whether this machine runs 32-bit x86 programs, as 32-bit Wine must. Some
# virtual machines do not: their kernel refuses the ELF class with "Exec
# format error" whatever is installed. The i386 loader is there once
# wine32:i386 is.
can_run_i386() {
    [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Starts the project's whois server PROGRAM on a port of 127.0.0.1 it picks,
# with ARGS, and waits up to 5 seconds for it to write the port to
# WORK_DIR/port. The port goes to whoisd_port; stop_whoisd ends the server.
# ARGS may hold more "--port 0" options: all the ports, in order, go to the
# array whoisd_ports (whoisd_port is the first).
start_whoisd() { # start_whoisd PROGRAM WORK_DIR [ARGS...]
    local program=$1 port_file=$2/port
    shift 2
    "$program" --port 0 --port-file "$port_file" "$@" &
    whoisd_pid=$!
    for _ in $(seq 1 100); do
        [ -s "$port_file" ] && break
        sleep 0.05
    done
    mapfile -t whoisd_ports <"$port_file"
    whoisd_port=${whoisd_ports[0]:-}
}

stop_whoisd() {
    [ -n "${whoisd_pid:-}" ] && kill "$whoisd_pid" 2>/dev/null && wait "$whoisd_pid" 2>/dev/null
}

# A registry file (the native build's) that holds the lookup settings only:
# the default server HOST:PORT and the RDAP bootstrap BASE (empty: RDAP off,
# so that nothing goes to IANA's bootstrap files).
write_lookup_settings() { # write_lookup_settings FILE HOST:PORT [BASE]
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tervask\\WhoIsProtocol]\n"DefaultServer"="%s"\n"RdapBootstrap"="%s"\n\n' \
        "$2" "${3:-}" >"$1"
}

# The checks of a test script: check DESCRIPTION COMMAND... runs COMMAND and
# tells ok or FAILED; checks_passed NAME sums them up and fails when any failed.
passed=0
failed=0
# Runs COMMAND and counts its success or failure.
check() { # check DESCRIPTION COMMAND...
    local description=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok      $description"
    else
        failed=$((failed + 1))
        echo "FAILED  $description"
    fi
}
checks_passed() {
    echo
    echo "$1: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
