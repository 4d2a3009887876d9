#include "catalogue/ledger.h"
#include <string>
#include "catalogue/catalogue.h"
#include "catalogue/list_rows.h"

static const char LEDGER_PATH[] = LIBRARY_FOLDER "EXCELLIBINFO.DAT";

static void append_field(std::string &line, const char *text, bool last)
{
    line += text ? text : "";
    line += last ? "\r\n" : "^|";
}

int write_ledger(HWND list_view)
{
    std::string contents;
    int rows = list_row_count(list_view);
    for (int row = 0; row < rows; ++row) {
        char name[260], crc[32], size[32];
        read_cell(list_view, row, COLUMN_NAME, name, sizeof name);
        read_cell(list_view, row, COLUMN_CRC, crc, sizeof crc);
        read_cell(list_view, row, COLUMN_SIZE, size, sizeof size);
        const catalogue_entry *entry =
            (g_catalogue && row < g_catalogue_count) ? &g_catalogue[row] : nullptr;
        append_field(contents, name, false);
        append_field(contents, crc, false);
        append_field(contents, size, false);
        append_field(contents, entry ? entry->time_low : nullptr, false);
        append_field(contents, entry ? entry->time_high : nullptr, true);
    }

    // Written beside the ledger and moved over it, so an interrupted write never leaves
    // a truncated ledger behind.
    char temp_path[MAX_PATH];
    if (!GetTempFileNameA(LIBRARY_FOLDER, "pvl", 0, temp_path))
        return 0;
    HANDLE file = CreateFileA(temp_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(temp_path);
        return 0;
    }
    DWORD written = 0;
    BOOL ok = contents.empty() ||
              (WriteFile(file, contents.data(), (DWORD)contents.size(), &written, nullptr) &&
               written == contents.size());
    ok = FlushFileBuffers(file) && ok;
    CloseHandle(file);
    if (!ok ||
        !MoveFileExA(temp_path, LEDGER_PATH, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temp_path);
        return 0;
    }
    return 1;
}
