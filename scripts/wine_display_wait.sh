#!/usr/bin/env bash
# Builds bench/display_wait.cpp for x86_64 Windows and runs it under Wine, headless, against
# Debian's nginx on 127.0.0.1: how long Display() keeps the user-interface thread. Uses the
# control's x86_64 Windows test build (scripts/wine_product_tests.sh) and its Wine prefix.
# Usage: scripts/wine_display_wait.sh [build-dir [runs]]   (default build/wine-product-x86_64, 1)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/wine-product-x86_64}
runs=${2:-1}
source scripts/loopback_nginx.sh
source scripts/wine_host.sh
trap 'stop_nginx; wine_prefix_stop' EXIT INT TERM

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DPORTRIX_WINDOWS_ARCH=x86_64 -DCMAKE_BUILD_TYPE=Release -DPORTRIX_BUILD_TESTS=ON \
    -DPORTRIX_INSTALL=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target bench_display_wait >/dev/null
build=$(cd "$build" && pwd)

wine_prefix_start "$build/prefix"
wine_prefix_wait
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
export WINEPATH="$runtime;/usr/x86_64-w64-mingw32/lib;Z:$build/bin"
/usr/lib/wine/wine64 reg add 'HKCU\Software\szDomain\Share' /v Path \
    /d "$(cat "$build/avatar.home/install-path")" /f >/dev/null 2>&1
start_store_nginx "$build/nginx-wait"
for run in $(seq "$runs"); do
    echo "run $run; load: $(uptime | sed 's/.*load average: //')"
    (cd "$build/bin" && timeout 300 /usr/lib/wine/wine64 ./bench_display_wait.exe --gtest_brief=1) |
        grep -vE '^(\[==========\]|\[  PASSED  \]|Running main)' | tr -d '\r'
done
