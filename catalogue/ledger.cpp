#include "catalogue/ledger.h"
#include <string>
#include "catalogue/catalogue.h"
#include "catalogue/list_rows.h"
#include "core/text_protocol.h"
#include "net/framed/staged_file.h"

static const char LEDGER_PATH[] = LIBRARY_FOLDER "EXCELLIBINFO.DAT";

static void append_field(std::string &line, const char *text, bool last)
{
    line += text ? text : "";
    line += last ? "\r\n" : TEXT_FIELD_SEPARATOR;
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

    // Staged beside the ledger like a download (hidden from its first moment, renamed over
    // it through its own handle), so an interrupted write never leaves a truncated ledger
    // behind, nor a visible temporary file the start-up cleanup may not touch.
    staged_file staged;
    if (!staged_file_begin(&staged, LEDGER_PATH))
        return 0;
    if (!contents.empty() &&
        !staged_file_write(&staged, contents.data(), (uint32_t)contents.size())) {
        staged_file_abort(&staged);
        return 0;
    }
    return staged_file_commit(&staged) == INSTALL_OK;
}
