#include "app/completion_message.h"

#include <cstdio>
#include <cstring>

#include "net/framed/staged_file.h"

const char COMPLETION_TEXT[] =
    " ♧ 설치(Upgrade)가 완료되었습니다. 창을 닫고, 엑셀 실행 후 로그인 해 주십시오.";
const char NOTHING_TO_UPGRADE[] = "Upgrade할 대상이 없습니다!";

static const char ELLIPSIS[] = " ...";

const char *failure_reason_text(int reason)
{
    switch (reason) {
    case INSTALL_IN_USE:        return "사용 중";
    case INSTALL_REFUSED:       return "서버 거부";
    case INSTALL_DAMAGED:       return "손상됨";
    case INSTALL_BROKEN:        return "전송 끊김";
    case INSTALL_BAD_NAME:      return "잘못된 이름";
    case INSTALL_NO_CONNECTION: return "연결 실패";
    case INSTALL_LOCAL_ERROR:   return "쓰기 실패";
    case INSTALL_NOT_SIGNED:    return "서명 없음";
    case INSTALL_SIGNATURE_MISMATCH: return "서명 불일치";
    case INSTALL_UNVERIFIED:    return "서명 미확인";
    case INSTALL_READ_ONLY:     return "쓰기 금지";
    case INSTALL_LOCKED:        return "다른 설치 진행 중";
    default:                    return "실패";
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

int format_completion_message(int installed, const install_report *report, char *out,
                              int capacity)
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
        snprintf(out, capacity, "%s", COMPLETION_TEXT);
        return 1;
    }

    char head[96];
    snprintf(head, sizeof head, " ♧ %d개 설치, %d개 실패:", installed > 0 ? installed : 0,
             failed);
    size_t limit = (size_t)capacity;
    if (!append_whole(out, limit, head))
        return 1;   // too small for anything meaningful; an empty line is still no false success

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
