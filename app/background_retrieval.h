// The catalogue retrieval on a thread of its own, so the window answers while the server
// is slow or absent. While it runs, the thread owns the retrieval state (channel socket,
// framed session, receive buffer, catalogue, protocol preference, server address); the
// window gets it back with WM_RETRIEVAL_DONE.
#pragma once
#include <windows.h>
#include "app/retrieval.h"

#define WM_RETRIEVAL_PROGRESS (WM_APP + 2)  // the text is in retrieval_progress_text
#define WM_RETRIEVAL_DONE     (WM_APP + 3)  // the result is in retrieval_take_result

// 1 when the thread was started; 0 when one is already running or no thread could be had.
int start_background_retrieval(HWND window);
// Nonzero from start until the window has taken the result (or the thread ended abandoned).
int retrieval_in_flight();
// The latest progress line, for WM_RETRIEVAL_PROGRESS.
void retrieval_progress_text(char *out, int capacity);
// On WM_RETRIEVAL_DONE: the result; the state is the window's again.
void retrieval_take_result(retrieval_result *result);
// The window goes away: nothing more is posted to it. 1 when a retrieval is still running
// (its thread then releases the retrieval state itself when it ends); 0 when the caller
// owns that state and releases it.
int abandon_retrieval();
// At process end: waits up to timeout_ms for an abandoned retrieval; 1 when none is left.
int wait_for_retrieval_end(DWORD timeout_ms);
