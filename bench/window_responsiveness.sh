#!/usr/bin/env bash
# How long the main window stops answering while the catalogue cannot be had (nothing
# listens on the server's port: the text protocol is refused, the framed one waits out its
# tries). Every half second the window is sent a message that must be answered within half
# a second; prints the longest stretch without an answer and when the failure box came.
# Measures the program of the chosen Windows build and, side by side, PAVOSET_BASELINE_PROGRAM
# (an older Pavoset.exe) when given. Asserts nothing; everything stays on 127.0.0.1.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/lib.sh"
e2e_setup || exit 1
CURRENT="$E2E_DIR/app/Pavoset.exe"
cp "$CURRENT" "$E2E_DIR/current.exe"

measure() {  # label program
    cp "$2" "$E2E_DIR/app/Pavoset.exe"
    reset_state
    next_port NOWHERE
    point_registry_at "$NOWHERE" 1
    local start now ms first_miss= longest=0 slowest=0 missed=0 pings=0 box=
    start_pavoset
    start=$(date +%s%N)
    while [ $((($(date +%s%N) - start) / 1000000)) -lt 90000 ]; do
        pings=$((pings + 1))
        now=$(date +%s%N)
        if ms=$(ua ping 500 2>/dev/null); then
            ms=${ms//$'\r'/}
            [ "$ms" -gt "$slowest" ] && slowest=$ms
            if [ -n "$first_miss" ]; then
                ms=$(((now - first_miss) / 1000000))
                [ "$ms" -gt "$longest" ] && longest=$ms
                first_miss=
            fi
        else
            missed=$((missed + 1))
            [ -n "$first_miss" ] || first_miss=$now
        fi
        if ua --timeout 50 --caption "$(program_text TEXT_ERROR_CAPTION)" wait-msgbox >/dev/null 2>&1; then
            box=$((($(date +%s%N) - start) / 1000000))
            # The box itself holds the window's thread only in its own loop: still answering.
            [ -n "$first_miss" ] && longest=$(((now - first_miss) / 1000000 + 500))
            break
        fi
        sleep 0.5
    done
    printf '%-9s unanswered %2d of %2d pings, slowest answer %4d ms, longest stretch without an answer %5.1f s, failure box after %s\n' \
        "$1" "$missed" "$pings" "$slowest" "$(awk -v ms="$longest" 'BEGIN { print ms / 1000 }')" \
        "$([ -n "$box" ] && awk -v ms="$box" 'BEGIN { printf "%.1f s", ms / 1000 }' || echo none)"
    stop_pavoset
}

[ -n "${PAVOSET_BASELINE_PROGRAM:-}" ] && measure baseline "$PAVOSET_BASELINE_PROGRAM"
measure current "$E2E_DIR/current.exe"
