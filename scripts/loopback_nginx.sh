# Sourced by the Wine scripts: Debian's nginx on 127.0.0.1, on a port the system picks, with a
# request log of the caller's format. Sets nginx_pid and port; stop_nginx ends it.
#   start_nginx_in DIR LOG_FORMAT SERVER_DIRECTIVES   (serves DIR/root; logs to DIR/access.log)
#   start_store_nginx DIR   the avatar server of the tests, for programs under Wine
nginx_pid=""
port=""
stop_nginx() {
    if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
    nginx_pid=""
}
start_nginx_in() {
    local dir=$1 log_format=$2 directives=$3
    mkdir -p "$dir/root" "$dir/tmp"
    for _ in 1 2 3 4 5; do
        port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
        cat >"$dir/nginx.conf" <<CONF
daemon off;
master_process off;
pid $dir/nginx.pid;
error_log $dir/error.log notice;
events { worker_connections 64; }
http {
    types { image/gif gif; text/html html; }
    log_format t '$log_format';
    access_log $dir/access.log t;
    client_body_temp_path $dir/tmp/client_body;
    proxy_temp_path $dir/tmp/proxy;
    fastcgi_temp_path $dir/tmp/fastcgi;
    uwsgi_temp_path $dir/tmp/uwsgi;
    scgi_temp_path $dir/tmp/scgi;
    server {
        listen 127.0.0.1:$port;
        root $dir/root;
        $directives
    }
}
CONF
        /usr/sbin/nginx -p "$dir/" -c "$dir/nginx.conf" -e "$dir/error.log" 2>"$dir/stderr.log" &
        nginx_pid=$!
        for _ in $(seq 100); do
            if (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
            kill -0 "$nginx_pid" 2>/dev/null || break
            sleep 0.1
        done
        stop_nginx  # most likely another program took the port first
    done
    echo "nginx did not start:"; cat "$dir/error.log" "$dir/stderr.log" 2>/dev/null
    return 1
}

# nginx as the Linux tests configure it (tests/nimbrel/NginxServer.cpp): the same request log,
# If-Modified-Since rule for Up/, redirects and slow pictures. Exports where the programs under
# Wine find it (NIMBREL_TEST_SERVER, and as Windows paths NIMBREL_TEST_DOCROOT and
# NIMBREL_TEST_LOG).
start_store_nginx() {
    local dir=$1
    rm -rf "$dir"
    mkdir -p "$dir/root/c_avatar"
    dir=$(cd "$dir" && pwd)
    start_nginx_in "$dir" \
        '$request_uri\t$status\t$http_if_modified_since\t$http_if_none_match\t$connection\t$server_protocol' \
        'location /c_avatar/ { }
        location /c_avatar/Up/ { if_modified_since before; }
        location ~ ^/c_avatar/([^/]+)/moved-(.+)$ { return 302 /c_avatar/$1/$2; }
        location ~ ^/c_avatar/[^/]+/slow { limit_rate 1024; }' || return 1
    export NIMBREL_TEST_SERVER="127.0.0.1:$port"
    export NIMBREL_TEST_DOCROOT="Z:${dir//\//\\}\\root\\c_avatar"
    export NIMBREL_TEST_LOG="Z:${dir//\//\\}\\access.log"
}
