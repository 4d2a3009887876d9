#!/usr/bin/env bash
# The server settings dialog, opened from the running program's menu: what it shows, what it
# refuses, the keys that must not close it, and an Apply that moves the program to another
# server. Every address is a loopback one: the program talks to whatever it is given.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_setup || exit 1

ROOT_A="$E2E_DIR/library-a"
ROOT_B="$E2E_DIR/library-b"
make_library "$ROOT_A" Kickoff.xls Stickrow64.dll || setup_failed settings-setup
make_library "$ROOT_B" PlimoExcel.xla || setup_failed settings-setup
start_server "$ROOT_A" || setup_failed settings-setup
PORT_A=$SERVER_PORT
LOG_A=$SERVER_LOG
start_server "$ROOT_B" || setup_failed settings-setup
PORT_B=$SERVER_PORT
LOG_B=$SERVER_LOG

dlg_is() {  # command id expected
    local got
    got=$(ua "$1" "$2" | tr -d '\r')
    [ "$got" = "$3" ] && return 0
    e2e_log "$1 $2 gives '$got', wanted '$3'"
    return 1
}

ip_is() {  # command expected
    local got
    got=$(ua "$1" | tr -d '\r')
    [ "$got" = "$2" ] && return 0
    e2e_log "$1 gives '$got', wanted '$2'"
    return 1
}

dialog_still_open() { sleep 1; ua --timeout 500 dlg-find >/dev/null; }

registry_unchanged() {
    reg_is ip 127.0.0.1 && reg_is port "$PORT_A"
}

catalogue_requests() { grep -c 'UPDATELIST' "$1"; }

open_settings() {
    ua menu "$ID_MENU_SERVER_SETTINGS" && ua --timeout 5000 dlg-find >/dev/null
}

start_on_a() {
    point_registry_at "$PORT_A" 1
    start_pavoset && wait_rows 2
}

# ------------------------------------------------------------------ what the dialog shows
scenario settings-shows-local-server
check "program on server A" start_on_a
check "dialog opened from the menu" open_settings
check "caption" ip_is dlg-find "$(program_text TEXT_SETTINGS_DIALOG_CAPTION)"
check "box checked" dlg_is dlg-checked "$SETTINGS_LOCAL_ID" 1
check "address control enabled" dlg_is dlg-enabled "$SETTINGS_ADDRESS_ID" 1
check "address fields" ip_is ip-fields 127.0.0.1
check "IPM_GETADDRESS" ip_is ip-get 127.0.0.1
check "port field" dlg_is dlg-text "$SETTINGS_PORT_ID" "$PORT_A"
screenshot settings-dialog-enabled
check "uncheck" ua dlg-check "$SETTINGS_LOCAL_ID" 0
check "unchecking puts the default port" dlg_is dlg-text "$SETTINGS_PORT_ID" 5757
check "address control disabled" dlg_is dlg-enabled "$SETTINGS_ADDRESS_ID" 0
check "fields kept" ip_is ip-fields 127.0.0.1
screenshot settings-dialog-disabled
check "check again" ua dlg-check "$SETTINGS_LOCAL_ID" 1
check "address control enabled again" dlg_is dlg-enabled "$SETTINGS_ADDRESS_ID" 1
check "port field left alone" dlg_is dlg-text "$SETTINGS_PORT_ID" 5757
REQUESTS=$(catalogue_requests "$LOG_A")
check "close box" ua dlg-close
check "dialog gone" ua --timeout 5000 dlg-gone
sleep 1.5
check "nothing stored" registry_unchanged
check "no refresh after the close box" test "$(catalogue_requests "$LOG_A")" = "$REQUESTS"
check "rows kept" test "$(ua row-count | tr -d '\r')" = 2
scenario_end

# ------------------------------------------------------------------ what Apply refuses, keys that do not close it
scenario settings-refusals-and-keys
check "program on server A" start_on_a
check "dialog opened" open_settings
check "clear the address" ua ip-clear
check "blank" ip_is ip-blank 1
check "Apply" ua dlg-click "$SETTINGS_APPLY_ID"
BOX=$(ua --timeout 5000 wait-msgbox | tr -d '\r')
check "missing address message" test "$BOX" = "$(program_text TEXT_SETTINGS_CAPTION)"$'\n'"$(program_text TEXT_MISSING_ADDRESS)"
[ -n "$BOX" ] && e2e_log "box: $(tr '\n' '|' <<<"$BOX")"
check "OK" ua answer-msgbox ok
check "dialog stays open" dialog_still_open
check "nothing stored" registry_unchanged
check "address typed" ua ip-set 127.0.0.1
check "port emptied" ua dlg-set-text "$SETTINGS_PORT_ID" ""
check "Apply" ua dlg-click "$SETTINGS_APPLY_ID"
BOX=$(ua --timeout 5000 wait-msgbox | tr -d '\r')
check "missing port message" test "$BOX" = "$(program_text TEXT_SETTINGS_CAPTION)"$'\n'"$(program_text TEXT_MISSING_PORT)"
check "OK" ua answer-msgbox ok
check "dialog stays open" dialog_still_open
check "nothing stored" registry_unchanged
# A digit first proves the keys reach the port field at all.
check "key typed into the port field" ua dlg-key "$SETTINGS_PORT_ID" 55
check "digit arrived" dlg_is dlg-text "$SETTINGS_PORT_ID" 7
check "Escape" ua dlg-key "$SETTINGS_PORT_ID" ESCAPE
check "Escape leaves it open" dialog_still_open
check "Enter" ua dlg-key "$SETTINGS_PORT_ID" RETURN
check "Enter leaves it open" dialog_still_open
check "no message box from the keys" ua --timeout 500 expect-no-msgbox
check "nothing stored" registry_unchanged
check "close box" ua dlg-close
check "dialog gone" ua --timeout 5000 dlg-gone
scenario_end

# ------------------------------------------------------------------ Apply moves the program to server B
scenario settings-apply-new-server
check "program on server A" start_on_a
check "dialog opened" open_settings
# Empty middle fields count as 0; the port beyond 65535 keeps its low 16 bits, which is
# where server B listens.
PORT_TEXT=$((65536 + PORT_B))
check "address 127, empty, empty, 1" ua ip-set 127...1
check "port $PORT_TEXT" ua dlg-set-text "$SETTINGS_PORT_ID" "$PORT_TEXT"
REQUESTS_B=$(catalogue_requests "$LOG_B")
check "Apply" ua dlg-click "$SETTINGS_APPLY_ID"
check "dialog closed" ua --timeout 5000 dlg-gone
check "ip stored" reg_is ip 127.0.0.1
check "port stored as typed" reg_is port "$PORT_TEXT"
for _ in $(seq 1 100); do
    [ "$(row_status | cut -f1 | tr '\n' ' ')" = "PlimoExcel.xla " ] && break
    sleep 0.2
done
check "list refreshed from server B" test "$(row_status | cut -f1 | tr '\n' ' ')" = "PlimoExcel.xla "
check "server B asked for its catalogue" test "$(catalogue_requests "$LOG_B")" -gt "$REQUESTS_B"
scenario_end

e2e_finish
