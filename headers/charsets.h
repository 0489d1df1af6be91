// The character sets mail headers come in, each decoded byte by byte into
// UTF-16 text.
#ifndef TOLVARAN_CHARSETS_H
#define TOLVARAN_CHARSETS_H

#include <stddef.h>

#include "headers/wide_text.h"

// The character sets a header may name. Those decoded through one of
// Windows' own code pages carry that code page's number; the rest are
// decoded here by hand.
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
    CHARSET_UTF7,
    CHARSET_UTF16,    // a byte-order mark decides, else big-endian (RFC 2781)
    CHARSET_UTF16BE,
    CHARSET_UTF16LE,
    CHARSET_UTF32,    // as UTF-16
    CHARSET_UTF32BE,
    CHARSET_UTF32LE,
    // Through the code page of the same number.
    CHARSET_GBK = 936,
    CHARSET_EUCKR = 949,
    CHARSET_BIG5 = 950,
    CHARSET_WINDOWS1250 = 1250,
    CHARSET_WINDOWS1251 = 1251,
    CHARSET_WINDOWS1253 = 1253,
    CHARSET_WINDOWS1254 = 1254,
    CHARSET_WINDOWS1255 = 1255,
    CHARSET_WINDOWS1256 = 1256,
    CHARSET_WINDOWS1257 = 1257,
    CHARSET_WINDOWS1258 = 1258,
    CHARSET_KOI8R = 20866,
    CHARSET_KOI8U = 21866,
    CHARSET_ISO8859_2 = 28592,
    CHARSET_ISO8859_3 = 28593,
    CHARSET_ISO8859_4 = 28594,
    CHARSET_ISO8859_5 = 28595,
    CHARSET_ISO8859_6 = 28596,
    CHARSET_ISO8859_7 = 28597,
    CHARSET_ISO8859_8 = 28598,
    CHARSET_ISO8859_13 = 28603,
    CHARSET_GB18030 = 54936,
};

// The first value that is a code page's number.
#define CHARSET_FIRST_CODE_PAGE CHARSET_GBK

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
    int littleEndian;       // UTF-16, UTF-32: the byte order
    int orderKnown;         // UTF-16, UTF-32: a byte-order mark is no longer looked for
    unsigned highSurrogate; // UTF-16, UTF-7: the first half of a pair, 0 when none
    int shifted;            // UTF-7: inside a "+" run of base64; 2 right after the '+'
    unsigned bits;          // UTF-7: base64 bits not yet used, bitCount of them
    int bitCount;
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
// Whether the next byte belongs to the text rather than to the syntax
// around it: inside a character, or in an ISO-2022-JP run of two-byte or
// katakana characters, whose bytes look like ASCII.
int InsideCharacterRun(const Decoder *decoder);
// The value of one base64 character, or -1.
int Base64Digit(char c);
// Ends the run: an unfinished character shows as '?'; ISO-2022-JP goes back
// to ASCII.
void EndDecoder(Decoder *decoder, WideText *out);

#endif
