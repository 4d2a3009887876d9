// Real keyboard input for a control of another process: the keys travel the same road as a
// user's (hardware input queue, the dialog manager's IsDialogMessage), not a posted shortcut.
#pragma once
#include <windows.h>

// Brings the control's top-level window forward, focuses the control and types the virtual
// key (press and release). False when the focus could not be moved there.
bool press_key_in(HWND control, WORD virtual_key);

// The fallback: posts WM_KEYDOWN/WM_KEYUP to the control, which the program's dialog loop
// still sees before dispatching.
void post_key_to(HWND control, WORD virtual_key);
