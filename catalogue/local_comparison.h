// Comparing a catalogue entry with the file of that name in the install folder.
#pragma once

enum local_comparison {
    LOCAL_NEW = 0,
    LOCAL_CHANGED,
    LOCAL_MATCH,
    LOCAL_NOT_AS_SIGNED,  // Changed: a verified manifest gives another SHA-256, or none
};

// 1 when a file's CRC-32 is not held to the catalogue's: names ending in the bytes "xla" or
// "xls", lower case, with or without a dot before them ("fooxla" too, "A.XLA" not): an add-in
// or workbook whose size agrees reads as installed even when its bytes differ.
int crc_check_waived(const char *name);

// current_size (>= 16 bytes) and status (>= 7 bytes) may each be absent. Without a verified
// publisher's manifest: size, and CRC-32 but for .xla/.xls; with one: size and SHA-256.
int compare_local_file(const char *name, const char *crc_text, const char *size_text,
                       char *current_size, char *status);
