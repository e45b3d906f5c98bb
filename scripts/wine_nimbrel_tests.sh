#!/usr/bin/env bash
# Builds the download library and its tests for 64-bit and 32-bit Windows with mingw-w64 and runs
# them under Wine, each against a Debian nginx of its own on 127.0.0.1 (started here, beside
# Wine), in a Wine prefix of its own inside the build folder. Prints per architecture how many
# tests ran and passed, and every row marked as holding on one side only.
# Usage: scripts/wine_nimbrel_tests.sh [build-dir [architecture [test arguments...]]]
#   (default build/wine-nimbrel, both architectures: x86_64 and i686)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/wine-nimbrel}
architectures=${2:-x86_64 i686}
shift $(($# > 2 ? 2 : $#))
start=$(date +%s)
mkdir -p "$build"
build=$(cd "$build" && pwd)

# A silent server's transfer then ends within seconds rather than the usual 30.
export NIMBREL_TRANSFER_MS=4000

source scripts/loopback_nginx.sh
source scripts/wine_host.sh
cleanup() {
    stop_nginx
    wine_prefix_stop
}
trap cleanup EXIT INT TERM

start_nginx() {
    nginx_dir="$build/nginx-$1"
    start_store_nginx "$nginx_dir"
}

# The prefix is made once, while the tests compile.
wine_prefix_start "$build/prefix"

phase=$(date +%s)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
for arch in $architectures; do
    wine_runs $arch || continue  # the package stage still builds its nimbrel.dll
    cmake -S tests/nimbrel/windows -B "$build/$arch" -G Ninja "${launcher[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DPORTRIX_WINDOWS_ARCH=$arch >/dev/null
    cmake --build "$build/$arch" -j "$(nproc)"
done
echo "built in $(($(date +%s) - phase)) s"
wine_prefix_wait

status=0
for arch in $architectures; do
    if ! wine_runs $arch; then
        wine_cannot_run $arch
        continue
    fi
    phase=$(date +%s)
    loader=$(wine_loader $arch)
    start_nginx $arch
    log="$build/results-$arch.log"
    timeout 300 "$loader" "$build/$arch/bin/nimbrel_windows_test.exe" --gtest_brief=1 "$@" >"$log" 2>&1 || status=1
    stop_nginx
    grep -vE '^(\[==========\]|\[  PASSED  \]|Running main)' "$log" || true
    ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log")
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log")
    marked=$(grep -c '^\[  MARKED  \]' "$log" || true)
    if [ -z "$ran" ]; then
        echo "$arch: the tests did not finish (a crash or the time limit)"
        status=1
        ran=$(( $(grep -c '^\[  FAILED  \]' "$log" || true) + ${passed:-0} + 1 ))
    fi
    echo "Nimbrel under Wine, $arch: $ran tests ran, ${passed:-0} passed," \
         "$((ran - ${passed:-0})) failed; $marked rows marked as holding on one side only;" \
         "$(($(date +%s) - phase)) s"
done
echo "Nimbrel under Wine: $(($(date +%s) - start)) s in all"
exit $status
