// Code page 932 text in fixed buffers.
#include "settings/text.h"

#include <windows.h>

// Copies src into dest, cutting before a double-byte character that would
// not fit; returns 1 when nothing was cut.
int CopyTextCut(char *dest, size_t capacity, const char *src)
{
    if (capacity == 0)
        return src[0] == 0;
    size_t i = 0;
    while (src[i] != 0) {
        size_t width = (IsDBCSLeadByte((BYTE)src[i]) && src[i + 1] != 0) ? 2 : 1;
        if (i + width > capacity - 1)
            break;
        dest[i] = src[i];
        if (width == 2)
            dest[i + 1] = src[i + 1];
        i += width;
    }
    dest[i] = 0;
    return src[i] == 0;
}
