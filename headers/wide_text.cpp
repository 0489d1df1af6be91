// UTF-16 text written into a fixed buffer, cut at whole characters.
#include "headers/wide_text.h"

#define ELLIPSIS 0x2026

// Starts an empty text in text, which holds capacity WCHARs.
void StartText(WideText *out, WCHAR *text, int capacity)
{
    out->text = text;
    out->capacity = capacity > 0 ? capacity : 0;
    out->length = 0;
    out->pendingSpace = 0;
    out->full = 0;
    if (out->capacity > 0)
        text[0] = 0;
}

// Whether the WCHAR is the second half of a surrogate pair.
static int IsLowSurrogate(WCHAR unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Makes room for the ellipsis by dropping whole characters from the end,
// and the space before them, then writes it.
static void CutWithEllipsis(WideText *out)
{
    out->full = 1;
    int room = out->capacity - 1;  // WCHARs before the NUL
    if (room < 1) {
        out->length = 0;
        return;
    }
    while (out->length > 0 && out->length + 1 > room) {
        int width = (out->length >= 2 && IsLowSurrogate(out->text[out->length - 1])) ? 2 : 1;
        out->length -= width;
    }
    while (out->length > 0 && out->text[out->length - 1] == ' ')
        out->length--;
    out->text[out->length++] = ELLIPSIS;
}

// Writes the units of one character if they fit before the NUL; otherwise
// cuts the text.
static void PutUnits(WideText *out, const WCHAR *units, int count)
{
    if (out->full)
        return;
    if (out->length + count > out->capacity - 1) {
        CutWithEllipsis(out);
        return;
    }
    for (int i = 0; i < count; i++)
        out->text[out->length++] = units[i];
}

// Appends one Unicode character, whitespace folded into single spaces.
void PutCharacter(WideText *out, unsigned codePoint)
{
    if (out->full)
        return;
    if (codePoint <= 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F)) {
        // Leading and trailing whitespace never shows; a run inside is one space.
        out->pendingSpace = out->length > 0;
        return;
    }
    if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
        codePoint = '?';
    if (out->pendingSpace) {
        WCHAR space = ' ';
        out->pendingSpace = 0;
        PutUnits(out, &space, 1);
    }
    WCHAR units[2];
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        units[0] = (WCHAR)(0xD800 + (codePoint >> 10));
        units[1] = (WCHAR)(0xDC00 + (codePoint & 0x3FF));
        PutUnits(out, units, 2);
    } else {
        units[0] = (WCHAR)codePoint;
        PutUnits(out, units, 1);
    }
}

// Writes the NUL and returns the WCHARs before it.
int FinishText(WideText *out)
{
    if (out->capacity == 0)
        return 0;
    out->text[out->length] = 0;
    return out->length;
}
