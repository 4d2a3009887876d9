#!/usr/bin/env bash
# Install benchmark: the client (under Wine) installs the sample library scaled to 15 files
# of about 256 MiB from pavoset-server on loopback, over the text and then the framed
# protocol, fresh and then as a no-change refresh (every file compared by size and CRC-32).
# As the anchor, curl fetches the same files from a stock web server on loopback into files.
# Prints figures and ratios; asserts nothing. Everything stays on 127.0.0.1.
# The client times only its install pass and refresh (not Wine's start, the connection or the
# catalogue). curl is timed as a whole process, and once more with an fsync of every file it
# wrote: the client flushes each file to disk before it replaces the old one, curl does not.
# Each side runs PAVOSET_BENCH_RUNS times and the medians are compared, framed/text included.
# The library is signed, and the text protocol's no-change refresh is timed once more without
# and then with the publisher key configured (every file then compared by size and SHA-256),
# each beside one thread comparing the files in turn (the refresh takes two at a time).
# Then the web channel: the same library exported (pavoset-server --export) and served by nginx
# over HTTPS (packaging/nginx-pavoset.conf, a test CA trusted only in the benchmark's prefix),
# installed by the client and, in the same run from the same nginx, fetched by curl into files
# (and once more with an fsync of every file).
# Then the framed install once more against a lockstep server (--window-kb 1: one 1024-byte
# chunk per "NEXT", nothing more until it has come), on a smaller library of its own, and with
# an older client beside it when one is given, to show the client is no slower there.
#   PAVOSET_BENCH_INSTALL_MB      library size in MiB (default 256)
#   PAVOSET_BENCH_LOCKSTEP_MB     library size of the lockstep case in MiB (default 16; 0: skip)
#   PAVOSET_BENCH_BASELINE_CLIENT an older install_bench_client.exe for the lockstep case, and
#                                 for the web channel (a third turn beside the client and curl)
#   PAVOSET_BENCH_RUNS            runs of each measurement (default 3)
#   PAVOSET_BENCH_WEB             0: leave out the web channel (default 1); only: the web
#                                 channel and its curl alone (no text, framed, lockstep or anchor)
#   PAVOSET_BENCH_SERVER_ARGS     extra pavoset-server options (default "--answer-gap-ms 5": the
#                                 30 ms default pause protects clients that drop bytes arriving
#                                 with the answer; ours keeps them, so the pause is pure wait)
#   PAVOSET_SERVER_BIN            folder holding pavoset-server (default build/native-release/server)
#   PAVOSET_INSTALL_BENCH_CLIENT  install_bench_client.exe (default: the Windows build that tools/wine/env.sh chose)
set -u
PAVOSET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=${PAVOSET_SERVER_BIN:-$PAVOSET_ROOT/build/native-release/server}
MB=${PAVOSET_BENCH_INSTALL_MB:-256}
# shellcheck source=../tools/wine/env.sh
. "$PAVOSET_ROOT/tools/wine/env.sh"
CLIENT=${PAVOSET_INSTALL_BENCH_CLIENT:-$PAVOSET_WIN_BUILD/tests/win/catalogue/install_bench_client.exe}
RUNS=${PAVOSET_BENCH_RUNS:-3}
LOCKSTEP_MB=${PAVOSET_BENCH_LOCKSTEP_MB:-16}
BASELINE=${PAVOSET_BENCH_BASELINE_CLIENT:-}
FILES=15
ANCHOR_PORT=20581

if [ ! -x "$BIN/pavoset-server" ]; then
    echo "install_bench: build first (./run bench builds build/native-release)" >&2
    exit 1
fi
if [ ! -f "$CLIENT" ]; then
    (cd "$PAVOSET_ROOT" && cmake --preset "$PAVOSET_WIN_PRESET" >/dev/null &&
        cmake --build "$PAVOSET_WIN_BUILD" --target install_bench_client -j 2 >/dev/null) ||
        { echo "install_bench: could not build install_bench_client.exe" >&2; exit 1; }
fi

