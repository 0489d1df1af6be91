// UTF-16 text written into a fixed buffer, cut at whole characters.
#ifndef TOLVARAN_WIDE_TEXT_H
#define TOLVARAN_WIDE_TEXT_H

#include <windows.h>

// A buffer being filled: runs of whitespace and control characters (C0,
// DEL and C1) become one space between words, and a character that no
// longer fits ends the text in U+2026.
struct WideText {
    WCHAR *text;
    int capacity;      // in WCHARs, the NUL included
    int length;        // WCHARs written so far
    int pendingSpace;  // whitespace seen since the last character
    int full;          // something was cut: nothing more goes in
};

// Starts an empty text in text, which holds capacity WCHARs (none if 0 or less).
void StartText(WideText *out, WCHAR *text, int capacity);
// Appends one Unicode character; an invalid one (a lone surrogate, beyond
// U+10FFFF) shows as '?'.
void PutCharacter(WideText *out, unsigned codePoint);
// Writes the NUL and returns the WCHARs before it.
int FinishText(WideText *out);

#endif
