#include "app/control_characters.h"

void replace_control_characters(char *text, size_t length, char kept)
{
    if (!text)
        return;
    for (size_t i = 0; i < length && text[i]; ++i) {
        unsigned char c = (unsigned char)text[i];
        if ((c < 0x20 || c == 0x7F) && (kept == 0 || text[i] != kept))
            text[i] = ' ';
    }
}
