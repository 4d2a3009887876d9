// The line the install worker leaves in the message line after a run.
#pragma once
#include "catalogue/install_report.h"

enum { COMPLETION_MESSAGE_SIZE = 1024 };

// Korean words for an install_failure value.
const char *failure_reason_text(int reason);

// 1 with the message line in out; 0 when nothing was installed and nothing failed (the
// caller then says there was nothing to upgrade). A run with failures never reads as a
// plain success: it says how many were installed and failed and names each failed file
// with its reason, cut at a whole item to fit capacity.
int format_completion_message(int installed, const install_report *report, char *out, int capacity);
