# Sourced only; run directly it does nothing.
[ "${BASH_SOURCE[0]}" = "$0" ] && exit 0

# The program's texts for the end-to-end scripts, read from res/texts.h (the one definition the
# program is built from) rather than typed again. UTF-8, as the scripts compare them.

# program_text NAME: the text of '#define NAME "..."', its \r dropped and \n kept (the scripts
# read message boxes with the carriage returns removed).
program_text() {
    local root value
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    value=$(sed -n "s/^#define $1  *\"\\(.*\\)\"\$/\\1/p" "$root/res/texts.h")
    [ -n "$value" ] || { printf 'program_text: %s is not in res/texts.h\n' "$1" >&2; return 1; }
    value=${value//\\r/}
    value=${value//\\n/$'\n'}
    printf '%s' "${value//\\\"/\"}"
}

MAIN_TITLE=$(program_text TEXT_MAIN_CAPTION)
STATUS_NEW=$(program_text TEXT_STATUS_NEW)
STATUS_CHANGED=$(program_text TEXT_STATUS_CHANGED)
STATUS_MATCH=$(program_text TEXT_STATUS_MATCH)
COMPLETION_TEXT=$(program_text TEXT_COMPLETION)