WORK=$(mktemp -d /tmp/pavoset-install-bench.XXXXXX)
SERVER_PID=
ANCHOR_PID=
OWN_PREFIX=
WEB=${PAVOSET_BENCH_WEB:-1}
# shellcheck source=../tools/web_library.sh
. "$PAVOSET_ROOT/tools/web_library.sh"
# shellcheck source=../tools/ports.sh
. "$PAVOSET_ROOT/tools/ports.sh"
cleanup() {
    web_library_down
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null
    [ -n "$ANCHOR_PID" ] && kill "$ANCHOR_PID" 2>/dev/null && wait "$ANCHOR_PID" 2>/dev/null
    if [ -n "$OWN_PREFIX" ]; then wine_prefix_down; xvfb_down; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
chmod 755 "$WORK"

"$BIN/pavoset-server" --make-sample "$WORK/lib" --scale-mb "$MB" --files "$FILES" >/dev/null || exit 1
chmod 755 "$WORK/lib"
LIB_BYTES=$(cat "$WORK"/lib/* | wc -c)
echo "library: $FILES files, $LIB_BYTES bytes"
echo "client: $CLIENT ($(file -b "$CLIENT" 2>/dev/null | cut -d, -f1), $PAVOSET_WINE_ARCH Wine prefix)"
# Signed after it was measured: the manifest is served beside the library, never listed.
if PAVOSET_BENCH_PUBLISHER_KEY=$("$BIN/pavoset-server" --make-key "$WORK/publisher.pem") &&
    "$BIN/pavoset-server" --sign "$WORK/lib" --key "$WORK/publisher.pem" 2>/dev/null; then
    export PAVOSET_BENCH_PUBLISHER_KEY
else
    echo "install_bench: could not sign the library; the signed refresh is left out" >&2
    unset PAVOSET_BENCH_PUBLISHER_KEY
fi

SERVER_ARGS=${PAVOSET_BENCH_SERVER_ARGS---answer-gap-ms 5}
# start_server LIBRARY [OPTIONS...]: sets SERVER_PID and PORT.
start_server() {
    local lib=$1
    shift
    rm -f "$WORK/ports"
    # shellcheck disable=SC2086
    "$BIN/pavoset-server" --root "$lib" --port 0 --file-port 0 --port-file "$WORK/ports" $SERVER_ARGS "$@" \
        --log-level warn 2>"$WORK/server.log" &
    SERVER_PID=$!
    for _ in $(seq 100); do grep -q '^file ' "$WORK/ports" 2>/dev/null && break; sleep 0.1; done
    PORT=$(sed -n 's/^text //p' "$WORK/ports" 2>/dev/null)
    if [ -z "$PORT" ]; then
        echo "install_bench: server did not start" >&2
        cat "$WORK/server.log" >&2
        exit 1
    fi
}
stop_server() {
    kill -TERM "$SERVER_PID"
    wait "$SERVER_PID" 2>/dev/null
    SERVER_PID=
}
# run_client EXE RUNS [framed|URL]: the client's lines into run.txt; CLIENT_RC is its exit
# status. A client that failed says so here, with why (its exit status and last words), so
# that a missing figure is never silent.
run_client() {
    local exe=$1
    shift
    (cd "$(dirname "$exe")" && LC_ALL=ko_KR.UTF-8 timeout 1800 wine "$(basename "$exe")" "$PORT" "$@") \
        2>"$WORK/run.err" | tr -d '\r' >"$WORK/run.txt"
    CLIENT_RC=${PIPESTATUS[0]}
    if [ "$CLIENT_RC" != 0 ]; then
        local why
        why=$( (tail -n 3 "$WORK/run.txt"; grep -v '^[0-9a-f]*:fixme:' "$WORK/run.err" | tail -n 3) |
            tr -d '\r' | tr '\n' ' ')
        [ "$CLIENT_RC" = 124 ] && why="timed out after 1800 s; $why"
        echo "client failed: $(basename "$exe") ${*:-} exited with status $CLIENT_RC: ${why:-it printed nothing}"
    fi
}

if [ -z "${WINEPREFIX:-}" ]; then
    . "$PAVOSET_ROOT/tools/wine/env.sh"
    OWN_PREFIX=1
    wine_prefix_up "$WORK/wine"
    xvfb_up || exit 1
fi
RC=0
: >"$WORK/client.txt"
if [ "$WEB" != only ]; then
    start_server "$WORK/lib"
    echo "pavoset-server options: $SERVER_ARGS; $RUNS runs each, medians compared"
    run_client "$CLIENT" "$RUNS" >"$WORK/run.failed"
    tee "$WORK/client.txt" <"$WORK/run.txt"
    tee -a "$WORK/client.txt" <"$WORK/run.failed"
    RC=$CLIENT_RC
    stop_server
else
    LOCKSTEP_MB=0
    PORT=0  # the client's first argument; the web channel does not use it
fi

# ---- the web channel: nginx over HTTPS, the client and curl from the same server
# The client and curl take turns, one run each at a time, so that a busy moment of a shared
# machine does not fall on one side only.
# curl_once CONFIG TIMES: one curl -K CONFIG into empty files, timed as a whole process and
# again after an fsync of every file; appends "start fetched synced" to TIMES.
curl_once() {
    local start fetched synced
    rm -rf "$WORK/curl" && mkdir -p "$WORK/curl"
    start=$(date +%s.%N)
    timeout 600 curl -s --fail -K "$1" || CURL_WEB_RC=$?
    fetched=$(date +%s.%N)
    sync "$WORK"/curl/*
    synced=$(date +%s.%N)
    echo "$start $fetched $synced" >>"$2"
}

if [ "$WEB" != 0 ] && command -v nginx >/dev/null && command -v openssl >/dev/null; then
    "$BIN/pavoset-server" --export "$WORK/lib" "$WORK/web" 2>/dev/null || exit 1
    make_test_ca "$WORK/tls" || { cat "$WORK/tls/openssl.log" >&2; exit 1; }
    WEB_PORT=$(free_port) || exit 1
    start_static_nginx "$WORK/tls" "$WORK/web" "$WEB_PORT" https || exit 1
    WEB_URL="https://localhost:$WEB_PORT/"
    trust_test_ca "$WORK/tls/ca.pem" || { echo "install_bench: could not trust the test CA" >&2; exit 1; }
    echo "web channel: nginx over HTTPS on $WEB_URL (test CA trusted in the prefix); client and curl take turns"
    printf 'cacert = "%s"\n' "$WORK/tls/ca.pem" >"$WORK/curl-web.cfg"
    for dir in "$WORK"/web/files/*/; do
        for f in "$dir"*; do
            printf 'url = "https://127.0.0.1:%s/%s"\noutput = "%s/curl/%s"\n' "$WEB_PORT" \
                "$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "${f#"$WORK/web/"}")" \
                "$WORK" "$(basename "$f")" >>"$WORK/curl-web.cfg"
        done
    done
    CURL_WEB_RC=0
    : >"$WORK/web-runs.txt"
    : >"$WORK/web-baseline.txt"
    : >"$WORK/https-anchor.times"
    for run in $(seq "$RUNS"); do
        run_client "$CLIENT" 1 "$WEB_URL" >"$WORK/run.failed"
        tee -a "$WORK/client.txt" <"$WORK/run.failed"
        [ "$CLIENT_RC" = 0 ] || RC=$CLIENT_RC
        sed -n "s|^web: run 1/1: |web: run $run/$RUNS: |p" "$WORK/run.txt" | tee -a "$WORK/web-runs.txt"
        curl_once "$WORK/curl-web.cfg" "$WORK/https-anchor.times"
        if [ -n "$BASELINE" ] && [ -f "$BASELINE" ]; then
            run_client "$BASELINE" 1 "$WEB_URL"
            sed -n "s|^web: run 1/1: fresh \([0-9.]*\) s.*|\1|p" "$WORK/run.txt" >>"$WORK/web-baseline.txt"
        fi
    done
    if [ -s "$WORK/web-baseline.txt" ]; then
        sort -n "$WORK/web-baseline.txt" | awk -v b="$LIB_BYTES" '{ t[++n] = $1 }
            END { m = n % 2 ? t[(n + 1) / 2] : (t[n / 2] + t[n / 2 + 1]) / 2
                  printf "web-baseline: the older client, fresh install, %.1f MB, median of %d runs %.2f s = %.1f MB/s\n", b / 1e6, n, m, b / 1e6 / m }' |
            tee -a "$WORK/client.txt"
    fi
    web_library_down
    # The same lines as the other channels' and the anchor's, for the summary below.
    awk -v b="$LIB_BYTES" -v runs="$RUNS" -v rc="$CURL_WEB_RC" -v files="$FILES" '
        function median(a, n,   i, j, t) {
            for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
            return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
        FILENAME ~ /web-runs/ { n++; fresh[n] = $5; refresh[n] = $11; if ($0 !~ /incomplete/) ok++; next }
        { m++; fetch[m] = $2 - $1; synced[m] = $3 - $1 }
        END { if (n) { f = median(fresh, n); r = median(refresh, n)
                  printf "web: fresh install of %d files, %d/%d runs complete, %.1f MB, median %.2f s = %.1f MB/s\n", files, ok, runs, b / 1e6, f, b / 1e6 / f
                  printf "web: no-change refresh (size and CRC-32 of every file), %.1f MB, median %.2f s = %.1f MB/s\n", b / 1e6, r, b / 1e6 / r }
              f = median(fetch, m); s = median(synced, m)
              printf "https-anchor: curl from the same nginx over HTTPS into files: %.1f MB, median %.2f s = %.1f MB/s (curl exit %d)\n", b / 1e6, f, b / 1e6 / f, rc
              printf "https-anchor+fsync: the same, then fsync of every file: median %.2f s = %.1f MB/s\n", s, b / 1e6 / s }' \
        "$WORK/web-runs.txt" "$WORK/https-anchor.times" | tee -a "$WORK/client.txt"
fi

# ---- lockstep server: one chunk per "NEXT"
if [ "$LOCKSTEP_MB" -gt 0 ]; then
    "$BIN/pavoset-server" --make-sample "$WORK/lockstep" --scale-mb "$LOCKSTEP_MB" --files "$FILES" >/dev/null || exit 1
    chmod 755 "$WORK/lockstep"
    echo "lockstep server (--window-kb 1), library of $(cat "$WORK"/lockstep/* | wc -c) bytes"
    start_server "$WORK/lockstep" --window-kb 1
    # One run at a time, the two clients taking turns to go first, so that neither gains
    # from the other's warming up or from a quieter moment of a shared machine.
    : >"$WORK/lockstep.txt"
    for run in $(seq "$RUNS"); do
        for who in this baseline; do
            if [ $((run % 2)) = 0 ]; then who=$([ "$who" = this ] && echo baseline || echo this); fi
            exe=$CLIENT
            if [ "$who" = baseline ]; then
                [ -n "$BASELINE" ] && [ -f "$BASELINE" ] || continue
                exe=$BASELINE
            fi
            run_client "$exe" 1 framed
            [ "$CLIENT_RC" = 0 ] || { [ "$who" = this ] && RC=$CLIENT_RC; }
            sed -n "s|^framed: run 1/1: fresh [0-9.]* s = \([0-9.]*\) MB/s.*|$who \1|p" "$WORK/run.txt" >>"$WORK/lockstep.txt"
        done
    done
    awk -v mb="$(cat "$WORK"/lockstep/* | wc -c)" '
        function median(a, n,   i, j, t) {
            for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
            return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
        $1 == "this" { t[++nt] = $2 } $1 == "baseline" { b[++nb] = $2 }
        END { printf "lockstep: this client: fresh install, %.1f MB, median of %d runs %.1f MB/s\n", mb / 1e6, nt, median(t, nt)
              if (nb) printf "lockstep: baseline client: fresh install, %.1f MB, median of %d runs %.1f MB/s\n", mb / 1e6, nb, median(b, nb) }' \
        "$WORK/lockstep.txt" | tee -a "$WORK/client.txt"
    stop_server
fi

# ---- anchor: a stock web server, curl fetching the same files one after another into files
if [ "$WEB" != only ]; then
    mkdir -p "$WORK/curl"
    . "$PAVOSET_ROOT/bench/lib/web_anchor.sh"
    start_web_anchor "$WORK" "$WORK/lib" "$ANCHOR_PORT" 64 || echo "install_bench: the anchor web server did not answer" >&2
    : >"$WORK/curl.cfg"
    for f in "$WORK"/lib/*; do
        printf 'url = "http://127.0.0.1:%s/%s"\noutput = "%s/curl/%s"\n' "$ANCHOR_PORT" \
            "$(basename "$f")" "$WORK" "$(basename "$f")" >>"$WORK/curl.cfg"
    done
    CURL_RC=0
    : >"$WORK/curl.times"
    for run in $(seq "$RUNS"); do
        rm -f "$WORK"/curl/*
        START=$(date +%s.%N)
        timeout 600 curl -s --fail -K "$WORK/curl.cfg" || CURL_RC=$?
        FETCHED=$(date +%s.%N)
        sync "$WORK"/curl/*
        SYNCED=$(date +%s.%N)
        echo "$START $FETCHED $SYNCED" >>"$WORK/curl.times"
    done
    awk -v b="$LIB_BYTES" -v name="$ANCHOR_NAME" -v rc="$CURL_RC" '
        function median(a, n,   i, j, t) {
            for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
            return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
        { n++; fetch[n] = $2 - $1; synced[n] = $3 - $1 }
        END { f = median(fetch, n); s = median(synced, n)
              printf "anchor: curl from %s into files: %.1f MB, median %.2f s = %.1f MB/s (curl exit %d)\n", name, b / 1e6, f, b / 1e6 / f, rc
              printf "anchor+fsync: the same, then fsync of every file: median %.2f s = %.1f MB/s\n", s, b / 1e6 / s }' \
        "$WORK/curl.times" | tee -a "$WORK/client.txt"
fi
awk '/^(text|framed|web|anchor|anchor\+fsync|https-anchor|https-anchor\+fsync):/ && !/ run [0-9]/ {
         for (i = 2; i <= NF; i++) if ($i == "MB/s") {
             if ($1 == "anchor:") a = $(i - 1);
             else if ($1 == "anchor+fsync:") af = $(i - 1);
             else if ($1 == "https-anchor:") ha = $(i - 1);
             else if ($1 == "https-anchor+fsync:") haf = $(i - 1);
             else if ($0 ~ /fresh install/) f[$1] = $(i - 1);
             else if ($0 ~ /refresh/) r[$1] = $(i - 1) } }
     /^lockstep: .*fresh install/ { for (i = 2; i <= NF; i++) if ($i == "MB/s") l[$2] = $(i - 1) }
     /^web-baseline:/ { for (i = 2; i <= NF; i++) if ($i == "MB/s") wb = $(i - 1) }
     END { if (f["text:"] > 0) printf "framed/text (fresh install, medians): %.2f\n", f["framed:"] / f["text:"];
           if (l["this"] > 0) printf "lockstep server (framed): this client %s MB/s", l["this"];
           if (l["baseline"] > 0) printf ", baseline client %s MB/s, ratio %.2f", l["baseline"], l["this"] / l["baseline"];
           if (l["this"] > 0) printf "\n";
           if (a > 0) printf "ratio to anchor (fresh install): text %.2f, framed %.2f\n", f["text:"] / a, f["framed:"] / a;
           if (af > 0) printf "ratio to anchor with fsync (fresh install): text %.2f, framed %.2f\n", f["text:"] / af, f["framed:"] / af;
           if (ha > 0 && f["web:"] > 0) printf "web (HTTPS) install: %s MB/s, %.2f x curl over HTTPS, %.2f x curl over HTTPS with fsync (goal 0.9)\n", f["web:"], f["web:"] / ha, f["web:"] / haf;
           if (wb > 0 && f["web:"] > 0) printf "web (HTTPS) install: this client %s MB/s, older client %s MB/s, ratio %.2f\n", f["web:"], wb, f["web:"] / wb;
           if (r["text:"] != "") printf "no-change refresh: text %s MB/s, framed %s MB/s (compare with bench_crc32)\n", r["text:"], r["framed:"] }' \
    "$WORK/client.txt"
exit "$RC"
