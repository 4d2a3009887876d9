// Giving an installed file the last-write time that its catalogue entry announces.
#pragma once
#include "catalogue/catalogue.h"

// The entry's two halves are signed 32-bit decimals (saturating) whose bits become the
// halves of the time. 1 when the time was set; 0 when the entry lacks a half or the file
// cannot be opened (the file then keeps the time of its writing).
int set_file_time_from_entry(const char *path, const catalogue_entry *entry);
