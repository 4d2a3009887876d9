#!/usr/bin/env bash
# Deploying Pavoset: the policy templates and the installer package's tables checked against
# the program's own names, then the package under Wine's Windows Installer: a silent install
# with properties writes exactly the given machine policy values, installs the program and its
# shortcut and registers the logon task; the installed program reads the policy (and its
# -scheduled run obeys AutoInstall); a newer package upgrades in place keeping the values; and
# an uninstall removes the program and leaves the library folder and the user's settings.
#
# The package installed is the one built for the build the suite runs: on a machine without
# 32-bit execution that is the x86_64 package of the x86_64 program (the shipped i686 package is
# checked by its tables only). Wine's Task Scheduler registers and removes the task but keeps
# neither its trigger, its principal nor its action: those are checked in the package's tables
# (check_msi.py) and in the task definition the program writes (tests/win/app).
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_setup || exit 1

BUILD=$(dirname "$(dirname "$PAVOSET_BIN")")
MSI="$BUILD/pavoset.msi"
SHIPPED_MSI="$PAVOSET_ROOT/build/windows-release/pavoset.msi"
case "$PAVOSET_WINE_ARCH" in win64) ARCH=x64 ;; *) ARCH=x86 ;; esac
# The version the build was made with (its generated header, from project() in CMakeLists.txt).
VERSION=$(sed -n 's/^#define PAVOSET_VERSION_TEXT "\([0-9.]*\)"$/\1/p' "$BUILD/generated/pavoset_version.h")
[ -n "$VERSION" ] || setup_failed "deployment-setup (no version in $BUILD/generated/pavoset_version.h)"
NEWER_VERSION="${VERSION%.*}.$((${VERSION##*.} + 1))"
NEWER_MSI="$E2E_DIR/pavoset-$NEWER_VERSION.msi"
[ -f "$MSI" ] || setup_failed "deployment-setup (no $MSI)"
bash "$PAVOSET_ROOT/packaging/build_msi.sh" "$NEWER_MSI" "$PAVOSET_BIN" "$ARCH" "$NEWER_VERSION" \
    2>"$E2E_DIR/newer-msi.err" || setup_failed "deployment-setup (newer package)"

MACHINE_KEY="HKLM\\$(header_text settings/registry_store.h SETTINGS_KEY)"
SETTING_IP=$(header_text settings/registry_store.h SETTING_IP)
SETTING_PORT=$(header_text settings/registry_store.h SETTING_PORT)
SETTING_AUTO_INSTALL=$(header_text settings/registry_store.h SETTING_AUTO_INSTALL)
PROGRAM_NAME=$(program_text TEXT_PROGRAM_NAME)
TASK_FILE="$WINE_C/windows/system32/tasks/$(header_text app/logon_task.h LOGON_TASK_NAME | tr '\\' /)"
# Where the package puts the program: a 32-bit package on 64-bit Windows (Wine's i686 path
# makes a 64-bit prefix that runs 32-bit programs, as 64-bit Windows does) goes to
# "Program Files (x86)"; otherwise to "Program Files".
PROGRAM_FILES='Program Files'
if [ "$ARCH" = x86 ] && [ -d "$WINE_C/Program Files (x86)" ]; then
    PROGRAM_FILES='Program Files (x86)'
fi
PROGRAM_DIR="$WINE_C/$PROGRAM_FILES/Pavoset"
INSTALLED_EXE="C:\\$PROGRAM_FILES\\Pavoset\\Pavoset.exe"

ROOT="$E2E_DIR/library"
make_library "$ROOT" || setup_failed deployment-setup
start_server "$ROOT" || setup_failed deployment-setup
FILES=$(ls "$ROOT" | wc -l)

msiexec() {  # ARGS...: Wine's msiexec, quiet; sets MSI_RC
    # msiexec returns once the package's actions, custom ones included, have run. No
    # `wineserver -w` here: the suite keeps one wineserver for the whole run, and it never ends.
    timeout 300 wine msiexec "$@" >>"$E2E_DIR/msiexec.out" 2>&1
    MSI_RC=$?
    e2e_log "msiexec $* -> $MSI_RC"
}
win_path() { winepath -w "$1" 2>/dev/null; }

