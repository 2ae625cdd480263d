# Helpers the scripts share; sourced, not run.

# Prints the script's leading comment block (after the #! line), without the
# comment marks: its usage text.
usage_from_header() {
    sed -n '2,$ { /^#/!q; s/^# \{0,1\}//p; }' "$0"
}

# Sets Wine up for the prefix WINEPREFIX names: 32-bit, quiet, and making the
# prefix first when it has none yet. When that fails, says so with wineboot's
# messages and returns 1.
use_wine_prefix() {
    export WINEARCH=win32 WINEDEBUG=-all
    # No Mono or Gecko installers, no desktop: nothing here needs them.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    unset DISPLAY
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    mkdir -p "$WINEPREFIX"
    if ! wineboot --init >"$WINEPREFIX/wineboot.log" 2>&1; then
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
