// Comparing a catalogue entry with the file of that name in the install folder.
#pragma once

extern const char STATUS_NEW[];      // TEXT_STATUS_NEW
extern const char STATUS_CHANGED[];  // TEXT_STATUS_CHANGED
extern const char STATUS_MATCH[];    // TEXT_STATUS_MATCH

// current_size (>= 16 bytes) and status (>= 7 bytes) may each be absent.
void compare_local_file(const char *name, const char *crc_text, const char *size_text,
                        char *current_size, char *status);
