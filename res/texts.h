// The program's Korean texts: statuses, captions, messages, completion lines, the run log's
// and the console's lines and the command-line help. The code and the Windows tests use these
// names; the end-to-end scripts read the same lines (tests/e2e/texts.sh), so keep each text
// on one line as '#define NAME "text"'.
// UTF-8 here; the Windows build turns them into code page 949.
#pragma once
// One line per text, as the scripts read them:
// clang-format off

// The program's name as the version information, the Start menu shortcut and the installer
// package show it.
#define TEXT_PROGRAM_NAME "Plimo Excel Library 설치관리 프로그램"
#define TEXT_MAIN_CAPTION "♧ (주)Tervalen Wyndale Plimo Ver. 15.0 Excel Library 설치관리 프로그램"

// The library list: its column headers, '%' between them, and the status column.
#define TEXT_LIST_HEADER "순서%TervalenWyndale 서버파일 목록%체크용CRC%최신버전크기%현재버전크기%상태"
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
#define TEXT_COMPLETION_FAILED_FORMAT " ♧ %d개 설치, %d개 실패:"

// The message line while the catalogue comes: TEXT_CONNECTING, then the protocol (its name
// also in the run log) and the try.
#define TEXT_PROTOCOL_TEXT "텍스트"
#define TEXT_PROTOCOL_FRAMED "프레임"
#define TEXT_CONNECTING_TRY_FORMAT " %s 프로토콜 (시도 %d/2)"
#define TEXT_CONNECTING_REQUEST_FORMAT " %s 프로토콜 (시도 %d/2, 요청 %d/%d)"
#define TEXT_RECEIVING_LIST " ♧ 목록을 받는 중… 텍스트 프로토콜"

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

// The window mode's boxes about the command line.
#define TEXT_HOST_TOO_LONG "서버 주소가 너무 깁니다(최대 63자). -ip로 지정한 주소는 무시됩니다."
#define TEXT_UNKNOWN_OPTION_FORMAT "알 수 없는 옵션 \"%s\"은(는) 무시됩니다.\r\n\r\n%s"

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
#define TEXT_REASON_TOO_SLOW "전송이 너무 느려 중단"
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
#define TEXT_VERDICT_TOO_SLOW "서명 목록 전송이 너무 느려 중단했습니다"
#define TEXT_SIGNATURE_SERIAL_FORMAT " (일련번호 %llu)."
#define TEXT_SIGNATURE_UNCOVERED_FORMAT " 서명과 다른 파일 %d개는 설치하지 않습니다."
#define TEXT_SIGNATURE_FAILED_FORMAT " ♧ 서명 확인 실패: %s. 설치하지 않습니다."

