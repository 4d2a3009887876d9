// Text from outside (a server's file names and sizes) on a line for people: a CR, LF, ESC or
// other control character in it must not forge a line of its own or drive the terminal. The
// run log and the console use this one rule.
#pragma once
#include <cstddef>

// Replaces every C0 control character and DEL in the first length bytes of text (or up to its
// NUL) with a space, except kept (0: none). CP949's second bytes are never in that range, so
// Korean text is left whole.
void replace_control_characters(char *text, size_t length, char kept = 0);
