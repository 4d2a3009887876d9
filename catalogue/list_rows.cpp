#include "catalogue/list_rows.h"
#include <commctrl.h>

int list_row_count(HWND list_view)
{
    if (!list_view)
        return 0;
    LRESULT count = SendMessageA(list_view, LVM_GETITEMCOUNT, 0, 0);
    return count > 0 ? (int)count : 0;
}

void read_cell(HWND list_view, int row, int column, char *text, int capacity)
{
    if (!text || capacity <= 0)
        return;
    text[0] = 0;
    if (!list_view)
        return;
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = capacity;
    SendMessageA(list_view, LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
    text[capacity - 1] = 0;
}

void write_cell(HWND list_view, int row, int column, const char *text)
{
    if (!list_view)
        return;
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = const_cast<char *>(text ? text : "");
    SendMessageA(list_view, LVM_SETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
}
