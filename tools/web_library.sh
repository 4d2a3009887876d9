# A published static library on loopback, for the end-to-end script, the demo and the
# benchmark: a test certificate authority, nginx serving an exported folder with the server
# block of packaging/nginx-pavoset.conf, and a forward proxy. Sourced only. Every process
# started here is recorded in WEB_PIDS; web_library_down stops them (by PID).
#
#   make_test_ca DIR                  DIR/ca.pem and a certificate for 127.0.0.1 and localhost
#                                     (DIR/server.pem, DIR/server.key); nothing outside DIR
#   start_static_nginx DIR ROOT PORT http|https [DIRECTIVES]
#                                     nginx on 127.0.0.1:PORT serving ROOT (the https one
#                                     uses DIR/server.pem); DIRECTIVES go into the server
#                                     block (say "limit_rate 2m;"). Access log: DIR/access.log
#   start_forward_proxy DIR PORT      tinyproxy on 127.0.0.1:PORT; its log: DIR/proxy.log
#   web_library_down                  stops what the above started
#   trust_test_ca CAFILE              the CA into the current WINEPREFIX's Root store (trust_ca.exe)
#   set_user_proxy HOST:PORT|""       the user's proxy in that prefix, or none (user_proxy.exe)
#
# Under Wine 8, WinHTTP matches a certificate against DNS names only, so the clients use
# https://localhost:PORT/ (the certificate names localhost; nginx listens on 127.0.0.1).

[ "${BASH_SOURCE[0]}" = "$0" ] && exit 0

PAVOSET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WEB_PIDS=()

make_test_ca() {
    local dir=$1
    mkdir -p "$dir"
    (
        cd "$dir" || exit 1
        openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 \
            -subj "/CN=Pavoset test CA" -keyout ca.key -out ca.pem \
            -addext "basicConstraints=critical,CA:TRUE" \
            -addext "keyUsage=critical,keyCertSign,cRLSign" &&
        openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
            -subj "/CN=127.0.0.1" -keyout server.key -out server.csr &&
        printf '%s\n' "subjectAltName=IP:127.0.0.1,DNS:localhost" \
            "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
            "extendedKeyUsage=serverAuth" >server.ext &&
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
            -extfile server.ext -out server.pem
    ) >"$dir/openssl.log" 2>&1
}

# The server block of packaging/nginx-pavoset.conf for this address, folder and certificate;
# http drops the TLS lines as the file's own comment says to.
static_server_block() {  # dir root port http|https directives
    local dir=$1 root=$2 port=$3 scheme=$4 directives=$5 tls=" ssl"
    [ "$scheme" = https ] || tls=
    sed -n '/^server {/,$p' "$PAVOSET_ROOT/packaging/nginx-pavoset.conf" | awk \
        -v listen="listen 127.0.0.1:$port$tls;" -v root="root $root;" -v scheme="$scheme" \
        -v cert="ssl_certificate $dir/server.pem;" -v key="ssl_certificate_key $dir/server.key;" \
        -v extra="$directives" '
        $1 == "listen" && $2 ~ /^\[/ { next }
        $1 == "listen" { sub(/listen .*/, listen) }
        $1 ~ /^ssl_/ && scheme != "https" { next }
        $1 == "ssl_certificate" { sub(/ssl_certificate .*/, cert) }
        $1 == "ssl_certificate_key" { sub(/ssl_certificate_key .*/, key) }
        $1 == "root" { sub(/root .*/, root); print; if (extra != "") print "    " extra; next }
        { print }'
}

start_static_nginx() {
    local dir=$1 root=$2 port=$3 scheme=$4 directives=${5:-} i
    mkdir -p "$dir/nginx-$port"
    local conf="$dir/nginx-$port/nginx.conf"
    {
        # Workers read the exported folder as the user who made it.
        printf 'user %s;\nworker_processes 1;\ndaemon off;\n' "$(id -un)"
        printf 'pid %s/nginx-%s/nginx.pid;\nerror_log %s/nginx-%s/error.log;\n' "$dir" "$port" "$dir" "$port"
        printf 'events { worker_connections 64; }\nhttp {\n'
        printf '    access_log %s/access.log;\n    sendfile on;\n' "$dir"
        local t
        for t in client_body proxy fastcgi uwsgi scgi; do
            printf '    %s_temp_path %s/nginx-%s;\n' "$t" "$dir" "$port"
        done
        static_server_block "$dir" "$root" "$port" "$scheme" "$directives"
        printf '}\n'
    } >"$conf"
    nginx -c "$conf" -p "$dir/nginx-$port" >"$dir/nginx-$port/out.log" 2>&1 &
    local pid=$!
    WEB_PIDS+=("$pid")
    NGINX_PID=$pid
    for i in $(seq 1 50); do
        curl -s -o /dev/null --cacert "$dir/ca.pem" "$scheme://127.0.0.1:$port/catalogue.txt" && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$dir/nginx-$port/out.log" "$dir/nginx-$port/error.log" 2>/dev/null | tail -n 5 >&2
    return 1
}

start_forward_proxy() {
    local dir=$1 port=$2 i
    mkdir -p "$dir"
    cat >"$dir/tinyproxy.conf" <<CONF
Port $port
Listen 127.0.0.1
Timeout 60
MaxClients 32
LogFile "$dir/proxy.log"
LogLevel Info
Allow 127.0.0.1
DisableViaHeader Yes
CONF
    : >"$dir/proxy.log"
    tinyproxy -d -c "$dir/tinyproxy.conf" >"$dir/proxy.out" 2>&1 &
    PROXY_PID=$!
    WEB_PIDS+=("$PROXY_PID")
    for i in $(seq 1 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
        kill -0 "$PROXY_PID" 2>/dev/null || break
        sleep 0.1
    done
    cat "$dir/proxy.out" >&2
    return 1
}

# The Windows helpers of the build that tools/wine/env.sh chose.
web_tool() {  # name
    local exe="${PAVOSET_E2E_WIN_BUILD:-$PAVOSET_WIN_BUILD}/tools/$1.exe"
    [ -f "$exe" ] || { echo "web_library: $exe is not built" >&2; return 1; }
    printf '%s' "$exe"
}

trust_test_ca() {
    local exe out
    exe=$(web_tool trust_ca) || return 1
    out=$(wine "$exe" "$(winepath -w "$1" 2>/dev/null)" 2>/dev/null | tr -d '\r')
    grep -q trusted <<<"$out" && return 0
    printf 'trust_ca: %s\n' "$out" >&2
    return 1
}

set_user_proxy() {
    local exe
    exe=$(web_tool user_proxy) || return 1
    if [ -n "$1" ]; then
        wine "$exe" "$1" >/dev/null 2>&1
    else
        wine "$exe" -none >/dev/null 2>&1
    fi
}

web_library_down() {
    local pid
    for pid in "${WEB_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${WEB_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    WEB_PIDS=()
}
