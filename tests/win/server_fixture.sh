#!/usr/bin/env bash
# ctest's fixture for the Windows tests that talk to a real pavoset-server:
#   server_fixture.sh up DIR     the sample library and its signed fixtures in DIR, the server on
#                                127.0.0.1 (free ports), and DIR/fixture.env for tools/wine/run-exe.sh
#   server_fixture.sh down DIR   stops that server (by the PID it recorded) and removes the file
# The server is the native build's (build/native-debug, else native-release; PAVOSET_TEST_SERVER
# names another). It ends by itself after PAVOSET_TEST_SERVER_SECONDS (default 5400) should the
# cleanup never run.
set -u
action=${1:-} dir=${2:-}
[ -n "$dir" ] || { echo "usage: server_fixture.sh up|down DIR" >&2; exit 2; }
PAVOSET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../../tools/ports.sh
. "$PAVOSET_ROOT/tools/ports.sh"

# Stops the server a previous run recorded, if it is still that server.
stop_recorded() {
    local pid
    pid=$(cat "$dir/server.pid" 2>/dev/null) || return 0
    if [ -n "$pid" ] && grep -qa -- '--make-sample\|--root' "/proc/$pid/cmdline" 2>/dev/null; then
        kill "$pid" 2>/dev/null
        local i
        for i in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$dir/server.pid"
}

case "$action" in
    down)
        stop_recorded
        rm -f "$dir/fixture.env"
        exit 0 ;;
    up) ;;
    *) echo "usage: server_fixture.sh up|down DIR" >&2; exit 2 ;;
esac

bin=${PAVOSET_TEST_SERVER:-}
if [ -z "$bin" ]; then
    for bin in "$PAVOSET_ROOT/build/native-debug/server/pavoset-server" \
               "$PAVOSET_ROOT/build/native-release/server/pavoset-server" ""; do
        [ -x "$bin" ] && break
    done
fi
[ -n "$bin" ] && [ -x "$bin" ] || {
    echo "no pavoset-server: build the native-debug preset first (or set PAVOSET_TEST_SERVER)" >&2
    exit 1
}

stop_recorded
rm -rf "$dir/sample" "$dir/signed" "$dir/fixture.env"
mkdir -p "$dir"
"$bin" --make-sample "$dir/sample" >/dev/null 2>&1 || { echo "--make-sample failed" >&2; exit 1; }
port=$(free_port) && file_port=$(free_port "$port") || { echo "no free loopback port" >&2; exit 1; }
# Every descriptor away from ctest's: a server holding its output pipe would keep ctest waiting.
setsid timeout "${PAVOSET_TEST_SERVER_SECONDS:-5400}" "$bin" --root "$dir/sample" --bind 127.0.0.1 \
    --port "$port" --file-port "$file_port" </dev/null >"$dir/server.log" 2>&1 &
echo $! >"$dir/server.pid"
up=
for _ in $(seq 1 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && { up=1; break; }
    sleep 0.1
done
[ -n "$up" ] || { echo "the server did not answer on 127.0.0.1:$port" >&2; cat "$dir/server.log" >&2; stop_recorded; exit 1; }

win_dir="Z:${dir//\//\\}"
# Keys and manifests made by the server's signing code; the sample is signed with key1.
bash "$PAVOSET_ROOT/tests/win/catalogue/signed_fixtures.sh" "$bin" "$dir/signed" "$dir/sample" ||
    { echo "signed fixtures failed" >&2; stop_recorded; exit 1; }
{
    printf "export PAVOSET_SERVER_PORT=%s PAVOSET_SERVER_FILE_PORT=%s\n" "$port" "$file_port"
    printf "export PAVOSET_SAMPLE_DIR='%s\\\\sample'\n" "$win_dir"
    printf "export PAVOSET_SIGNED_DIR='%s\\\\signed'\n" "$win_dir"
} >"$dir/fixture.env.$$" && mv -f "$dir/fixture.env.$$" "$dir/fixture.env"
echo "pavoset-server on 127.0.0.1:$port (file port $file_port), sample in $dir/sample"
