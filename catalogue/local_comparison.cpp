#include "catalogue/local_comparison.h"
#include <windows.h>
#include <cstdio>
#include "catalogue/catalogue.h"
#include "catalogue/decimal_text.h"
#include "catalogue/field_split.h"
#include "catalogue/file_checksum.h"
#include "catalogue/library_name.h"
#include "res/texts.h"


static void set_status(char *status, const char *text)
{
    if (status)
        lstrcpynA(status, text, 7);
}

void compare_local_file(const char *name, const char *crc_text, const char *size_text,
                        char *current_size, char *status)
{
    if (current_size)
        current_size[0] = 0;
    if (status)
        status[0] = 0;
    // A name that could reach outside the install folder is never looked up: it shows as
    // New and the installers refuse it.
    if (!library_name_is_safe(name)) {
        set_status(status, TEXT_STATUS_NEW);
        return;
    }
    char path[MAX_PATH];
    snprintf(path, sizeof path, LIBRARY_FOLDER "%s", name);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        set_status(status, TEXT_STATUS_NEW);
        return;
    }
    if (current_size)
        snprintf(current_size, 16, "%d", (int)data.nFileSizeLow);

    uint32_t wanted_crc = parse_u32_saturated(crc_text);
    int32_t wanted_size = parse_i32_saturated(size_text);
    if ((int32_t)data.nFileSizeLow != wanted_size) {
        set_status(status, TEXT_STATUS_CHANGED);
        return;
    }
    uint32_t crc = 0;
    // A folder of that name, or a file locked against reading, cannot be checked: let the
    // installer try it and report what happens.
    if (file_crc32(path, &crc) != 0) {
        set_status(status, TEXT_STATUS_CHANGED);
        return;
    }
    if (crc == wanted_crc || ends_with(name, "xla") == 0 || ends_with(name, "xls") == 0)
        set_status(status, TEXT_STATUS_MATCH);
    else
        set_status(status, TEXT_STATUS_CHANGED);
}
