// Comparing a catalogue entry with the file of that name in the install folder.
#pragma once

// current_size (>= 16 bytes) and status (>= 7 bytes) may each be absent.
void compare_local_file(const char *name, const char *crc_text, const char *size_text,
                        char *current_size, char *status);
