#!/usr/bin/env bash
# The demo on Windows: builds portrix-demo (demo/, with demo/win32/windows.cmake) with mingw-w64
# against the installed Windows package of each architecture through find_package(Portrix), and
# runs it under Wine, headless (Wine's null graphics driver), with its embedded avatar server on
# 127.0.0.1. Prints the demo's verdict table per architecture and fails when a control did not
# end where it should. The snapshots and the contact sheet stay in WORK/demo-out-ARCH.
# Shares its work folder with scripts/wine_minimal_host.sh: the packages that script installed
# there and its Wine prefix are used as they are; what is missing is made.
# Usage: scripts/wine_demo.sh [work-dir [architectures]]
#   (default build/wine-host, both architectures: x86_64 and i686)
set -euo pipefail
cd "$(dirname "$0")/.."
architectures=${2:-x86_64 i686}
start=$(date +%s)
source scripts/wine_host.sh
wine_host_work "${1:-build/wine-host}"

trap wine_prefix_stop EXIT INT TERM
wine_prefix_start "$work/prefix"

for arch in $architectures; do
    phase=$(date +%s)
    if [ ! -f "$work/$arch/lib/cmake/Portrix/PortrixConfig.cmake" ]; then
        bash scripts/windows-package.sh "$arch" "$work/$arch" "$package_build-$arch" \
            >"$work/package-$arch.log"
    fi
    build_windows_host demo "$work/demo-$arch" "$arch" "$work/$arch"
    echo "$arch: demo built in $(($(date +%s) - phase)) s"
done
wine_prefix_wait

status=0
for arch in $architectures; do
    phase=$(date +%s)
    out="$work/demo-out-$arch"
    rm -rf "$out"
    loader=$(wine_loader "$arch")
    if ! wine_runs "$arch"; then
        wine_cannot_run "$arch"
        continue
    fi
    # Only the package's bin/ and Windows' own folders: every DLL the demo loads comes from it.
    # The demo makes its own install folder and current-user key for the run.
    rc=0
    output=$(WINEPATH="$(windows_path "$work/$arch/bin")" timeout 180 "$loader" \
        "$work/demo-$arch/portrix-demo.exe" --out "$(windows_path "$out")" 2>&1) ||
        rc=$?
    output=${output//$'\r'/}
    verdict="every control ended where it should"
    if [ $rc -eq 0 ] && grep -qx "$verdict" <<<"$output" && [ -s "$out/contact-sheet.png" ]; then
        echo "demo under Wine, $arch: passed; $(($(date +%s) - phase)) s; contact sheet $out/contact-sheet.png"
        # The verdict table, and the server's count.
        sed -n '/^control  *ended on/,/^server answered/p' <<<"$output"
    else
        status=1
        echo "demo under Wine, $arch: FAILED (exit code $rc); the demo said:"
        echo "$output"
    fi
done
echo "demo under Wine: $(($(date +%s) - start)) s in all"
exit $status
