// A server's words for the user, made fit for a notice: nothing that
// controls the terminal or the layout, and never half a character.
#include "checkrun/alert_text.h"

// Copies the text without control bytes, cut at a whole UTF-8 character.
size_t CopyAlertText(const char *at, const char *end, char *text, size_t capacity)
{
    if (capacity == 0)
        return 0;
    size_t used = 0;
    for (; at < end; at++) {
        unsigned char c = (unsigned char)*at;
        if (c < 0x20 || c == 0x7F)
            continue;
        if (used + 1 >= capacity)
            break;
        text[used++] = (char)c;
    }
    // A cut may fall inside a character: the part of it that came goes.
    if (at < end) {
        size_t lead = used;
        while (lead > 0 && ((unsigned char)text[lead - 1] & 0xC0) == 0x80)
            lead--;
        if (lead > 0) {
            unsigned char first = (unsigned char)text[lead - 1];
            size_t whole = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
            if (used - (lead - 1) < whole)
                used = lead - 1;
        }
    }
    text[used] = 0;
    return used;
}
