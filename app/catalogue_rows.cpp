#include "app/catalogue_rows.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/run_log.h"
#include "catalogue/catalogue.h"
#include "catalogue/list_rows.h"
#include "catalogue/local_comparison.h"
#include "res/texts.h"

void fill_catalogue_rows(HWND list, const local_row *rows)
{
    for (int i = 0; i < g_catalogue_count; ++i) {
        const catalogue_entry *entry = &g_catalogue[i];
        char number[16];
        snprintf(number, sizeof number, "%d", i + 1);
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = number;
        int row = (int)SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
        if (row < 0)
            continue;
        write_cell(list, row, COLUMN_NAME, entry->name);
        write_cell(list, row, COLUMN_CRC, entry->crc);
        write_cell(list, row, COLUMN_SIZE, entry->size);
        if (rows[i].outcome == LOCAL_NOT_AS_SIGNED)
            run_log(TEXT_LOG_INSTALLED_NOT_SIGNED_FORMAT, entry->name);
        write_cell(list, row, COLUMN_LOCAL_SIZE, rows[i].current_size);
        write_cell(list, row, COLUMN_STATUS, rows[i].status);
    }
}

int first_install_marker(HWND list)
{
    int rows = list_row_count(list);
    if (rows <= 0)
        return 0;  // nothing listed is no first installation
    for (int i = 0; i < rows; ++i) {
        char status[260];
        read_cell(list, i, COLUMN_STATUS, status, sizeof status);
        if (strcmp(status, TEXT_STATUS_NEW) != 0)
            return 0;
    }
    return FIRST_INSTALL_MARK;
}
