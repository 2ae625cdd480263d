# Helpers the scripts share; sourced, not run.

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
