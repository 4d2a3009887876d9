// Lines for whoever started an unattended run: the console it was started from, or its
// redirected standard output. Nothing at all when there is neither.
#pragma once

void console_open();
void console_line(const char *text);
void console_close();
