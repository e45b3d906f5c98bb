#!/usr/bin/env bash
# Builds the control's tests for Windows with mingw-w64, for i686 and x86_64, and runs them under
# Wine, headless (Wine's null graphics driver), each architecture in a Wine prefix of its own
# inside its build folder. Prints per architecture how many tests ran and passed and every row
# marked as holding on one side only; checks that portrix.dll exports what libportrix.so does.
# The end-to-end tests fetch from Debian's nginx, started on 127.0.0.1 beside Wine.
# Usage: scripts/wine_product_tests.sh [build-dir-prefix] [libportrix.so]
#        (default build/wine-product; the ELF library to compare exports with, when given;
#        PORTRIX_WINE_ARCHS=x86_64 runs one architecture)
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-build/wine-product}
elf=${2:-}
start=$(date +%s)
status=0
# The test programs, each run from its own folder: the recording stand-in of nimbrel.dll lies
# beside the control tests, ahead of the real one.
programs=(bin/product_test.exe bin/recording/avatar_control_test.exe)
# The module's start-up in a probe process per scenario; the control without a store.
programs+=(bin/module_test.exe bin/no-store/avatar_no_store_test.exe)
# The control with the real nimbrel.dll, fetching from nginx on 127.0.0.1 beside Wine.
programs+=(bin/avatar_end_to_end_test.exe)
source scripts/loopback_nginx.sh
source scripts/wine_arch.sh
trap stop_nginx EXIT
targets=()
for program in "${programs[@]}"; do targets+=("$(basename "$program" .exe)"); done
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe=d"

# PORTRIX_WINE_ARCHS narrows the run to the architectures it names.
for arch in ${PORTRIX_WINE_ARCHS:-i686 x86_64}; do
    build="$base-$arch"
    if [ "$arch" = i686 ]; then
        wine=/usr/lib/wine/wine winearch=win32 wineserver=/usr/lib/wine/wineserver32
    else
        wine=/usr/lib/wine/wine64 winearch=win64 wineserver=/usr/lib/wine/wineserver64
    fi
    export WINEPREFIX="$PWD/$build/prefix" WINEARCH=$winearch
    # The compiler's runtime DLLs, found where the compiler keeps them.
    runtime=$(dirname "$("$arch-w64-mingw32-g++-posix" -print-file-name=libstdc++-6.dll)")
    export WINEPATH="$runtime;/usr/$arch-w64-mingw32/lib"

    # The prefix is made once, while the tests compile.
    boot=""
    runs=true
    wine_runs $arch || runs=false
    if $runs && [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        "$wine" wineboot -i >"$build/wineboot.log" 2>&1 &
        boot=$!
    fi
    phase=$(date +%s)
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    # Optimised as the package is: scripts/test.sh then makes the package from this folder
    # (scripts/windows-package.sh with it as the build folder), which compiles nothing again.
    cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
        -DPORTRIX_WINDOWS_ARCH=$arch -DCMAKE_BUILD_TYPE=Release -DPORTRIX_BUILD_TESTS=ON \
        -DPORTRIX_INSTALL=OFF "${launcher[@]}" >/dev/null
    # Test programs that cannot run here are not built; the DLL still is.
    $runs || targets_here=(portrix)
    $runs && targets_here=("${targets[@]}" portrix)
    cmake --build "$build" -j "$(nproc)" --target "${targets_here[@]}"
    echo "$arch: built in $(($(date +%s) - phase)) s"
    if ! $runs; then
        wine_cannot_run $arch
        continue
    fi
    if [ -n "$boot" ]; then
        wait "$boot" || { cat "$build/wineboot.log"; exit 1; }
        # Headless: no X server, no window manager.
        "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        # The first boot's desktop process was started with the default driver, which has no
        # display to use: every window made through it would fail. A new server starts the
        # desktop again with the null driver.
        "$wineserver" -k 2>/dev/null || true
        "$wineserver" -w 2>/dev/null || true
    fi

    if [ -n "$elf" ]; then
        bash tests/wine/compare_exports.sh "$build/bin/portrix.dll" "$elf" || status=1
    fi

    # The module reads the store's install path from the registry when portrix.dll loads.
    "$wine" reg add 'HKCU\Software\szDomain\Share' /v Path /d "$(cat "$build/avatar.home/install-path")" \
        /f >/dev/null 2>&1
    export WINEPATH="$WINEPATH;Z:$PWD/$build/bin"
    phase=$(date +%s)
    log="$build/results.log"
    : >"$log"
    start_store_nginx "$build/nginx" >>"$log" || status=1
    for program in "${programs[@]}"; do
        (cd "$build/$(dirname $program)" && timeout 600 "$wine" "./$(basename $program)" --gtest_brief=1) \
            >>"$log" 2>&1 || status=1
    done
    stop_nginx
    "$wineserver" -k 2>/dev/null || true
    grep -vE '^(\[==========\]|\[  PASSED  \]|Running main)' "$log" | sed "s/^/$arch: /" || true
    ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log" | awk '{n += $1} END {print n + 0}')
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log" | awk '{n += $1} END {print n + 0}')
    marked=$(grep -c '^\[  MARKED  \]' "$log" || true)
    failed=$(grep -c '^\[  FAILED  \] .*(' "$log" || true)
    if [ "$(grep -c '^\[==========\] .* ran\.' "$log" || true)" -ne ${#programs[@]} ]; then
        echo "$arch: a test program did not finish (a crash or the time limit)"
        status=1
    fi
    echo "$arch under Wine: ${ran:-0} tests ran, ${passed:-0} passed, $failed failed;" \
         "$marked rows marked as holding on one side only; ran in $(($(date +%s) - phase)) s"
done
echo "the control's tests under Wine: $(($(date +%s) - start)) s in all"
exit $status
