// Installation over the text channel.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include "catalogue/install_report.h"
#include "net/framed/framed_transfer.h"

// Number of files installed into the install folder; report (when given) receives the
// failures.
int install_over_text(HWND main_window, HWND list_view, install_report *report = nullptr);
// The announced size when the file was received, checked (when check is given) and
// installed; 0 on failure (*failure says why when given). An empty file that the catalogue
// expects empty is installed with result 0 and *failure INSTALL_OK.
// *channel (when given) tells whether the connection can carry the next request.
// Zero bytes behind the answer's NUL in its receive may be padding or the file's first bytes; the
// check's CRC-32 then decides (whether or not check_crc asks for it), and without a check
// such a file is not installed.
enum text_channel_state {
    CHANNEL_IN_STEP,      // the next answer will be read from its start
    CHANNEL_OUT_OF_STEP,  // unusable answer or broken transfer: reopen before the next file
    CHANNEL_NO_ANSWER,    // the request got no byte back at all (the connection may be gone)
};
int download_file_text(SOCKET s, const char *folder, const char *name, HWND progress,
                       const transfer_check *check = nullptr, int *failure = nullptr,
                       int *channel = nullptr);

// A file read into data (capacity bytes) instead of installed: the publisher's manifest. The
// same exchange and receives as a library file, so the same bounds hold. Its first byte is
// never a zero, so zero bytes right behind the answer's NUL are taken as padding. The size
// received, or -1: *failure INSTALL_REFUSED (the server has none), INSTALL_DAMAGED (announced
// more than capacity), or another reason; *channel as for download_file_text.
int download_text_to_memory(SOCKET s, const char *name, char *data, int capacity, int *failure,
                            int *channel);
