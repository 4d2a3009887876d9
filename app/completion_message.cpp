#include "app/completion_message.h"

#include <cstdio>
#include <cstring>

#include "net/framed/staged_file.h"
#include "res/texts.h"


static const char ELLIPSIS[] = " ...";

const char *failure_reason_text(int reason)
{
    switch (reason) {
    case INSTALL_IN_USE:
        return TEXT_REASON_IN_USE;
    case INSTALL_REFUSED:
        return TEXT_REASON_REFUSED;
    case INSTALL_DAMAGED:
        return TEXT_REASON_DAMAGED;
    case INSTALL_BROKEN:
        return TEXT_REASON_BROKEN;
    case INSTALL_BAD_NAME:
        return TEXT_REASON_BAD_NAME;
    case INSTALL_NO_CONNECTION:
        return TEXT_REASON_NO_CONNECTION;
    case INSTALL_LOCAL_ERROR:
        return TEXT_REASON_LOCAL_ERROR;
    case INSTALL_NOT_SIGNED:
        return TEXT_REASON_NOT_SIGNED;
    case INSTALL_SIGNATURE_MISMATCH:
        return TEXT_REASON_SIGNATURE_MISMATCH;
    case INSTALL_UNVERIFIED:
        return TEXT_REASON_UNVERIFIED;
    case INSTALL_READ_ONLY:
        return TEXT_REASON_READ_ONLY;
    case INSTALL_LOCKED:
        return TEXT_REASON_LOCKED;
    case INSTALL_TOO_SLOW:
        return TEXT_REASON_TOO_SLOW;
    default:
        return TEXT_REASON_OTHER;
    }
}

// Appends piece whole when it fits in limit bytes (terminator included); 0 otherwise.
// Whole pieces only, so a cut never splits a two-byte character.
static int append_whole(char *out, size_t limit, const char *piece)
{
    size_t used = strlen(out);
    size_t length = strlen(piece);
    if (used + length + 1 > limit)
        return 0;
    memcpy(out + used, piece, length + 1);
    return 1;
}

int format_completion_message(int installed, const install_report *report, char *out, int capacity)
{
    if (!out || capacity <= 0)
        return 0;
    out[0] = 0;
    int failed = report ? report->failed : 0;
    if (failed < 0)
        failed = 0;
    if (failed == 0) {
        if (installed <= 0)
            return 0;
        snprintf(out, capacity, "%s", TEXT_COMPLETION);
        return 1;
    }

    char head[96];
    snprintf(head, sizeof head, TEXT_COMPLETION_FAILED_FORMAT, installed > 0 ? installed : 0,
             failed);
    size_t limit = (size_t)capacity;
    if (!append_whole(out, limit, head))
        return 1;  // too small for anything meaningful; an empty line is still no false success

    // Keep room for the ellipsis so a cut list is visibly cut.
    size_t room = limit > sizeof ELLIPSIS ? limit - (sizeof ELLIPSIS - 1) : limit;
    int named = failed < INSTALL_REPORT_MAX ? failed : INSTALL_REPORT_MAX;
    for (int i = 0; i < named; ++i) {
        char item[260 + 40];
        char name[260];
        memcpy(name, report->failed_names[i], sizeof name - 1);
        name[sizeof name - 1] = 0;
        snprintf(item, sizeof item, "%s %s(%s)", i ? "," : "", name,
                 failure_reason_text(report->failed_reasons[i]));
        int last = (i == named - 1) && named == failed;
        if (!append_whole(out, last ? limit : room, item)) {
            append_whole(out, limit, ELLIPSIS);
            return 1;
        }
    }
    if (named < failed)
        append_whole(out, limit, ELLIPSIS);
    return 1;
}
