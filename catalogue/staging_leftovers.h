// Removing the staging files that a killed run left in the install folder.
#pragma once

// Deletes our own temporary files directly in folder (with or without its closing
// backslash): hidden files of our exact name shapes, "pvs*.tmp" staged beside targets and
// the ledger, and "pvl*.tmp" of earlier versions' ledger. A visible file is never ours,
// whatever its name. Nothing else, and nothing below the folder. The caller holds the install lock,
// so no living instance is writing them. Each is deleted through a handle that does not follow
// a link, and only while it is a plain hidden file. Returns how many were removed, or
// STAGING_FOLDER_REFUSED when folder is a junction or symbolic link (nothing is touched then).
enum { STAGING_FOLDER_REFUSED = -1 };
int remove_staging_leftovers(const char *folder);