# The machine key's values as "name=value" lines, sorted; nothing when the key is absent.
machine_values() {
    wine reg query "$MACHINE_KEY" 2>/dev/null | tr -d '\r' |
        awk '$2 ~ /^REG_/ { name = $1; sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]*/, ""); print name "=" $0 }' | sort
}
machine_values_are() {  # "name=value"...
    local want got
    want=$(printf '%s\n' "$@" | sed '/^$/d' | sort)
    got=$(machine_values)
    [ "$got" = "$want" ] && return 0
    e2e_log "machine values:"; printf '%s\n' "$got" | sed 's/^/    /'
    e2e_log "wanted:"; printf '%s\n' "$want" | sed 's/^/    /'
    return 1
}
shortcut() { find "$WINE_C" -path '*/Start Menu/Programs/*' -name "$PROGRAM_NAME.lnk" 2>/dev/null | head -n 1; }
# DisplayVersion of every installed product named like the program (by the ASCII start of its
# name: reg's output is in the console's code page).
PROGRAM_NAME_START=$(printf '%s' "$PROGRAM_NAME" | LC_ALL=C sed 's/[^ -~].*//')
installed_versions() {
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
        awk -v name="$PROGRAM_NAME_START" '
            function flush() { if (shown && version != "") print version; shown = 0; version = "" }
            /^HKEY/ { flush() }
            $1 == "DisplayName" && index($0, name) { shown = 1 }
            $1 == "DisplayVersion" { version = $3 }
            END { flush() }' | sort
}
# A package an earlier run left behind, and its values, go first.
msiexec /x "$(win_path "$NEWER_MSI")" /qn
msiexec /x "$(win_path "$MSI")" /qn
wine reg delete "$MACHINE_KEY" /f >/dev/null 2>&1

# ------------------------------------------------------------------ the files, before anything runs
scenario policy-templates
out=$(python3 "$PAVOSET_ROOT/packaging/check_policy.py" "$PAVOSET_ROOT" 2>&1)
check "ADMX and ADML against settings/registry_store.h" test $? = 0
printf '%s\n' "$out" | sed 's/^/    /'
scenario_end

scenario package-tables
for package in "$MSI $ARCH $VERSION" "$NEWER_MSI $ARCH $NEWER_VERSION" "$SHIPPED_MSI x86 $VERSION"; do
    set -- $package
    [ -f "$1" ] || { check "built: $1" false; continue; }
    out=$(python3 "$PAVOSET_ROOT/packaging/check_msi.py" "$1" "$2" "$3" "$PAVOSET_ROOT" 2>&1)
    check "tables of $(basename "$1") ($2, $3)" test $? = 0
    printf '%s\n' "$out" | sed 's/^/    /'
done
scenario_end

# ------------------------------------------------------------------ a silent install with properties
scenario msi-install
msiexec /i "$(win_path "$MSI")" /qn SERVER=127.0.0.1 PORT="$SERVER_PORT" AUTOINSTALL=1
check "msiexec /i: 0" test "$MSI_RC" = 0
check "the program, as built" cmp -s "$PAVOSET_BIN" "$PROGRAM_DIR/Pavoset.exe"
check "Start menu shortcut named $PROGRAM_NAME" test -n "$(shortcut)"
# No PUBLISHERKEY and no LIBRARYURL given: no such values.
check "exactly the given policy values" machine_values_are "$SETTING_IP=127.0.0.1" \
    "$SETTING_PORT=$SERVER_PORT" "$SETTING_AUTO_INSTALL=1"
check "logon task registered" test -f "$TASK_FILE"
check "one product, version $VERSION" test "$(installed_versions)" = "$VERSION"
scenario_end

