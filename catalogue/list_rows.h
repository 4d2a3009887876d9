// Reading and writing the cells of the catalogue list view (ID_LIBRARY_LIST) by messages,
// so the install worker can use the list that the user-interface thread owns.
#pragma once
#include <windows.h>

// The list's columns, as the main window lays them out.
enum {
    COLUMN_NUMBER = 0,
    COLUMN_NAME = 1,
    COLUMN_CRC = 2,
    COLUMN_SIZE = 3,
    COLUMN_LOCAL_SIZE = 4,
    COLUMN_STATUS = 5,
    COLUMN_COUNT = 6,
};

int list_row_count(HWND list_view);
// Copies the cell's text into text (capacity bytes, always terminated; empty on failure).
void read_cell(HWND list_view, int row, int column, char *text, int capacity);
void write_cell(HWND list_view, int row, int column, const char *text);
