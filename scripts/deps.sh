#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Portrix need,
# and only those that are missing. Works as root or through sudo.
#   deps.sh        everything the tests need
#   deps.sh demo   only what building and running the demo needs
#   deps.sh windows-i686 | windows-x86_64
#                  only what building the Windows package of that architecture needs
set -euo pipefail

packages=(
    cmake ninja-build pkg-config g++ clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libgif-dev libxxhash-dev libpng-dev libjpeg62-turbo-dev libcurl4-openssl-dev libcpp-httplib-dev
    libx11-dev libxcb1-dev libxtst-dev xvfb xdotool x11-utils openbox
    libfreetype-dev fonts-dejavu-core nginx-light clang-format zlib1g-dev python3 strace
    wine64 wine32:i386 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest
)
demo_packages=(
    cmake ninja-build pkg-config g++
    libgif-dev libxxhash-dev libpng-dev libjpeg62-turbo-dev libcurl4-openssl-dev libcpp-httplib-dev
    libxcb1-dev libfreetype-dev fonts-dejavu-core
)
case "${1:-}" in
    demo) packages=("${demo_packages[@]}") ;;
    windows-i686) packages=(cmake ninja-build g++-mingw-w64-i686-posix) ;;
    windows-x86_64) packages=(cmake ninja-build g++-mingw-w64-x86-64-posix) ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# 32-bit Windows programs run under Wine's i386 side, which comes from the i386 architecture.
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi

# Another package manager (unattended-upgrades, a desktop's updater, a second install) may hold
# apt's locks for a while. apt waits for dpkg's own lock when told to (DPkg::Lock::Timeout),
# but fails at once on the package lists' lock that `apt-get update` takes and on the downloads'
# lock; those attempts are made again until the same deadline.
lock_wait_seconds=600
lock_retry_seconds=5
apt_get() {
    local deadline=$((SECONDS + lock_wait_seconds)) log status
    log=$(mktemp)
    while :; do
        status=0
        $sudo apt-get -o "DPkg::Lock::Timeout=$lock_wait_seconds" "$@" 2>&1 | tee "$log" || status=$?
        if [ "$status" -eq 0 ] || ! grep -q "Could not get lock" "$log" || [ "$SECONDS" -ge "$deadline" ]; then
            rm -f "$log"
            return "$status"
        fi
        echo "deps.sh: another package manager holds apt's lock; trying again in $lock_retry_seconds s"
        sleep "$lock_retry_seconds"
    done
}
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}"