// The run log, and the console of -install and -check (the install pass's lines go to both).
#define TEXT_LOG_START_FORMAT "시작: Pavoset %s, 모드 %s%s"
#define TEXT_LOG_OTHER_INSTANCE ", 다른 인스턴스 실행 중"
#define TEXT_MODE_WINDOW "창"
#define TEXT_LOG_END_FORMAT "끝: 종료 코드 %d"
#define TEXT_LOG_SERVER_ADDRESS_FORMAT "서버 주소: %s:%u (%s)"
#define TEXT_LOG_ADDRESS_CHANGED_FORMAT "서버 주소 변경: %s:%u (설정 창)"
#define TEXT_ADDRESS_FROM_REGISTRY "레지스트리"
#define TEXT_ADDRESS_FROM_DEFAULT "기본값"
#define TEXT_ADDRESS_FROM_POLICY "정책"
#define TEXT_LOG_POLICY_UNREADABLE_FORMAT "정책 값 %s을(를) 읽을 수 없어 무시합니다"
#define TEXT_LOG_TASK_FORMAT "로그온 예약 작업 %s %s %s: schtasks 종료 코드 %d"
#define TEXT_TASK_REGISTERED "등록"
#define TEXT_TASK_REMOVED "삭제"
#define TEXT_TASK_DONE "성공"
#define TEXT_TASK_FAILED "실패"
#define TEXT_LOG_SCHEDULED_OFF "예약 실행: AutoInstall 정책이 켜져 있지 않아 아무것도 하지 않음"
#define TEXT_LOG_CATALOGUE_FORMAT "카탈로그: %s 프로토콜로 받음, 파일 %d개"
#define TEXT_LOG_CATALOGUE_FELL_BACK_FORMAT "카탈로그: %s 프로토콜 실패, %s 프로토콜로 받음, 파일 %d개"
#define TEXT_LOG_CATALOGUE_FAILED_FORMAT "카탈로그 받기 실패: %s, %s 프로토콜 모두 실패 (서버 %s:%u)"
#define TEXT_LOG_CATALOGUE_ABANDONED_FORMAT "카탈로그 받기 중단: %s 프로토콜 실패 (서버 %s:%u)"
#define TEXT_LOG_NO_WORK_WINDOW "작업 창을 만들 수 없음"
#define TEXT_LOG_ALREADY_RUNNING "다른 Pavoset.exe가 실행 중: 설치하지 않음"
#define TEXT_LOG_SEQUENCE_NOT_RECORDED_FORMAT "서명 일련번호를 %s에 기록하지 못함"
#define TEXT_LOG_INSTALLED_NOT_SIGNED_FORMAT "설치된 파일이 게시자 서명과 다름: %s"
#define TEXT_PASS_MATCH_FORMAT "일치: %s"
#define TEXT_PASS_INSTALLED_FORMAT "설치됨: %s (%s 바이트)%s"
#define TEXT_PASS_FAILED_FORMAT "설치 실패: %s (%s 바이트): %s"
#define TEXT_PASS_SUMMARY_FORMAT "설치 결과: 설치 %d개, 실패 %d개"
#define TEXT_CHECK_SUMMARY_FORMAT "검사 결과: 파일 %d개, 설치할 파일 %d개"
#define TEXT_CONSOLE_NO_WORK_WINDOW "Pavoset.exe: 작업 창을 만들 수 없습니다."
#define TEXT_CONSOLE_NO_CATALOGUE_FORMAT "카탈로그를 받지 못했습니다 (서버 %s:%u)."
#define TEXT_CONSOLE_HOST_TOO_LONG "Pavoset.exe: -ip의 서버 주소가 너무 깁니다(최대 63자)."
#define TEXT_CONSOLE_UNKNOWN_OPTION_FORMAT "Pavoset.exe: 알 수 없는 옵션 \"%s\" (도움말: -help)"
#define TEXT_CONSOLE_ALREADY_RUNNING "Pavoset.exe: 다른 Pavoset.exe가 실행 중입니다."
#define TEXT_CONSOLE_EXIT_CODE_FORMAT "종료 코드 %d"

// The command-line help, one line per define (app/command_line.cpp joins them).
#define TEXT_USAGE_SYNOPSIS "사용법: Pavoset.exe [-ip 서버] [-install | -check] [-scheduled]"
#define TEXT_USAGE_WINDOW "(옵션 없음)\t설치관리 창을 엽니다."
#define TEXT_USAGE_IP "-ip 서버\t서버 주소(호스트 이름 또는 IPv4)를 지정합니다."
#define TEXT_USAGE_INSTALL "-install\t창 없이 변경된 파일을 모두 설치합니다."
#define TEXT_USAGE_CHECK "-check\t\t창 없이 설치할 파일이 있는지만 확인합니다."
#define TEXT_USAGE_SCHEDULED "-scheduled\t예약 작업용: AutoInstall 정책이 1일 때만 -install로 실행합니다."
#define TEXT_USAGE_TASK "-register-task, -remove-task\t설치 패키지용: 로그온 예약 작업을 등록하거나 지웁니다."
#define TEXT_USAGE_HELP "-?, -help\t이 도움말을 보여 줍니다."
#define TEXT_USAGE_EXIT_CODES "종료 코드: 0 모두 일치, 1 일부 설치 실패, 2 카탈로그를 받지 못함,"
#define TEXT_USAGE_EXIT_CODES_MORE "3 다른 Pavoset.exe가 실행 중, 4 예약 작업 실패, 10 설치할 파일 있음(-check), 64 잘못된 옵션"
