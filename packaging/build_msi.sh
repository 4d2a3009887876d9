#!/usr/bin/env bash
# Builds the Windows Installer package of Pavoset.exe from packaging/pavoset.wxs.
# Usage: build_msi.sh OUT.msi PAVOSET_EXE x86|x64 VERSION
# The names come from their one definition: the settings key and value names from
# settings/registry_store.h, the program's Korean name from res/texts.h, the version from the
# caller (the project VERSION). wixl builds the tables; msibuild then does what this wixl
# cannot: the Korean texts (its string pool crashes on them unless the database's code page
# is set first), the policy components' conditions, the order of a few actions (the old
# product removed before the new one installs, so its uninstall steps, the logon task's
# removal among them, run first), and the properties allowed into the elevated install.
set -eu
out=$1 exe=$2 arch=$3 version=$4
PAVOSET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The text of '#define NAME "..."' in FILE, with C's doubled backslashes made single.
define() {
    local value
    value=$(sed -n "s/^#define $2  *\"\\(.*\\)\".*\$/\\1/p" "$PAVOSET_ROOT/$1")
    [ -n "$value" ] || { echo "build_msi: $2 is not in $1" >&2; exit 1; }
    printf '%s' "${value//\\\\/\\}"
}
key=$(define settings/registry_store.h SETTINGS_KEY)
name=$(define res/texts.h TEXT_PROGRAM_NAME)

case "$arch" in
    x86) win64=no; program_files=ProgramFilesFolder ;;
    x64) win64=yes; program_files=ProgramFiles64Folder ;;
    *) echo "build_msi: arch is x86 or x64, not $arch" >&2; exit 1 ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/pavoset-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT
# wixl takes sources relative to where it runs.
cp "$exe" "$work/Pavoset.exe"
(cd "$work" && LC_ALL=C.UTF-8 wixl -a "$arch" \
    -D Version="$version" -D ProductName=Pavoset -D SettingsKey="$key" \
    -D SettingIp="$(define settings/registry_store.h SETTING_IP)" \
    -D SettingPort="$(define settings/registry_store.h SETTING_PORT)" \
    -D SettingPublisherKey="$(define settings/registry_store.h SETTING_PUBLISHER_KEY)" \
    -D SettingLibraryUrl="$(define settings/registry_store.h SETTING_LIBRARY_URL)" \
    -D SettingAutoInstall="$(define settings/registry_store.h SETTING_AUTO_INSTALL)" \
    -D ExeSource=Pavoset.exe -D Win64="$win64" -D ProgramFilesFolder="$program_files" \
    -o pavoset.msi "$PAVOSET_ROOT/packaging/pavoset.wxs")

printf '\r\n\r\n949\t_ForceCodepage\r\n' >"$work/_ForceCodepage.idt"
msibuild "$work/pavoset.msi" -i "$work/_ForceCodepage.idt"
sql() { LC_ALL=C.UTF-8 msibuild "$work/pavoset.msi" -q "$1"; }
sql "UPDATE \`Property\` SET \`Value\` = '$name' WHERE \`Property\` = 'ProductName'"
sql "UPDATE \`Shortcut\` SET \`Name\` = 'PAVOSET|$name' WHERE \`Shortcut\` = 'StartMenuShortcut'"
sql "UPDATE \`Component\` SET \`Condition\` = 'SERVER' WHERE \`Component\` = 'PolicyServer'"
sql "UPDATE \`Component\` SET \`Condition\` = 'PORT' WHERE \`Component\` = 'PolicyPort'"
sql "UPDATE \`Component\` SET \`Condition\` = 'PUBLISHERKEY' WHERE \`Component\` = 'PolicyPublisherKey'"
sql "UPDATE \`Component\` SET \`Condition\` = 'LIBRARYURL' WHERE \`Component\` = 'PolicyLibraryUrl'"
sql "UPDATE \`Component\` SET \`Condition\` = 'AUTOINSTALL = \"1\"' WHERE \`Component\` = 'PolicyAutoInstall'"
# The remembered values right after AppSearch (50), before anything reads the properties
# (this wixl puts actions sequenced after a custom action at the end).
sequence=51
for property in SERVER PORT PUBLISHERKEY LIBRARYURL AUTOINSTALL; do
    sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = $sequence WHERE \`Action\` = 'Keep$property'"
    sequence=$((sequence + 1))
done
# Right after InstallInitialize (1500), before anything of the new product is done.
sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1501 WHERE \`Action\` = 'RemoveExistingProducts'"
# Properties that may come from the command line into the elevated part of the install.
secure=$(msiinfo export "$work/pavoset.msi" Property | sed -n 's/^SecureCustomProperties\t//p' | tr -d '\r')
sql "UPDATE \`Property\` SET \`Value\` = '${secure:+$secure;}SERVER;PORT;PUBLISHERKEY;LIBRARYURL;AUTOINSTALL' WHERE \`Property\` = 'SecureCustomProperties'"
mv -f "$work/pavoset.msi" "$out"
