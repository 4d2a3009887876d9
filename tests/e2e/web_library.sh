#!/usr/bin/env bash
# The library from a web server: nginx on 127.0.0.1 serving what `pavoset-server --export`
# wrote, with the server block of packaging/nginx-pavoset.conf, and the real program under
# Wine installing it (no pavoset-server runs):
#   web-http-signed     over http:// with a PublisherKey, in the window: verified, installed;
#                       without a key, http:// is refused and nothing is fetched
#   web-https           over https:// with a test CA: refused while the CA is not trusted,
#                       installed once it is trusted in this Wine prefix (never the machine's)
#   web-proxy           through tinyproxy set as the user's proxy; its log shows the requests
#   web-cdn-swap        the library re-exported in place while a client installs: every file
#                       it installed belongs to one catalogue, and the next run gets the new one
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# shellcheck source=../../tools/web_library.sh
. "$PAVOSET_ROOT/tools/web_library.sh"

# Only a component that cannot be installed is a reason to skip.
for tool in nginx openssl tinyproxy curl; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP web-library: $tool is not installed (./run test installs it)"
        exit 0
    fi
done
e2e_setup || exit 1
# The prefix may be the suite's: the user's proxy set here must not outlive this script.
PROXY_SET=
trap '[ -n "$PROXY_SET" ] && set_user_proxy ""; web_library_down; e2e_teardown' EXIT

VERIFIED_TEXT=$(program_text TEXT_SIGNATURE_VERIFIED)
LIBRARY_URL_VALUE=$(header_text settings/registry_store.h SETTING_LIBRARY_URL)
PUBLISHER_KEY_VALUE=$(header_text settings/registry_store.h SETTING_PUBLISHER_KEY)
WEB="$E2E_DIR/web"
TLS="$E2E_DIR/tls"
LIBRARY="$E2E_DIR/library"

make_library "$LIBRARY" || setup_failed web-library-setup
PUBLISHER=$("$SERVER_BIN" --make-key "$E2E_DIR/publisher.pem") || setup_failed web-library-key
"$SERVER_BIN" --export "$LIBRARY" "$WEB" --key "$E2E_DIR/publisher.pem" --expires-days 30 \
    2>"$E2E_DIR/export.log" || { cat "$E2E_DIR/export.log"; setup_failed web-library-export; }
FILES=$(ls "$LIBRARY" | wc -l)
make_test_ca "$TLS" || { cat "$TLS/openssl.log"; setup_failed web-library-ca; }
next_port HTTP_PORT && next_port HTTPS_PORT && next_port PROXY_PORT || setup_failed web-library-ports
start_static_nginx "$TLS" "$WEB" "$HTTP_PORT" http || setup_failed web-library-nginx-http
start_static_nginx "$TLS" "$WEB" "$HTTPS_PORT" https || setup_failed web-library-nginx-https
HTTP_URL="http://127.0.0.1:$HTTP_PORT/"
HTTPS_URL="https://localhost:$HTTPS_PORT/"
ACCESS_LOG="$TLS/access.log"
e2e_log "nginx: $HTTP_URL and $HTTPS_URL serving $WEB"

# access_mark; ...; access_since: the web server's log lines in between.
access_mark() { ACCESS_MARK=$(stat -c %s "$ACCESS_LOG" 2>/dev/null || echo 0); }
access_since() { tail -c +$((ACCESS_MARK + 1)) "$ACCESS_LOG" 2>/dev/null; }
# The paths asked for since the mark, with their status: "GET /catalogue.txt 200". Through
# a proxy's tunnel Wine's WinHTTP still writes the whole address in the request line.
requests_since() {
    access_since | awk '{ sub(/^https?:\/\/[^\/]*/, "", $7); print $6, $7, $9 }' | tr -d '"'
}

requested() {  # path: asked for and served (200 or 206) since the mark
    requests_since | grep -qE "^GET $1 (200|206)$" && return 0
    e2e_log "no request for $1; the web server saw:"
    requests_since | sed 's/^/    /'
    return 1
}
nothing_requested() {
    [ -z "$(access_since)" ] && return 0
    e2e_log "the web server was asked:"
    requests_since | sed 's/^/    /'
    return 1
}
nothing_installed() {
    local left
    left=$(ls -A "$INSTALL_DIR" 2>/dev/null | grep -vx EXCELLIBINFO.DAT)
    [ -z "$left" ] && return 0
    e2e_log "installed anyway: $left"
    return 1
}

