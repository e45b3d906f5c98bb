#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Portrix need,
# and only those that are missing. Works as root or through sudo.
#   deps.sh        everything the tests need
#   deps.sh demo   only what building and running the demo needs
set -euo pipefail

packages=(
    cmake ninja-build pkg-config g++ clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libgif-dev libpng-dev libjpeg62-turbo-dev libcurl4-openssl-dev libcpp-httplib-dev
    libx11-dev libxcb1-dev nettle-dev libxtst-dev xvfb xdotool x11-utils
    libfreetype-dev fonts-dejavu-core nginx-light clang-format zlib1g-dev
    wine64 g++-mingw-w64-x86-64-posix googletest
)
demo_packages=(
    cmake ninja-build pkg-config g++
    libgif-dev libpng-dev libjpeg62-turbo-dev libcurl4-openssl-dev libcpp-httplib-dev
    libxcb1-dev nettle-dev libfreetype-dev fonts-dejavu-core
)
[ "${1:-}" = demo ] && packages=("${demo_packages[@]}")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
