#!/usr/bin/env bash
# Builds the platform's API-level tests for Windows with mingw-w64 and runs them under Wine,
# headless under Xvfb, in a Wine prefix of its own inside the build folder. Prints how many
# tests ran and passed, and every row marked as holding on one side only.
# Usage: scripts/wine_tests.sh [build-dir]   (default build/wine)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/wine}
wine=/usr/lib/wine/wine64
start=$(date +%s)

# No Mono or Gecko prompts, and no debugger: a crashing test ends its process at once.
export WINEPREFIX="$PWD/$build/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe=d"
export WINEARCH=win64

# A display for USER and GDI; -nolisten tcp keeps it off the network.
display_log=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_log" 2>/dev/null &
xvfb=$!
cleanup() {
    "${wine%64}server64" -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -f "$display_log"
}
trap cleanup EXIT INT TERM
for _ in $(seq 50); do [ -s "$display_log" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$display_log")"

# The prefix is made once, while the tests compile.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot -i >"$build/wineboot.log" 2>&1 &
    boot=$!
fi

phase=$(date +%s)
cmake -S tests/wine -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "built in $(($(date +%s) - phase)) s"
if [ -n "${boot:-}" ]; then
    wait "$boot" || { cat "$build/wineboot.log"; exit 1; }
    # Without a window manager on the display, managed windows make Wine wait for one.
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi

phase=$(date +%s)
log="$build/results.log"
status=0
timeout 300 "$wine" "$build/bin/platform_api_test.exe" --gtest_brief=1 >"$log" 2>&1 || status=1
# Brief output holds only failures, marked rows and the totals.
grep -vE '^(\[==========\]|\[  PASSED  \]|Running main)' "$log" || true
ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log")
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log")
marked=$(grep -c '^\[  MARKED  \]' "$log" || true)
if [ -z "$ran" ]; then
    echo "the tests did not finish (a crash or the time limit)"
    status=1
    ran=$(( $(grep -c '^\[  FAILED  \]' "$log" || true) + ${passed:-0} + 1 ))
fi
echo "ran in $(($(date +%s) - phase)) s"
echo "Under Wine: $ran tests ran, ${passed:-0} passed, $((ran - ${passed:-0})) failed;" \
     "$marked rows marked as holding on one side only; $(($(date +%s) - start)) s in all"
exit $status
