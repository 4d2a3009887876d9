# The benchmarks' ratio anchor: a stock web server on loopback serving the same files.
# Source it, then: start_web_anchor WORK_DIR ROOT PORT CONNECTIONS
# Sets ANCHOR_PID and ANCHOR_NAME; returns 0 once the server answers. nginx (one worker,
# sendfile) when installed, else python3's http.server.

start_web_anchor() {
    local work=$1 root=$2 port=$3 connections=$4
    if command -v nginx >/dev/null; then
        mkdir -p "$work/nginx"
        cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections $connections; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $work/nginx;
    proxy_temp_path $work/nginx;
    fastcgi_temp_path $work/nginx;
    uwsgi_temp_path $work/nginx;
    scgi_temp_path $work/nginx;
    server { listen 127.0.0.1:$port; root $root; }
}
CONF
        nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>/dev/null &
        ANCHOR_PID=$!
        ANCHOR_NAME="nginx (1 worker, sendfile)"
    else
        (cd "$root" && exec python3 -m http.server "$port" --bind 127.0.0.1 >/dev/null 2>&1) &
        ANCHOR_PID=$!
        ANCHOR_NAME="python3 -m http.server"
    fi
    local first _
    first=$(basename "$(ls "$root"/* | head -1)")
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$port/$first" && return 0
        sleep 0.1
    done
    return 1
}
