#!/usr/bin/env bash
# The end to end on Windows: installs the Windows package of each architecture
# (scripts/windows-package.sh), builds examples/minimal-host against it alone through
# find_package(Portrix) with mingw-w64, and runs the host under Wine, headless (Wine's null
# graphics driver), with its install path set by `wine reg add`, against a Debian nginx on
# 127.0.0.1 serving one avatar picture. The host must store the picture that nimbrel.dll fetched
# where the control looks, and end showing it (its size and centre colour, as the host reports).
# Prints one verdict line per architecture.
# Usage: scripts/wine_minimal_host.sh [work-dir [architectures]]
#   (default build/wine-host, both architectures: x86_64 and i686)
set -euo pipefail
cd "$(dirname "$0")/.."
architectures=${2:-x86_64 i686}
start=$(date +%s)
source scripts/wine_host.sh
wine_host_work "${1:-build/wine-host}"

user=10002
picture=tests/install/avatar-10002.gif
expected="the control shows 48x48 pixels, centre colour 1565c0"

source scripts/loopback_nginx.sh
cleanup() {
    stop_nginx
    wine_prefix_stop
}
trap cleanup EXIT INT TERM

# nginx serving the one picture at /c_avatar/Up/, with the request log that the verdict reads.
nginx_dir="$work/nginx"
start_nginx() {
    rm -rf "$nginx_dir"
    mkdir -p "$nginx_dir/root/c_avatar/Up"
    cp "$picture" "$nginx_dir/root/c_avatar/Up/$user.gif"
    start_nginx_in "$nginx_dir" '$request_uri\t$status' ''
}

# The prefix is made once, while the packages build.
wine_prefix_start "$work/prefix"

for arch in $architectures; do
    phase=$(date +%s)
    rm -rf "$work/$arch"
    bash scripts/windows-package.sh "$arch" "$work/$arch" "$package_build-$arch" >"$work/package-$arch.log"
    build_windows_host examples/minimal-host "$work/host-$arch" "$arch" "$work/$arch"
    echo "$arch: package and host built in $(($(date +%s) - phase)) s"
done
wine_prefix_wait

status=0
for arch in $architectures; do
    if ! wine_runs "$arch"; then
        wine_cannot_run "$arch"
        continue
    fi
    phase=$(date +%s)
    loader=$(wine_loader "$arch")
    install="$work/install-$arch"
    rm -rf "$install" && mkdir -p "$install"
    # The module reads the install path from the registry while portrix.dll loads.
    "$loader" reg add 'HKCU\Software\szDomain\Share' /v Path /d "$(windows_path "$install")" /f >/dev/null 2>&1
    start_nginx
    # Only the package's bin/ and Windows' own folders: every DLL the host loads comes from it.
    output=$(WINEPATH="$(windows_path "$work/$arch/bin")" timeout 120 "$loader" \
        "$work/host-$arch/minimal-host.exe" "127.0.0.1:$port" "$user" 3 2>&1) || true
    stop_nginx
    stored="$install/Avatar/Up/$user.gif"
    problems=()
    grep -qP "^/c_avatar/Up/$user\.gif\t200$" "$nginx_dir/access.log" ||
        problems+=("nginx served no /c_avatar/Up/$user.gif")
    cmp -s "$picture" "$stored" || problems+=("the store holds no copy of the served picture")
    grep -qF "$expected" <<<"$output" || problems+=("the host did not show the picture")
    if [ ${#problems[@]} -eq 0 ]; then
        echo "minimal host under Wine, $arch: passed, $expected" \
             "(fetched by nimbrel.dll into Avatar\\Up\\$user.gif); $(($(date +%s) - phase)) s"
    else
        status=1
        joined=$(printf '%s; ' "${problems[@]}")
        echo "minimal host under Wine, $arch: FAILED: ${joined%; }"
        echo "  the host said: ${output:-nothing}"
        echo "  nginx's requests: $(tr '\n' ' ' <"$nginx_dir/access.log")"
    fi
done
echo "minimal host under Wine: $(($(date +%s) - start)) s in all"
exit $status
