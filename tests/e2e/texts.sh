# Sourced only; run directly it does nothing.
[ "${BASH_SOURCE[0]}" = "$0" ] && exit 0

# The program's texts for the end-to-end scripts, read from res/texts.h (the one definition the
# program is built from) rather than typed again. UTF-8, as the scripts compare them.

# header_text FILE NAME: the text of '#define NAME "..."' in FILE (from the top of the
# repository), its \r dropped, \n kept and \\ made one backslash (the scripts read message
# boxes with the carriage returns removed).
header_text() {
    local root value
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    value=$(sed -n "s/^#define $2  *\"\\(.*\\)\"\$/\\1/p" "$root/$1")
    [ -n "$value" ] || { printf 'header_text: %s is not in %s\n' "$2" "$1" >&2; return 1; }
    value=${value//\\r/}
    value=${value//\\n/$'\n'}
    value=${value//\\\"/\"}
    printf '%s' "${value//\\\\/\\}"
}

# program_text NAME: one of the program's texts (res/texts.h).
program_text() { header_text res/texts.h "$1"; }

MAIN_TITLE=$(program_text TEXT_MAIN_CAPTION)
STATUS_NEW=$(program_text TEXT_STATUS_NEW)
STATUS_CHANGED=$(program_text TEXT_STATUS_CHANGED)
STATUS_MATCH=$(program_text TEXT_STATUS_MATCH)
COMPLETION_TEXT=$(program_text TEXT_COMPLETION)
