// Removing the staging files that a killed run left in the install folder.
#pragma once

// Deletes our own temporary files directly in folder (with or without its closing
// backslash): the hidden "pvs*.tmp" files staged beside targets and the ledger's
// "pvl*.tmp". Nothing else, and nothing below the folder. The caller holds the install lock,
// so no living instance is writing them. Returns how many were removed.
int remove_staging_leftovers(const char *folder);
