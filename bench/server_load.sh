#!/usr/bin/env bash
# Load benchmark of pavoset-server on loopback: CLIENTS concurrent clients (default 500) each
# fetch the catalogue and every file over the text protocol, then over the framed protocol,
# checking every CRC-32. Prints MB/s, per-file p50/p99, errors and the server's peak RSS, and
# as the anchor the same files fetched by curl from a stock web server on loopback.
# Everything stays on 127.0.0.1 and every step is bounded in time.
#   PAVOSET_BENCH_CLIENTS  clients (default 500)
#   PAVOSET_BENCH_MB       library size in MiB (default 8, spread over 15 files)
#   PAVOSET_BENCH_GAP_MS   the server's --answer-gap-ms (default 100: with hundreds of client
#                          threads sharing the server's two cores, a client may not get to its
#                          first receive within the usual 5 ms, and would then lose file bytes;
#                          real clients each have a machine of their own)
#   PAVOSET_SERVER_BIN     folder holding pavoset-server and pavoset-loadgen
# Then the balanced case (skipped without nginx's stream module): the same clients against
# one replica directly and against three replicas behind nginx (packaging/
# nginx-stream-pavoset.conf), one after the other: clients served per second, p99 per file,
# errors. On one machine the replicas share its cores: this measures what the balancer
# costs, not what more machines gain.
#   PAVOSET_BENCH_BALANCED_GAP_MS  the replicas' --answer-gap-ms there (default 300: the
#                          balancer's worker adds its own delay between an answer and its data,
#                          and errors should count faults, not threads starved of CPU)
#   PAVOSET_BENCH_ONLY_BALANCED=1  only the balanced case
set -u
PAVOSET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=${PAVOSET_SERVER_BIN:-$PAVOSET_ROOT/build/native-release/server}
CLIENTS=${PAVOSET_BENCH_CLIENTS:-500}
MB=${PAVOSET_BENCH_MB:-8}
GAP_MS=${PAVOSET_BENCH_GAP_MS:-100}
FILES=15
BALANCED_GAP_MS=${PAVOSET_BENCH_BALANCED_GAP_MS:-300}
ANCHOR_PORT=20580

if [ ! -x "$BIN/pavoset-server" ] || [ ! -x "$BIN/pavoset-loadgen" ]; then
    echo "server_load: build first (./run bench builds build/native-release)" >&2
    exit 1
fi

WORK=$(mktemp -d /tmp/pavoset-bench.XXXXXX)
SERVER_PID=
ANCHOR_PID=
cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null
    [ -n "$ANCHOR_PID" ] && kill "$ANCHOR_PID" 2>/dev/null && wait "$ANCHOR_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
chmod 755 "$WORK"

