# Sourced by the Wine scripts that run a host headless: a 64-bit Wine prefix (it runs i686
# programs too) whose desktop uses Wine's null graphics driver: no X server, no window manager.
#   wine_prefix_start DIR   exports WINEPREFIX=DIR and Wine's settings, and starts making the
#                           prefix in the background when DIR holds none yet
#   wine_prefix_wait        waits for that, then restarts the server (see below)
#   wine_prefix_stop        ends the prefix's server
#   wine_loader ARCH        the loader of i686 or x86_64 programs
wine_boot=""
wine_prefix_start() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe=d"
    export WINEARCH=win64
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    mkdir -p "$WINEPREFIX"
    (/usr/lib/wine/wine64 wineboot -i &&
        /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f) \
        >"$WINEPREFIX/../wineboot.log" 2>&1 &
    wine_boot=$!
}
wine_prefix_wait() {
    [ -n "$wine_boot" ] || return 0
    wait "$wine_boot" || { cat "$WINEPREFIX/../wineboot.log"; return 1; }
    wine_boot=""
    # The boot's desktop process started with the default driver, which has no display: every
    # window made through it would fail. A new server starts the desktop with the null driver.
    /usr/lib/wine/wineserver64 -k 2>/dev/null || true
    /usr/lib/wine/wineserver64 -w 2>/dev/null || true
}
wine_prefix_stop() {
    /usr/lib/wine/wineserver64 -k 2>/dev/null || true
}
wine_loader() {
    if [ "$1" = i686 ]; then echo /usr/lib/wine/wine; else echo /usr/lib/wine/wine64; fi
}