# ------------------------------------------------------------------ the installed program reads the policy
scenario installed-program-reads-policy
UNATTENDED_EXE=$INSTALLED_EXE
run_log_mark
run_unattended -install -scheduled
check "scheduled install with AutoInstall=1: all Match (0)" exit_code_is 0
check "log: the server from policy" run_log_has "$(program_line TEXT_LOG_SERVER_ADDRESS_FORMAT 127.0.0.1 "$SERVER_PORT" "$(program_text TEXT_ADDRESS_FROM_POLICY)")"
check_all_installed "$ROOT"
run_unattended -check
check "-check afterwards: all Match (0)" exit_code_is 0
# The administrator turns the task off for every PC: it runs and does nothing.
wine reg add "$MACHINE_KEY" /v "$SETTING_AUTO_INSTALL" /t REG_SZ /d 0 /f >/dev/null 2>&1
rm -f "$INSTALL_DIR/Kickoff.xls"
run_log_mark
run_unattended -install -scheduled
check "AutoInstall=0: exits 0" exit_code_is 0
check "AutoInstall=0: quiet" test -z "$UNATTENDED_OUT"
check "AutoInstall=0: log says why" run_log_has "$(program_text TEXT_LOG_SCHEDULED_OFF)"
check "AutoInstall=0: nothing installed" test ! -e "$INSTALL_DIR/Kickoff.xls"
check "AutoInstall=0: no server asked" test -z "$(run_log_since | grep -F "$(program_line_start TEXT_LOG_SERVER_ADDRESS_FORMAT)")"
wine reg add "$MACHINE_KEY" /v "$SETTING_AUTO_INSTALL" /t REG_SZ /d 1 /f >/dev/null 2>&1
unset UNATTENDED_EXE
scenario_end

# ------------------------------------------------------------------ a newer package, without the properties
scenario msi-upgrade
msiexec /i "$(win_path "$NEWER_MSI")" /qn
check "msiexec /i (newer): 0" test "$MSI_RC" = 0
check "one product, version $NEWER_VERSION" test "$(installed_versions)" = "$NEWER_VERSION"
check "the program still there" cmp -s "$PAVOSET_BIN" "$PROGRAM_DIR/Pavoset.exe"
check "shortcut still there" test -n "$(shortcut)"
check "policy values kept" machine_values_are "$SETTING_IP=127.0.0.1" \
    "$SETTING_PORT=$SERVER_PORT" "$SETTING_AUTO_INSTALL=1"
check "logon task kept" test -f "$TASK_FILE"
# The older package does not go back over the newer.
msiexec /i "$(win_path "$MSI")" /qn
check "older package refused" test "$MSI_RC" != 0
check "still version $NEWER_VERSION" test "$(installed_versions)" = "$NEWER_VERSION"
scenario_end

# ------------------------------------------------------------------ uninstall
scenario msi-uninstall
mkdir -p "$INSTALL_DIR"
printf 'a workbook of the library\r\n' >"$INSTALL_DIR/Kickoff.xls"
reg_set "$SETTING_IP" 10.9.8.7
msiexec /x "$(win_path "$NEWER_MSI")" /qn
check "msiexec /x: 0" test "$MSI_RC" = 0
check "the program removed" test ! -e "$PROGRAM_DIR/Pavoset.exe"
check "shortcut removed" test -z "$(shortcut)"
check "policy values removed" machine_values_are
check "logon task removed" test ! -e "$TASK_FILE"
check "no product left" test -z "$(installed_versions)"
check "library folder and its file kept" test -f "$INSTALL_DIR/Kickoff.xls"
check "the user's settings kept" reg_is "$SETTING_IP" 10.9.8.7
scenario_end

# Whatever a failed scenario left must not reach the scripts after this one: a machine policy
# would change where their program connects.
msiexec /x "$(win_path "$NEWER_MSI")" /qn
msiexec /x "$(win_path "$MSI")" /qn
wine reg delete "$MACHINE_KEY" /f >/dev/null 2>&1
e2e_finish