"$BIN/pavoset-server" --make-sample "$WORK/lib" --scale-mb "$MB" --files "$FILES" || exit 1
chmod 755 "$WORK/lib"
LIB_BYTES=$(cat "$WORK"/lib/* | wc -c)
echo "library: $FILES files, $LIB_BYTES bytes; $CLIENTS clients; answer gap $GAP_MS ms"

LOAD_RC=0
if [ -z "${PAVOSET_BENCH_ONLY_BALANCED:-}" ]; then
    "$BIN/pavoset-server" --root "$WORK/lib" --port 0 --file-port 0 --port-file "$WORK/ports" \
        --answer-gap-ms "$GAP_MS" --max-connections 8192 --log-level warn 2>"$WORK/server.log" &
    SERVER_PID=$!
    for _ in $(seq 100); do [ -f "$WORK/ports" ] && break; sleep 0.1; done
    PORT=$(sed -n 's/^text //p' "$WORK/ports" 2>/dev/null)
    if [ -z "$PORT" ]; then
        echo "server_load: server did not start" >&2
        cat "$WORK/server.log" >&2
        exit 1
    fi

    timeout 600 "$BIN/pavoset-loadgen" --port "$PORT" --clients "$CLIENTS" --timeout-ms 60000 | tee "$WORK/load.txt"
    LOAD_RC=${PIPESTATUS[0]}
    HWM=$(sed -n 's/^VmHWM:[[:space:]]*//p' "/proc/$SERVER_PID/status")
    echo "server peak RSS (VmHWM): $HWM"
    # utime and stime (fields 14 and 15 of /proc/PID/stat, after the parenthesised name) in ticks.
    awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); printf "server CPU: %.1f s user, %.1f s system\n", $12 / hz, $13 / hz }' \
        "/proc/$SERVER_PID/stat"
    kill -TERM "$SERVER_PID"
    wait "$SERVER_PID" 2>/dev/null
    SERVER_PID=
    grep -E ' (error|warn) ' "$WORK/server.log" | head -5

    # ---- anchor: a stock web server and curl, same files, same number of fetches
    . "$PAVOSET_ROOT/bench/lib/web_anchor.sh"

    if start_web_anchor "$WORK" "$WORK/lib" "$ANCHOR_PORT" 4096; then
        : >"$WORK/curl.cfg"
        for _ in $(seq "$CLIENTS"); do
            for f in "$WORK"/lib/*; do
                printf 'url = "http://127.0.0.1:%s/%s"\noutput = "/dev/null"\n' "$ANCHOR_PORT" "$(basename "$f")" >>"$WORK/curl.cfg"
            done
        done
        START=$(date +%s.%N)
        timeout 600 curl -s --no-progress-meter --fail --parallel --parallel-max 100 -K "$WORK/curl.cfg" 2>"$WORK/curl.err"
        CURL_RC=$?
        END=$(date +%s.%N)
        awk -v b="$LIB_BYTES" -v n="$CLIENTS" -v s="$START" -v e="$END" -v name="$ANCHOR_NAME" -v rc="$CURL_RC" \
            'BEGIN { t = e - s; mb = b * n / 1e6; printf "anchor: curl from %s: %.1f MB in %.2f s = %.1f MB/s (curl exit %d)\n", name, mb, t, mb / t, rc }' \
            | tee -a "$WORK/load.txt"
        awk '/^(text|framed|anchor):/ { for (i = 1; i <= NF; i++) if ($i == "MB/s" || $i == "MB/s,") r[$1] = $(i - 1) }
             END { if (r["anchor:"] > 0) printf "ratio to anchor: text %.2f, framed %.2f\n", r["text:"] / r["anchor:"], r["framed:"] / r["anchor:"] }' "$WORK/load.txt"
    else
        echo "anchor: no web server could be started on 127.0.0.1:$ANCHOR_PORT"
    fi
    [ -n "$ANCHOR_PID" ] && kill "$ANCHOR_PID" 2>/dev/null && wait "$ANCHOR_PID" 2>/dev/null
    ANCHOR_PID=
fi

# ---- balanced: one replica direct vs three behind nginx, same clients
. "$PAVOSET_ROOT/tools/ports.sh"
STREAM_MODULE=/usr/share/nginx/modules/ngx_stream_module.so
if ! command -v nginx >/dev/null || [ ! -f "$STREAM_MODULE" ]; then
    echo "balanced: skipped, nginx's stream module is not installed (libnginx-mod-stream)"
    exit "$LOAD_RC"
fi
REPLICA_PIDS=()
NGINX_PID=
stop_balanced() {
    local p
    for p in "${REPLICA_PIDS[@]}" $NGINX_PID; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
    REPLICA_PIDS=()
    NGINX_PID=
}
trap 'stop_balanced; cleanup' EXIT
BAL_PORT=$(free_port) && BAL_FILE=$(free_port "$BAL_PORT") && R_PORT=$(free_port "$BAL_PORT" "$BAL_FILE") &&
    R_FILE=$(free_port "$BAL_PORT" "$BAL_FILE" "$R_PORT") || exit 1
for r in 1 2 3; do
    "$BIN/pavoset-server" --root "$WORK/lib" --bind "127.0.0.1$r" --port "$R_PORT" --file-port "$R_FILE" \
        --announce-port "$BAL_FILE" --answer-gap-ms "$BALANCED_GAP_MS" --max-connections 8192 --log-level warn \
        --port-file "$WORK/replica$r.ports" 2>>"$WORK/server.log" &
    REPLICA_PIDS+=("$!")
done
# The direct case: the same server alone, telling clients its own file port.
"$BIN/pavoset-server" --root "$WORK/lib" --bind 127.0.0.10 --port "$R_PORT" --file-port "$R_FILE" \
    --answer-gap-ms "$BALANCED_GAP_MS" --max-connections 8192 --log-level warn \
    --port-file "$WORK/replica0.ports" 2>>"$WORK/server.log" &
REPLICA_PIDS+=("$!")
mkdir -p "$WORK/stream"
sed -e "s/127\.0\.0\.1\([123]\):5757/127.0.0.1\1:$R_PORT/" -e "s/127\.0\.0\.1\([123]\):5758/127.0.0.1\1:$R_FILE/" \
    -e "s/listen 127\.0\.0\.1:5757/listen 127.0.0.1:$BAL_PORT/" -e "s/listen 127\.0\.0\.1:5758/listen 127.0.0.1:$BAL_FILE/" \
    "$PAVOSET_ROOT/packaging/nginx-stream-pavoset.conf" >"$WORK/stream/pavoset-stream.conf"
printf 'load_module %s;\nworker_processes auto;\ndaemon off;\npid %s/nginx.pid;\nerror_log %s/error.log;\nevents { worker_connections 16384; }\ninclude %s/pavoset-stream.conf;\n' \
    "$STREAM_MODULE" "$WORK/stream" "$WORK/stream" "$WORK/stream" >"$WORK/stream/nginx.conf"
nginx -c "$WORK/stream/nginx.conf" -p "$WORK/stream" 2>"$WORK/stream/stderr" &
NGINX_PID=$!
for r in 0 1 2 3; do for _ in $(seq 50); do [ -s "$WORK/replica$r.ports" ] && break; sleep 0.1; done; done
sleep 0.5
balanced_run() {  # label host port
    local start end rc
    start=$(date +%s.%N)
    timeout 600 "$BIN/pavoset-loadgen" --host "$2" --port "$3" --clients "$CLIENTS" --timeout-ms 60000 >"$WORK/$1.txt"
    rc=$?
    end=$(date +%s.%N)
    awk -v label="$1" -v s="$start" -v e="$end" -v n="$CLIENTS" '
        /^(text|framed): [0-9]+ clients/ { phase = $1; sub(":", "", phase); err[phase] = $NF; secs[phase] = $(NF - 6) }
        /^  [^ ]+ +[0-9]+ +[0-9.]+ +[0-9.]+$/ { if ($4 > p99[phase]) p99[phase] = $4 }
        END { for (ph in secs) printf "%-10s %-7s %8.1f clients/s  worst p99 per file %7.1f ms  errors %s\n",
                  label, ph, n / secs[ph], p99[ph], err[ph] }' "$WORK/$1.txt" | sort
    return "$rc"
}
echo "balanced case ($CLIENTS clients, both protocols, answer gap $BALANCED_GAP_MS ms; all on this machine's $(nproc) cores):"
balanced_run direct 127.0.0.10 "$R_PORT"
DIRECT_RC=$?
balanced_run balanced 127.0.0.1 "$BAL_PORT"
BALANCED_RC=$?
for label in direct balanced; do grep "error:" "$WORK/$label.txt" | head -3 | sed "s/^ */$label /"; done
stop_balanced
[ "$LOAD_RC" = 0 ] && [ "$DIRECT_RC" = 0 ] && [ "$BALANCED_RC" = 0 ]
