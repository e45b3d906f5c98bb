#!/usr/bin/env bash
# Builds the Windows package of one architecture with mingw-w64 and installs it into PREFIX:
#   bin/       portrix.dll, nimbrel.dll, portrixmfc.dll (the MFC subset they and the host share)
#              and the compiler's runtime DLLs (libstdc++, libgcc, winpthread)
#   include/   include/portrix: Portrix.h and everything it includes
#   lib/       the import libraries, and lib/cmake/Portrix for find_package(Portrix)
# Installs the Debian packages it needs when they are missing.
# Usage: scripts/windows-package.sh i686|x86_64 PREFIX [BUILD_DIR]   (default build/windows-ARCH)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
prefix=${2:-}
case "$arch" in
    i686 | x86_64) ;;
    *) echo "usage: $0 i686|x86_64 PREFIX [BUILD_DIR]" >&2; exit 2 ;;
esac
[ -n "$prefix" ] || { echo "usage: $0 i686|x86_64 PREFIX [BUILD_DIR]" >&2; exit 2; }
build=${3:-build/windows-$arch}

bash scripts/deps.sh "windows-$arch"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DPORTRIX_WINDOWS_ARCH="$arch" -DCMAKE_BUILD_TYPE=Release -DPORTRIX_BUILD_TESTS=OFF -DPORTRIX_INSTALL=ON \
    "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
cmake --install "$build" --prefix "$prefix" --strip >/dev/null
echo "installed the $arch package into $prefix:"
(cd "$prefix" && find . -mindepth 1 -not -path './include/*' | sort | sed 's/^\.\//  /')
