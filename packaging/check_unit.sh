#!/usr/bin/env bash
# Checks the systemd unit: systemd-analyze verify (with ExecStart pointed at a built server,
# since verify wants the program to exist), then the settings a careful administrator expects.
# Usage: check_unit.sh UNIT SERVER_BINARY. Prints "PASS name" / "FAIL name"; status 1 on a FAIL.
set -u
UNIT=$1
SERVER=$2
FAILED=0
result() { if [ "$2" = 0 ]; then echo "PASS $1"; else echo "FAIL $1"; FAILED=1; fi; }

work=$(mktemp -d /tmp/pavoset-unit.XXXXXX)
trap 'rm -rf "$work"' EXIT
sed "s|^ExecStart=/usr/local/bin/pavoset-server |ExecStart=$SERVER |" "$UNIT" >"$work/pavoset-server.service"

if command -v systemd-analyze >/dev/null; then
    out=$(systemd-analyze verify "$work/pavoset-server.service" 2>&1)
    rc=$?
    # verify reports unknown or misspelt settings but still succeeds, and without systemd
    # running it may complain about the host's own units: any line about this unit fails.
    ours=$(grep 'pavoset-server' <<<"$out")
    [ -n "$ours" ] && printf '  %s\n' "$ours"
    [ -z "$ours" ] && { [ "$rc" = 0 ] || [ -n "$out" ]; }
    result "systemd-analyze verify" $?
else
    echo "  systemd-analyze is not installed: only the settings are checked"
fi

# The last value of a setting (later lines override earlier ones).
setting() { sed -n "s/^$1=//p" "$UNIT" | tail -n 1; }
expect() {  # name expected
    [ "$(setting "$1")" = "$2" ]
    result "unit $1=$2" $?
}
expect DynamicUser yes
expect NoNewPrivileges yes
expect PrivateTmp yes
expect ProtectSystem strict
expect RestrictAddressFamilies "AF_INET AF_INET6"
expect Restart on-failure
expect StandardError journal
expect CapabilityBoundingSet ""
# The library may be read, never written: it is read-only, and nowhere writable.
root=$(setting ExecStart | sed -n 's/.*--root \([^ ]*\).*/\1/p')
[ -n "$root" ] && grep -qx "ReadOnlyPaths=$root" "$UNIT" && ! grep -q "^ReadWritePaths=" "$UNIT"
result "library $root read-only" $?
! grep -qE '^(User|Group)=' "$UNIT"
result "no fixed user (dynamic only)" $?
# Options the server would refuse would make it fail at every restart.
args=$(setting ExecStart | cut -d' ' -f2-)
tmp_root="$work/library"
mkdir -p "$tmp_root"
# shellcheck disable=SC2086
"$SERVER" $(sed "s|--root [^ ]*|--root $tmp_root|; s|--port [0-9]*|--port 0|; s|--file-port [0-9]*|--file-port 0|; s|--bind [^ ]*|--bind 127.0.0.1|" <<<"$args") \
    --port-file "$work/ports" >"$work/server.log" 2>&1 &
pid=$!
for _ in $(seq 1 50); do [ -s "$work/ports" ] && break; sleep 0.1; done
[ -s "$work/ports" ]
result "server accepts the unit's options" $?
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exit "$FAILED"
