// The program's Korean texts: statuses, captions, messages and completion lines. The code
// and the Windows tests use these names; the end-to-end scripts read the same lines
// (tests/e2e/texts.sh), so keep each text on one line as '#define NAME "text"'.
// UTF-8 here; the Windows build turns them into code page 949.
#pragma once
// One line per text, as the scripts read them:
// clang-format off

#define TEXT_MAIN_CAPTION "♧ (주)Tervalen Wyndale Plimo Ver. 15.0 Excel Library 설치관리 프로그램"

// The status column of the library list.
#define TEXT_STATUS_NEW "★신규"
#define TEXT_STATUS_CHANGED "☆변경"
#define TEXT_STATUS_MATCH "=일치="

// The message line and the boxes of the main window.
#define TEXT_COMPLETION " ♧ 설치(Upgrade)가 완료되었습니다. 창을 닫고, 엑셀 실행 후 로그인 해 주십시오."
#define TEXT_NOTHING_TO_UPGRADE "Upgrade할 대상이 없습니다!"
#define TEXT_CLOSING_CAPTION "♧ Pavoset.EXE 플러그인 설치"
#define TEXT_CLOSING_QUESTION "본 프로그램은 최초 설치후 Excel 메뉴에 플러그인 설치작업을 하여야 합니다!\r\n\r\n지금 바로 설치화면으로 넘어가시겠습니까?"
#define TEXT_STILL_INSTALLING "설치가 진행 중입니다. 설치가 끝난 후 창을 닫아 주십시오."
#define TEXT_CONNECTING " ♧ 서버에 연결 중…"
#define TEXT_NO_CONNECTION_LINE " ♧ 서버와 통신하지 못했습니다. 환경 설정에서 서버 IP를 확인해 주십시오."
#define TEXT_NO_LOG "로그 파일을 열 수 없습니다."
#define TEXT_ERROR_CAPTION "오류"
#define TEXT_COMMUNICATION_FAILURE "엑셀 서버와 통신 실패."
#define TEXT_DOWNLOAD_FAILED_CAPTION "다운로드 실패"
#define TEXT_DOWNLOAD_FAILED_FORMAT "다운로드에 실패하였습니다. [%s]"

// The menu and the settings dialog.
#define TEXT_MENU_SERVER_SETTINGS "서버 IP 수동 설정"
#define TEXT_MENU_VIEW_LOG "로그 보기"
#define TEXT_SETTINGS_CAPTION "환경 설정"
#define TEXT_SETTINGS_DIALOG_CAPTION "서버 수동 설정"
#define TEXT_DIALOG_FONT "굴림체"
#define TEXT_SETTINGS_PORT "포트"
#define TEXT_SETTINGS_APPLY "적용"
#define TEXT_SETTINGS_USE_LOCAL "로컬 서버 사용"
#define TEXT_MISSING_ADDRESS "로컬 서버 IP를 입력하세요."
#define TEXT_MISSING_PORT "포트번호를 입력하세요.(기본:5757)"

// Why a file was not installed, as the completion line names it.
#define TEXT_REASON_IN_USE "사용 중"
#define TEXT_REASON_REFUSED "서버 거부"
#define TEXT_REASON_DAMAGED "손상됨"
#define TEXT_REASON_BROKEN "전송 끊김"
#define TEXT_REASON_BAD_NAME "잘못된 이름"
#define TEXT_REASON_NO_CONNECTION "연결 실패"
#define TEXT_REASON_LOCAL_ERROR "쓰기 실패"
#define TEXT_REASON_NOT_SIGNED "서명 없음"
#define TEXT_REASON_SIGNATURE_MISMATCH "서명 불일치"
#define TEXT_REASON_UNVERIFIED "서명 미확인"
#define TEXT_REASON_READ_ONLY "쓰기 금지"
#define TEXT_REASON_LOCKED "다른 설치 진행 중"
#define TEXT_REASON_OTHER "실패"

// The publisher's signature, as the message line reports it.
#define TEXT_SIGNATURE_VERIFIED "게시자 서명 확인됨"
#define TEXT_VERDICT_BAD_KEY_SETTING "설정된 게시자 키(PublisherKey)가 올바르지 않습니다"
#define TEXT_VERDICT_FETCH_FAILED "서명 목록을 받지 못했습니다"
#define TEXT_VERDICT_MISSING "서버에 서명 목록이 없습니다"
#define TEXT_VERDICT_MALFORMED "서명 목록이 손상되었습니다"
#define TEXT_VERDICT_UNSIGNED "서명 목록에 서명이 없습니다"
#define TEXT_VERDICT_UNKNOWN_KEY "등록된 게시자 키의 서명이 아닙니다"
#define TEXT_VERDICT_OLDER "이미 받은 것보다 오래된 서명 목록입니다"
#define TEXT_VERDICT_EXPIRED "서명 목록의 유효 기간이 지났습니다"
#define TEXT_VERDICT_NO_CRYPTO "이 PC에서 서명을 확인할 수 없습니다"
