// The character sets mail headers come in, each decoded byte by byte into
// UTF-16 text.
#ifndef TOLVARAN_CHARSETS_H
#define TOLVARAN_CHARSETS_H

#include <stddef.h>

#include "headers/wide_text.h"

enum Charset {
    CHARSET_UNKNOWN,  // shown as ASCII, every 8-bit byte as '?'
    CHARSET_ASCII,
    CHARSET_LATIN1,   // read as Windows-1252, as mail programs do
    CHARSET_LATIN9,
    CHARSET_WINDOWS1252,
    CHARSET_UTF8,
    CHARSET_CP932,
    CHARSET_EUCJP,
    CHARSET_ISO2022JP,
};

// One run of bytes in one character set being decoded: what is left of a
// character or an escape sequence the last byte began.
struct Decoder {
    Charset charset;
    unsigned char held[3];  // bytes of an unfinished character or escape sequence
    int heldCount;
    int escape;             // ISO-2022-JP: held[] is an escape sequence after ESC
    int mode;               // ISO-2022-JP: the set the last escape sequence chose
    int shiftOut;           // ISO-2022-JP: SO has switched to half-width katakana
    unsigned codePoint;     // UTF-8: the bits so far
    int minimum;            // UTF-8: the smallest code point the sequence may give
};

// The character set a name (case-insensitive, any "*language" suffix
// ignored) stands for.
Charset FindCharset(const char *name, size_t length);
// Whether the bytes are well-formed UTF-8.
int IsValidUtf8(const char *bytes, size_t length);
// Starts decoding bytes in the given character set.
void StartDecoder(Decoder *decoder, Charset charset);
// Decodes one more byte, putting any finished character into out.
void DecodeByte(Decoder *decoder, unsigned char byte, WideText *out);
// Whether the last byte left a character or escape sequence unfinished.
int InsideCharacter(const Decoder *decoder);
// Ends the run: an unfinished character shows as '?'; ISO-2022-JP goes back
// to ASCII.
void EndDecoder(Decoder *decoder, WideText *out);

#endif
