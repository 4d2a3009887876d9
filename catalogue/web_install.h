// Installation from the library's web server: every row that is not Match, fetched from its
// path in the static layout, staged, checked (size, CRC-32, the publisher's SHA-256) and put
// in place with the steps the other two install passes use.
#pragma once
#include <windows.h>
#include "catalogue/catalogue.h"
#include "catalogue/install_report.h"
#include "net/framed/framed_transfer.h"

// Lines worth the run log (a failure's HTTP status, a resumed transfer); may be null.
typedef void (*web_install_note)(const char *line);

// Number of files installed into the install folder; report (when given) receives the
// failures. The channel is the one the catalogue came over (open_web_library).
int install_over_web(HWND main_window, HWND list_view, install_report *report = nullptr,
                     web_install_note note = nullptr);

// One file: INSTALL_OK when it was received, checked and put in place, else an install_failure.
// entry gives the path (its catalogue CRC-32 and size), check what the bytes must match.
int download_file_web(const catalogue_entry *entry, const char *folder, const char *name,
                      HWND progress, const transfer_check *check, web_install_note note);

// Files at least this large continue once after a drop instead of starting over.
enum { WEB_RESUME_MIN_BYTES = 256 * 1024 };
