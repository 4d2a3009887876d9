// The highest manifest sequence accepted per publisher key, kept in the install folder as
// well as in each user's registry: every account of the machine shares the folder, so a fresh
// profile, a service account or a user who deleted the registry value still refuses a
// manifest older than one any account accepted.
#pragma once
#include <cstdint>

// The state file's name inside the install folder.
#define SEQUENCE_FILE_NAME "Pavoset.sequence"

// The sequence recorded for key in folder's state file; 0 when none (or no readable file).
uint64_t folder_accepted_sequence(const char *folder, const uint8_t key[64]);

// Records sequence for key unless a larger one is there, through a hidden temporary file
// renamed over the old one, so a reader never sees half a file; under the install lock, so two
// runs recording at once never lower it. 1 when the file holds at least sequence afterwards,
// 0 when it could not be written (or the lock was not had within a few seconds).
int record_folder_sequence(const char *folder, const uint8_t key[64], uint64_t sequence);
