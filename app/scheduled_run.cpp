#include "app/scheduled_run.h"

#include <cstring>

#include "settings/registry_store.h"

int scheduled_install_allowed()
{
    char text[16] = {0};
    int unreadable = 0;
    // A user may not switch on what the administrator has not: only the machine's value counts.
    if (read_layered_setting(SETTING_AUTO_INSTALL, text, sizeof text, &unreadable) !=
            SETTING_FROM_MACHINE ||
        unreadable)
        return 0;
    const char *start = text + strspn(text, " \t");
    size_t length = strlen(start);
    while (length && (start[length - 1] == ' ' || start[length - 1] == '\t'))
        --length;
    return length == 1 && start[0] == '1';
}
