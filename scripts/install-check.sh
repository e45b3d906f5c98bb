#!/usr/bin/env bash
# Installs a build into a fresh prefix and checks it as a host developer would meet it:
#   - the installed tree (listed) holds no path of the source or build tree, and its libraries
#     carry sonames and $ORIGIN run paths;
#   - examples/minimal-host builds against the prefix alone, once through find_package(Portrix)
#     and once through pkg-config, by the README's own build lines (its ```sh block) run with
#     `prefix` set to the fresh prefix;
#   - both programs run against a local nginx serving one avatar picture, and must end showing
#     that picture (its size and centre colour, as the host reports them);
#   - the README shows the host's code as it is.
# Usage: install-check.sh [BUILD_DIR]   (default build/debug)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build_dir=$(realpath "${1:-build/debug}")

work=$(mktemp -d /tmp/portrix-install-check.XXXXXX)
nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install-check: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" --strip >/dev/null
echo "installed tree:"
(cd "$prefix" && find . -mindepth 1 | sort | sed 's/^\.\//  /')

leaks=$(grep -rlF -e "$source_dir" -e "$build_dir" "$prefix" || true)
[ -z "$leaks" ] || fail "installed files name the source or build tree: $leaks"
for library in libportrix libnimbrel libportrix_platform; do
    dynamic=$(readelf -d "$prefix/lib/$library.so.0")
    grep -q "Library soname: \[$library.so.0\]" <<<"$dynamic" || fail "$library has no soname $library.so.0"
    grep -q 'Library runpath: \[\$ORIGIN\]' <<<"$dynamic" || fail "$library does not run from \$ORIGIN"
done

echo "building examples/minimal-host by the README's lines: through find_package(Portrix) and through pkg-config"
readme_build=$(awk '/^```sh$/ { inside = 1; next } /^```$/ { inside = 0 } inside' README.md)
readme_prefix="prefix=/opt/portrix"
[ "$(head -n 1 <<<"$readme_build")" = "$readme_prefix" ] ||
    fail "README.md's build lines (its \`\`\`sh block) do not start with $readme_prefix"
# Run where the README's lines are run, the top folder, with the outputs kept out of the tree.
mkdir "$work/hosts"
ln -s "$source_dir/examples" "$work/hosts/examples"
(cd "$work/hosts" && prefix=$prefix bash -euo pipefail -c "$(tail -n +2 <<<"$readme_build")") >/dev/null ||
    fail "README.md's build lines failed"
hosts=("$work/hosts/build/minimal-host/minimal-host" "$work/hosts/build/minimal-host-pkg-config")
for host in "${hosts[@]}"; do
    outside=$(ldd "$host" | grep -E 'libportrix|libnimbrel' | grep -vF "$prefix" || true)
    [ -z "$outside" ] || fail "$host loads Portrix from outside the prefix: $outside"
done

# The avatar server: nginx serving /c_avatar/Up/10002.gif, on the first free port from a range.
mkdir -p "$work/www/c_avatar/Up" "$work/nginx"
cp tests/install/avatar-10002.gif "$work/www/c_avatar/Up/10002.gif"
chmod -R a+rX "$work"
port=""
for candidate in $(seq 18160 18179); do
    cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events {}
http {
    access_log off;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server { listen 127.0.0.1:$candidate; root $work/www; }
}
EOF
    nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 50); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
        kill -0 "$nginx_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$port" ] && break
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
done
[ -n "$port" ] || fail "nginx could not listen on any port of 18160-18179: $(cat "$work/nginx/error.log")"

# The library reads its install path from the registry when it loads: a hive of this check's own.
export PORTRIX_HKCU=$work/hkcu.reg
"$prefix/bin/portrix-reg" set "HKEY_CURRENT_USER\\Software\\szDomain\\Share" Path "$work/install" >/dev/null
expected="the control shows 48x48 pixels, centre colour 1565c0"
for host in "${hosts[@]}"; do
    rm -rf "$work/install" && mkdir -p "$work/install"
    output=$(timeout 60 "$host" "127.0.0.1:$port" 10002 3 2>&1) || fail "$host failed: $output"
    grep -qF "$expected" <<<"$output" || fail "$host did not show the picture: $output"
    cmp -s tests/install/avatar-10002.gif "$work/install/Avatar/Up/10002.gif" ||
        fail "$host did not store the picture it was served"
    echo "  ${host#"$work"/hosts/build/}: $expected"
done

readme_code=$(awk '/^```cpp$/ { inside = 1; next } /^```$/ { inside = 0 } inside' README.md)
[ "$readme_code" = "$(sed -n '/^#include/,$p' examples/minimal-host/main.cpp)" ] ||
    fail "README.md's C++ example differs from examples/minimal-host/main.cpp"
echo "install check passed"
