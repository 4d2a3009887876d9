#include "remote_memory.h"

#include <commctrl.h>

namespace {

const UINT SEND_TIMEOUT_MS = 5000;
const int TEXT_CHARS = 1024;
const UINT IPM_GETADDRESS_MESSAGE = WM_USER + 102;

struct remote_block {
    HANDLE process;
    char *base;
};

bool open_remote(HWND window, SIZE_T size, remote_block &block)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    block.process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                    PROCESS_QUERY_INFORMATION,
                                FALSE, pid);
    if (!block.process)
        return false;
    block.base = static_cast<char *>(
        VirtualAllocEx(block.process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!block.base) {
        CloseHandle(block.process);
        return false;
    }
    return true;
}

void close_remote(remote_block &block)
{
    VirtualFreeEx(block.process, block.base, 0, MEM_RELEASE);
    CloseHandle(block.process);
}

int column_count(HWND list)
{
    DWORD_PTR header = 0;
    if (!SendMessageTimeoutW(list, LVM_GETHEADER, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                             &header) ||
        !header)
        return 0;
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(reinterpret_cast<HWND>(header), HDM_GETITEMCOUNT, 0, 0,
                             SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &count))
        return 0;
    return (int)(LONG_PTR)count;
}

bool read_item_text(HWND list, remote_block &block, int row, int column, std::wstring &text)
{
    // The item record sits at the start of the block, its text buffer right after it.
    char *remote_text = block.base + 256;
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.cchTextMax = TEXT_CHARS;
    item.pszText = reinterpret_cast<LPWSTR>(remote_text);
    wchar_t empty = 0;
    if (!WriteProcessMemory(block.process, block.base, &item, sizeof item, nullptr) ||
        !WriteProcessMemory(block.process, remote_text, &empty, sizeof empty, nullptr))
        return false;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(block.base),
                             SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &length))
        return false;
    wchar_t buffer[TEXT_CHARS + 1] = {0};
    if (!ReadProcessMemory(block.process, remote_text, buffer, TEXT_CHARS * sizeof(wchar_t),
                           nullptr))
        return false;
    buffer[TEXT_CHARS] = 0;
    text = buffer;
    return true;
}

}  // namespace

int list_row_count(HWND list)
{
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                             &count))
        return -1;
    return (int)(LONG_PTR)count;
}

bool read_list_rows(HWND list, std::vector<std::vector<std::wstring>> &rows)
{
    rows.clear();
    int count = list_row_count(list);
    if (count < 0)
        return false;
    int columns = column_count(list);
    if (columns <= 0)
        columns = 1;
    remote_block block;
    if (!open_remote(list, 256 + (TEXT_CHARS + 1) * sizeof(wchar_t), block))
        return false;
    bool ok = true;
    for (int row = 0; row < count && ok; ++row) {
        std::vector<std::wstring> cells;
        for (int column = 0; column < columns && ok; ++column) {
            std::wstring text;
            ok = read_item_text(list, block, row, column, text);
            cells.push_back(text);
        }
        rows.push_back(cells);
    }
    close_remote(block);
    return ok;
}

bool read_ip_address(HWND control, unsigned long &address)
{
    remote_block block;
    if (!open_remote(control, 64, block))
        return false;
    DWORD value = 0xDEADBEEF;
    bool ok = WriteProcessMemory(block.process, block.base, &value, sizeof value, nullptr);
    DWORD_PTR result = 0;
    ok = ok && SendMessageTimeoutW(control, IPM_GETADDRESS_MESSAGE, 0,
                                   reinterpret_cast<LPARAM>(block.base), SMTO_ABORTIFHUNG,
                                   SEND_TIMEOUT_MS, &result);
    ok = ok && ReadProcessMemory(block.process, block.base, &value, sizeof value, nullptr);
    close_remote(block);
    if (ok)
        address = value;
    return ok;
}
