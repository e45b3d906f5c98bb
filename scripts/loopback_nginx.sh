# Sourced by the Wine scripts: Debian's nginx on 127.0.0.1, on a port the system picks, with a
# request log of the caller's format. Sets nginx_pid and port; stop_nginx ends it.
#   start_nginx_in DIR LOG_FORMAT SERVER_DIRECTIVES   (serves DIR/root; logs to DIR/access.log)
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