# Every file of the catalogue's folder fetched by its address, and nothing else under files/.
every_file_by_address() {
    local wanted got
    wanted=$(cd "$WEB" && for d in files/*/; do
        for f in "$d"*; do printf '/%s\n' "$f"; done
    done | sort)
    got=$(requests_since | awk '$1 == "GET" && $2 ~ /^\/files\// { print $2 }' |
        python3 -c 'import sys, urllib.parse; [print(urllib.parse.unquote(l.strip())) for l in sys.stdin]' | sort -u)
    [ "$wanted" = "$got" ] && return 0
    e2e_log "files fetched differ from the exported ones:"
    diff <(printf '%s\n' "$wanted") <(printf '%s\n' "$got") | sed 's/^/    /'
    return 1
}

# The headers packaging/nginx-pavoset.conf promises: a cache may keep a file forever, never
# the catalogue or the manifest.
cache_header_is() {  # path expected
    local got
    got=$(curl -sI --cacert "$TLS/ca.pem" "https://127.0.0.1:$HTTPS_PORT$1" | tr -d '\r' | sed -n 's/^Cache-Control: //Ip')
    [ "$got" = "$2" ] && return 0
    e2e_log "$1: Cache-Control '$got', wanted '$2'"
    return 1
}
scenario web-cache-headers
FIRST_FILE=$(cd "$WEB" && ls -d files/*/* | head -n 1)
check "catalogue not cached" cache_header_is /catalogue.txt no-cache
check "manifest not cached" cache_header_is /Pavoset.manifest no-cache
check "files kept forever" cache_header_is "/$FIRST_FILE" "public, max-age=31536000, immutable"
check "a half-written file never shown" test "$(curl -s -o /dev/null -w '%{http_code}' "${HTTP_URL}catalogue.txt.partial")" = 404
scenario_end

# ------------------------------------------------------------------ 1. http:// with a key
scenario web-http-signed
reg_set "$LIBRARY_URL_VALUE" "$HTTP_URL"
reg_set "$PUBLISHER_KEY_VALUE" "$PUBLISHER"
access_mark
run_log_mark
check "main window" start_pavoset
check "catalogue rows" wait_rows "$FILES"
check "says verified" ua --timeout 20000 wait-text "$ID_MESSAGE_LINE" "$VERIFIED_TEXT"
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
check "completion line" ua --timeout 90000 wait-text "$ID_MESSAGE_LINE" "$COMPLETION_TEXT"
check "every row Match" all_rows_are "$STATUS_MATCH" "$FILES"
check_all_installed "$LIBRARY"
check "catalogue fetched" requested /catalogue.txt
check "manifest fetched" requested /Pavoset.manifest
check "every file fetched by its address" every_file_by_address
check "the run log names the address" run_log_has "$HTTP_URL"
scenario_end

scenario web-http-without-key
access_mark
run_log_mark
run_unattended -install -url "$HTTP_URL"
check "no catalogue: exit 2" exit_code_is 2
check "says http:// needs a key" run_log_has "$(program_line TEXT_WEB_HTTP_NEEDS_KEY_FORMAT "$HTTP_URL" | sed 's/^ *//')"
check "nothing fetched over plain http" nothing_requested
check "nothing installed" nothing_installed
scenario_end

# ------------------------------------------------------------------ 2. https:// with a test CA
scenario web-https-untrusted-ca
access_mark
run_log_mark
run_unattended -install -url "$HTTPS_URL"
check "refused: exit 2" exit_code_is 2
check "says the certificate did not verify" run_log_has "$(program_text TEXT_WEB_CERTIFICATE)"
check "nothing installed" nothing_installed
check "no file was served" bash -c '! grep -q " /files/" <<<"$0"' "$(requests_since)"
scenario_end

check_ca_trusted() {
    trust_test_ca "$TLS/ca.pem" && return 0
    e2e_log "the test CA could not be added to the prefix's trusted roots"
    return 1
}

scenario web-https
check "test CA trusted in this prefix" check_ca_trusted
access_mark
run_unattended -install -url "$HTTPS_URL"
check "installed: exit 0" exit_code_is 0
check_all_installed "$LIBRARY"
check "every file fetched by its address" every_file_by_address
scenario_end

# ------------------------------------------------------------------ 3. through the user's proxy
start_forward_proxy "$TLS" "$PROXY_PORT" || setup_failed web-proxy-setup
scenario web-proxy
check "test CA trusted in this prefix" check_ca_trusted
PROXY_SET=1
check "the user's proxy set" set_user_proxy "127.0.0.1:$PROXY_PORT"
reg_set "$PUBLISHER_KEY_VALUE" "$PUBLISHER"
PROXY_MARK=$(stat -c %s "$TLS/proxy.log")
access_mark
run_log_mark
run_unattended -install -url "$HTTPS_URL"
check "installed: exit 0" exit_code_is 0
check_all_installed "$LIBRARY"
proxy_carried() {
    local tunnels
    tunnels=$(tail -c +$((PROXY_MARK + 1)) "$TLS/proxy.log" | grep -c "CONNECT localhost:$HTTPS_PORT ")
    e2e_log "the proxy carried $tunnels tunnels to localhost:$HTTPS_PORT"
    [ "$tunnels" -ge 1 ] && return 0
    e2e_log "the proxy's log:"
    tail -c +$((PROXY_MARK + 1)) "$TLS/proxy.log" | tail -n 20 | sed 's/^/    /'
    e2e_log "the run log:"
    run_log_since | sed 's/^/    /'
    return 1
}
check "the proxy carried the requests" proxy_carried
check "the run log names the proxy" run_log_has "127.0.0.1:$PROXY_PORT"
check "every file fetched by its address" every_file_by_address
check "the user's proxy cleared" set_user_proxy "" && PROXY_SET=
scenario_end

# ------------------------------------------------------------------ 4. the catalogue replaced mid-install
# A library big enough to take a few seconds at the rate the web server allows; re-exported
# in place, with every file changed, once the client has started on the files.
CDN_LIB="$E2E_DIR/cdn-library"
CDN_WEB="$E2E_DIR/cdn-web"
"$SERVER_BIN" --make-sample "$CDN_LIB" --scale-mb 12 --files 6 >/dev/null 2>&1 || setup_failed web-cdn-setup
"$SERVER_BIN" --export "$CDN_LIB" "$CDN_WEB" --key "$E2E_DIR/publisher.pem" 2>/dev/null ||
    setup_failed web-cdn-export
next_port CDN_PORT || setup_failed web-cdn-ports
start_static_nginx "$TLS" "$CDN_WEB" "$CDN_PORT" https "limit_rate 3m;" || setup_failed web-cdn-nginx
CDN_URL="https://localhost:$CDN_PORT/"
cp "$CDN_WEB/catalogue.txt" "$E2E_DIR/catalogue-old.txt"

# installed_from CATALOGUE: every file the catalogue names is in the install folder with that
# size and CRC-32.
installed_from() {
    python3 - "$1" "$INSTALL_DIR" <<'PY'
import os, sys, zlib
records = open(sys.argv[1], 'rb').read().split(b'~|')
bad = []
for r in records:
    name, crc, size = r.split(b'^|')[:3]
    path = os.path.join(sys.argv[2], name.decode('cp949'))
    try:
        data = open(path, 'rb').read()
    except OSError:
        bad.append(name.decode('cp949') + ' missing'); continue
    if len(data) != int(size) or zlib.crc32(data) != int(crc):
        bad.append(name.decode('cp949') + ' differs')
print('\n'.join(bad))
sys.exit(1 if bad else 0)
PY
}

scenario web-cdn-swap
check "test CA trusted in this prefix" check_ca_trusted
reg_set "$PUBLISHER_KEY_VALUE" "$PUBLISHER"
access_mark
(cd "$E2E_DIR/app" && exec wine Pavoset.exe -install -url "$CDN_URL" \
    >"$E2E_DIR/cdn.out" 2>>"$E2E_DIR/pavoset.out") &
CLIENT_PID=$!
E2E_PIDS+=("$CLIENT_PID")
for _ in $(seq 1 300); do
    grep -q ' /files/' <(access_since) && break
    kill -0 "$CLIENT_PID" 2>/dev/null || break
    sleep 0.1
done
# Every file changes (same size, other bytes), so a mixed install could not hide.
for f in "$CDN_LIB"/*; do
    printf 'NEW' | dd of="$f" bs=1 seek=100 conv=notrunc 2>/dev/null
done
"$SERVER_BIN" --export "$CDN_LIB" "$CDN_WEB" --key "$E2E_DIR/publisher.pem" 2>>"$E2E_DIR/export.log"
check "re-exported while the client was installing" kill -0 "$CLIENT_PID"
wait "$CLIENT_PID"
CDN_RC=$?
e2e_log "Pavoset.exe -install -> $CDN_RC"
check "the first run finished: exit 0" test "$CDN_RC" = 0
check "every installed file is of the old catalogue" installed_from "$E2E_DIR/catalogue-old.txt"
run_unattended -install -url "$CDN_URL"
check "the next run: exit 0" exit_code_is 0
check "every file is then of the new catalogue" installed_from "$CDN_WEB/catalogue.txt"
scenario_end

e2e_finish
