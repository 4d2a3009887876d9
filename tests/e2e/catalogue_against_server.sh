#!/usr/bin/env bash
# Both install passes (text and framed) of catalogue_tests against the reference server on
# loopback: fresh install of the sample library, an upgrade of one changed file, and an
# all-Match pass. Prints one PASS/FAIL line per scenario.
set -u
PAVOSET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../../tools/wine/env.sh
. "$PAVOSET_ROOT/tools/wine/env.sh"
SERVER=${PAVOSET_SERVER_BIN:-$PAVOSET_ROOT/build/native-debug/server/pavoset-server}
TESTS=${PAVOSET_CATALOGUE_TESTS:-${PAVOSET_E2E_WIN_BUILD:-$PAVOSET_WIN_BUILD}/tests/win/catalogue/catalogue_tests.exe}
NAME=catalogue_against_server

if [ ! -x "$SERVER" ] || [ ! -f "$TESTS" ]; then
    echo "FAIL $NAME (not built: $SERVER or $TESTS)"
    exit 1
fi

scratch=$(mktemp -d /tmp/pavoset-catalogue-e2e.XXXXXX)
server_pid=
own_prefix=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    if [ -n "$own_prefix" ]; then wine_prefix_down; xvfb_down; fi
    rm -rf "$scratch"
}
trap cleanup EXIT

"$SERVER" --make-sample "$scratch/sample" >/dev/null 2>&1 || { echo "FAIL $NAME (sample)"; exit 1; }
"$SERVER" --root "$scratch/sample" --port 0 --file-port 0 --port-file "$scratch/ports" \
    --log-level info >"$scratch/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 50); do
    grep -q '^file ' "$scratch/ports" 2>/dev/null && break
    sleep 0.1
done
port=$(sed -n 's/^text \([0-9]*\)$/\1/p' "$scratch/ports" 2>/dev/null)
[ -n "$port" ] || { echo "FAIL $NAME (server did not start)"; cat "$scratch/server.log"; exit 1; }

# Run under the caller's Wine prefix and display (./run test provides both), else our own.
if [ -z "${WINEPREFIX:-}" ]; then
    own_prefix=1
    wine_prefix_up "$scratch/wine"
    xvfb_up || { echo "FAIL $NAME (Xvfb)"; exit 1; }
fi

sample_win=$(winepath -w "$scratch/sample" 2>/dev/null)
out=$(cd "$(dirname "$TESTS")" && PAVOSET_SERVER_PORT=$port PAVOSET_SAMPLE_DIR="$sample_win" \
      LC_ALL=ko_KR.UTF-8 timeout 600 wine "$(basename "$TESTS")" --gtest_color=no \
      --gtest_filter='AgainstServer.*' 2>&1 | tr -d '\r')
status=0
for scenario in TextProtocolInstallsAndUpgrades FramedProtocolInstallsAndUpgrades; do
    if printf '%s\n' "$out" | grep -q "^\[       OK \] AgainstServer.$scenario "; then
        echo "PASS $NAME.$scenario"
    else
        echo "FAIL $NAME.$scenario"
        status=1
    fi
done
if [ $status -ne 0 ]; then
    printf '%s\n' "$out" | tail -n 40
    tail -n 20 "$scratch/server.log"
fi
exit $status
