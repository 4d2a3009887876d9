# Sourced only; run directly it does nothing.
[ "${BASH_SOURCE[0]}" = "$0" ] && exit 0

# The program's texts for the end-to-end scripts, read from res/texts.h (the one definition the
# program is built from) rather than typed again. UTF-8, as the scripts compare them.

# The repository, where the headers are.
PAVOSET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# The generated header with the version (project VERSION in CMakeLists.txt): texts that show the
# version take it from there, as the program does.
TEXTS_VERSION_HEADER=${PAVOSET_E2E_WIN_BUILD:-${PAVOSET_WIN_BUILD:-$PAVOSET_ROOT/build/windows-x64}}/generated/pavoset_version.h

# header_text FILE NAME: the text of '#define NAME "..."' in FILE (from the top of the
# repository), its \r dropped, \n kept and \\ made one backslash (the scripts read message
# boxes with the carriage returns removed). A text joined from literals
# and the version's macros ("Ver. " PAVOSET_VERSION_SHORT_TEXT " ...") is joined here too.
header_text() {
    local rest value=
    rest=$(sed -n "s/^#define $2  *\(\".*\"\)\$/\1/p" "$PAVOSET_ROOT/$1")
    [ -n "$rest" ] || { printf 'header_text: %s is not in %s\n' "$2" "$1" >&2; return 1; }
    local literal='^"(([^"\\]|\\.)*)"[[:space:]]*(.*)$' macro='^(PAVOSET_VERSION_[A-Z_]+)[[:space:]]*(.*)$' part
    while [ -n "$rest" ]; do
        if [[ $rest =~ $literal ]]; then
            value+=${BASH_REMATCH[1]}
            rest=${BASH_REMATCH[3]}
        elif [[ $rest =~ $macro ]]; then
            rest=${BASH_REMATCH[2]}
            part=$(sed -n "s/^#define ${BASH_REMATCH[1]}  *\"\(.*\)\"\$/\1/p" "$TEXTS_VERSION_HEADER" 2>/dev/null)
            [ -n "$part" ] || { printf 'header_text: %s needs %s (not built?)\n' "$2" "$TEXTS_VERSION_HEADER" >&2; return 1; }
            value+=$part
        else
            printf 'header_text: %s in %s is not a text\n' "$2" "$1" >&2
            return 1
        fi
    done
    [ -n "$value" ] || { printf 'header_text: %s is empty in %s\n' "$2" "$1" >&2; return 1; }
    value=${value//\\r/}
    value=${value//\\n/$'\n'}
    value=${value//\\\"/\"}
    printf '%s' "${value//\\\\/\\}"
}

# program_text NAME: one of the program's texts (res/texts.h).
program_text() { header_text res/texts.h "$1"; }

# program_line NAME ARG...: the line the program prints from the format NAME with ARGs.
program_line() {
    local format
    format=$(program_text "$1") || return 1
    shift
    # shellcheck disable=SC2059  # the format is the program's own
    printf -- "$format" "$@"
}

# program_line_start NAME ARG...: that line up to where the first argument not given would
# go, for a line whose remaining values a script cannot know (a size, a count).
program_line_start() {
    local format parts
    format=$(program_text "$1") || return 1
    shift
    IFS=% read -r -a parts <<<"$format"
    format=$(IFS=%; printf '%s' "${parts[*]:0:$# + 1}")
    # shellcheck disable=SC2059
    printf -- "$format" "$@"
}

# header_number FILE NAME: the number of '#define NAME N' or of an enum's 'NAME = N,' in FILE.
header_number() {
    local value
    value=$(sed -n -E "s/^[[:space:]]*(#define[[:space:]]+$2[[:space:]]+|$2[[:space:]]*=[[:space:]]*)([0-9]+)[[:space:]]*(,.*|\/\/.*)?\$/\2/p" "$PAVOSET_ROOT/$1")
    [[ $value =~ ^[0-9]+$ ]] || { printf 'header_number: %s is not in %s\n' "$2" "$1" >&2; return 1; }
    printf '%s' "$value"
}

MAIN_TITLE=$(program_text TEXT_MAIN_CAPTION)
STATUS_NEW=$(program_text TEXT_STATUS_NEW)
STATUS_CHANGED=$(program_text TEXT_STATUS_CHANGED)
STATUS_MATCH=$(program_text TEXT_STATUS_MATCH)
COMPLETION_TEXT=$(program_text TEXT_COMPLETION)

# The controls the scripts drive through tools/uiauto, by the numbers the program is built with
# (res/resource.h); a script cannot go on without them.
ID_DOWNLOAD_BUTTON=$(header_number res/resource.h ID_DOWNLOAD_BUTTON) || exit 1
ID_MESSAGE_LINE=$(header_number res/resource.h ID_MESSAGE_LINE) || exit 1
ID_MENU_SERVER_SETTINGS=$(header_number res/resource.h ID_MENU_SERVER_SETTINGS) || exit 1
SETTINGS_ADDRESS_ID=$(header_number res/resource.h SETTINGS_ADDRESS_ID) || exit 1
SETTINGS_PORT_ID=$(header_number res/resource.h SETTINGS_PORT_ID) || exit 1
SETTINGS_APPLY_ID=$(header_number res/resource.h SETTINGS_APPLY_ID) || exit 1
SETTINGS_LOCAL_ID=$(header_number res/resource.h SETTINGS_LOCAL_ID) || exit 1
# The install folder as the program names it (C:\TervalenWyndale), and its path below a
# prefix's drive_c.
INSTALL_FOLDER_TEXT=$(header_text res/resource.h INSTALL_FOLDER_TEXT) || exit 1
INSTALL_FOLDER_IN_DRIVE_C=${INSTALL_FOLDER_TEXT#?:\\}
