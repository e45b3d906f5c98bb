# Sourced by the Wine scripts that run headless (the hosts built against the Windows package, the
# download library's tests), in a 64-bit Wine prefix (it runs i686 programs too) whose desktop
# uses Wine's null graphics driver: no X server, no window manager.
#   wine_host_work DIR      makes the work folder DIR; sets work to its absolute path, and
#                           package_build to where each architecture's package is built:
#                           $PORTRIX_PACKAGE_BUILD-ARCH when given (scripts/test.sh names the
#                           control's Windows test builds, so nothing is compiled twice), else
#                           DIR/build-ARCH
#   build_windows_host SOURCE BUILD ARCH PACKAGE
#                           configures and builds the CMake project SOURCE into BUILD with
#                           mingw-w64 for ARCH, finding Portrix in the installed PACKAGE
#   wine_prefix_start DIR   exports WINEPREFIX=DIR and Wine's settings, and starts making the
#                           prefix in the background when DIR holds none yet
#   wine_prefix_wait        waits for that, then restarts the server (see below)
#   wine_prefix_stop        ends the prefix's server
#   wine_loader ARCH        the loader of i686 or x86_64 programs
#   windows_path PATH       PATH as Wine's programs name it (Z:\...)
# and, from scripts/wine_arch.sh, wine_runs and wine_cannot_run.
source scripts/wine_arch.sh
wine_host_work() {
    mkdir -p "$1"
    work=$(cd "$1" && pwd)
    package_build=${PORTRIX_PACKAGE_BUILD:-$work/build}
}
build_windows_host() {
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$1" -B "$2" -G Ninja --no-warn-unused-cli "${launcher[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DPORTRIX_WINDOWS_ARCH="$3" \
        -DCMAKE_PREFIX_PATH="$4" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
    cmake --build "$2" >/dev/null
}
windows_path() {
    local path=${1//\//\\}
    echo "Z:$path"
}
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
