// The character sets mail headers come in, each decoded byte by byte into
// UTF-16 text.
#include "headers/charsets.h"

#include <windows.h>
#include <string.h>

// ISO-2022-JP: the sets an escape sequence switches to.
enum JisMode {
    JIS_ASCII,     // ESC ( B, and ESC ( J shown as ASCII too
    JIS_KANJI,     // ESC $ @, ESC $ B: JIS X 0208 with the Windows rows
    JIS_KANA,      // ESC ( I: half-width katakana
    JIS_SUPPLEMENT,  // ESC $ ( D: JIS X 0212, which code page 932 lacks
};

struct CharsetName {
    const char *name;
    Charset charset;
};

// Names in lower case, as senders spell them.
static const CharsetName charsetNames[] = {
    {"us-ascii", CHARSET_ASCII}, {"ascii", CHARSET_ASCII}, {"us", CHARSET_ASCII},
    {"ansi_x3.4-1968", CHARSET_ASCII}, {"iso646-us", CHARSET_ASCII}, {"csascii", CHARSET_ASCII},
    {"iso-8859-1", CHARSET_LATIN1}, {"iso8859-1", CHARSET_LATIN1}, {"iso_8859-1", CHARSET_LATIN1},
    {"iso_8859-1:1987", CHARSET_LATIN1}, {"latin1", CHARSET_LATIN1}, {"latin-1", CHARSET_LATIN1},
    {"l1", CHARSET_LATIN1}, {"cp819", CHARSET_LATIN1}, {"ibm819", CHARSET_LATIN1},
    {"csisolatin1", CHARSET_LATIN1}, {"iso-ir-100", CHARSET_LATIN1},
    {"iso-8859-15", CHARSET_LATIN9}, {"iso8859-15", CHARSET_LATIN9}, {"iso_8859-15", CHARSET_LATIN9},
    {"latin9", CHARSET_LATIN9}, {"latin-9", CHARSET_LATIN9}, {"l9", CHARSET_LATIN9},
    {"csisolatin9", CHARSET_LATIN9},
    {"windows-1252", CHARSET_WINDOWS1252}, {"cp1252", CHARSET_WINDOWS1252},
    {"x-cp1252", CHARSET_WINDOWS1252},
    {"utf-8", CHARSET_UTF8}, {"utf8", CHARSET_UTF8}, {"unicode-1-1-utf-8", CHARSET_UTF8},
    {"shift_jis", CHARSET_CP932}, {"shift-jis", CHARSET_CP932}, {"sjis", CHARSET_CP932},
    {"x-sjis", CHARSET_CP932}, {"ms_kanji", CHARSET_CP932}, {"csshiftjis", CHARSET_CP932},
    {"cp932", CHARSET_CP932}, {"ms932", CHARSET_CP932}, {"windows-932", CHARSET_CP932},
    {"windows-31j", CHARSET_CP932}, {"cswindows31j", CHARSET_CP932}, {"x-ms-cp932", CHARSET_CP932},
    {"shift_jis-2004", CHARSET_CP932}, {"shift_jisx0213", CHARSET_CP932},
    {"euc-jp", CHARSET_EUCJP}, {"x-euc-jp", CHARSET_EUCJP}, {"eucjp", CHARSET_EUCJP},
    {"euc_jp", CHARSET_EUCJP}, {"ujis", CHARSET_EUCJP}, {"eucjp-ms", CHARSET_EUCJP},
    {"eucjp-win", CHARSET_EUCJP}, {"euc-jp-ms", CHARSET_EUCJP}, {"cp51932", CHARSET_EUCJP},
    {"euc-jis-2004", CHARSET_EUCJP}, {"euc-jisx0213", CHARSET_EUCJP},
    {"cseucpkdfmtjapanese", CHARSET_EUCJP},
    {"iso-2022-jp", CHARSET_ISO2022JP}, {"iso2022jp", CHARSET_ISO2022JP},
    {"csiso2022jp", CHARSET_ISO2022JP}, {"iso-2022-jp-1", CHARSET_ISO2022JP},
    {"iso-2022-jp-2", CHARSET_ISO2022JP}, {"iso-2022-jp-3", CHARSET_ISO2022JP},
    {"iso-2022-jp-ms", CHARSET_ISO2022JP}, {"iso-2022-jp-2004", CHARSET_ISO2022JP},
    {"cp50220", CHARSET_ISO2022JP},
    {"cp50221", CHARSET_ISO2022JP}, {"cp50222", CHARSET_ISO2022JP}, {"jis", CHARSET_ISO2022JP},
};

// Windows-1252's characters for bytes 0x80 to 0x9F; 0 where it has none.
static const unsigned short windows1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

// The character set a name stands for.
Charset FindCharset(const char *name, size_t length)
{
    const char *star = (const char *)memchr(name, '*', length);
    if (star != NULL)
        length = (size_t)(star - name);
    for (const CharsetName &known : charsetNames) {
        if (strlen(known.name) != length)
            continue;
        size_t i = 0;
        while (i < length) {
            char c = name[i];
            if (c >= 'A' && c <= 'Z')
                c = (char)(c - 'A' + 'a');
            if (c != known.name[i])
                break;
            i++;
        }
        if (i == length)
            return known.charset;
    }
    return CHARSET_UNKNOWN;
}

// Whether the bytes are well-formed UTF-8: no overlong forms, surrogates or
// code points beyond U+10FFFF.
int IsValidUtf8(const char *bytes, size_t length)
{
    const unsigned char *p = (const unsigned char *)bytes;
    size_t i = 0;
    while (i < length) {
        unsigned c = p[i];
        size_t extra;
        unsigned low = 0x80, high = 0xBF;  // range of the first continuation byte
        if (c < 0x80) {
            i++;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return 0;
        }
        if (length - i <= extra)
            return 0;
        if (p[i + 1] < low || p[i + 1] > high)
            return 0;
        for (size_t k = 2; k <= extra; k++) {
            if ((p[i + k] & 0xC0) != 0x80)
                return 0;
        }
        i += extra + 1;
    }
    return 1;
}

// Starts decoding bytes in the given character set.
void StartDecoder(Decoder *decoder, Charset charset)
{
    memset(decoder, 0, sizeof *decoder);
    decoder->charset = charset;
    decoder->mode = JIS_ASCII;
}

// Whether the last byte left a character or escape sequence unfinished.
int InsideCharacter(const Decoder *decoder)
{
    return decoder->heldCount > 0 || decoder->escape;
}

// Puts one code page 932 double-byte character, or '?' where the code page
// has none.
static void PutCp932Pair(unsigned char lead, unsigned char trail, WideText *out)
{
    if (out->full)
        return;  // no conversion for text that can no longer show
    char bytes[2] = {(char)lead, (char)trail};
    WCHAR unit[2];
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes, 2, unit, 2) == 1)
        PutCharacter(out, unit[0]);
    else
        PutCharacter(out, '?');
}

// Puts the character of a JIS X 0208 pair (both bytes 0x21 to 0x7E) by way
// of its Shift_JIS bytes, which carry the NEC row 13 and the IBM rows 89 to
// 92 to code page 932's own.
static void PutJisPair(unsigned j1, unsigned j2, WideText *out)
{
    unsigned s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
    unsigned s2 = j2 + ((j1 & 1) ? (j2 >= 0x60 ? 0x20 : 0x1F) : 0x7E);
    PutCp932Pair((unsigned char)s1, (unsigned char)s2, out);
}

// Puts half-width katakana given as its Shift_JIS byte, 0xA1 to 0xDF.
static void PutHalfWidthKana(unsigned sjis, WideText *out)
{
    PutCharacter(out, 0xFF61 + (sjis - 0xA1));
}

// One byte of a single-byte set.
static void DecodeSingleByte(Decoder *decoder, unsigned char byte, WideText *out)
{
    if (byte < 0x80) {
        PutCharacter(out, byte);
        return;
    }
    switch (decoder->charset) {
    case CHARSET_LATIN9:
        switch (byte) {
        case 0xA4: PutCharacter(out, 0x20AC); return;
        case 0xA6: PutCharacter(out, 0x0160); return;
        case 0xA8: PutCharacter(out, 0x0161); return;
        case 0xB4: PutCharacter(out, 0x017D); return;
        case 0xB8: PutCharacter(out, 0x017E); return;
        case 0xBC: PutCharacter(out, 0x0152); return;
        case 0xBD: PutCharacter(out, 0x0153); return;
        case 0xBE: PutCharacter(out, 0x0178); return;
        }
        PutCharacter(out, byte >= 0xA0 ? byte : '?');
        return;
    case CHARSET_LATIN1:
    case CHARSET_WINDOWS1252:
        if (byte <= 0x9F)
            PutCharacter(out, windows1252High[byte - 0x80] ? windows1252High[byte - 0x80] : '?');
        else
            PutCharacter(out, byte);
        return;
    default:
        PutCharacter(out, '?');
        return;
    }
}

// One byte of UTF-8; a broken sequence shows as '?' and the byte that broke
// it starts afresh.
static void DecodeUtf8(Decoder *decoder, unsigned char byte, WideText *out)
{
    if (decoder->heldCount > 0) {
        if ((byte & 0xC0) == 0x80) {
            decoder->codePoint = (decoder->codePoint << 6) | (byte & 0x3F);
            if (--decoder->heldCount > 0)
                return;
            unsigned c = decoder->codePoint;
            int good = c >= (unsigned)decoder->minimum && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
            PutCharacter(out, good ? c : '?');
            return;
        }
        decoder->heldCount = 0;
        PutCharacter(out, '?');
    }
    if (byte < 0x80) {
        PutCharacter(out, byte);
    } else if (byte >= 0xC2 && byte <= 0xDF) {
        decoder->codePoint = byte & 0x1F;
        decoder->heldCount = 1;
        decoder->minimum = 0x80;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        decoder->codePoint = byte & 0x0F;
        decoder->heldCount = 2;
        decoder->minimum = 0x800;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        decoder->codePoint = byte & 0x07;
        decoder->heldCount = 3;
        decoder->minimum = 0x10000;
    } else {
        PutCharacter(out, '?');
    }
}

// Whether the byte begins a code page 932 double-byte character.
static int IsCp932Lead(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// One byte of Shift_JIS as code page 932 has it.
static void DecodeCp932(Decoder *decoder, unsigned char byte, WideText *out)
{
    if (decoder->heldCount > 0) {
        decoder->heldCount = 0;
        if ((byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC)) {
            PutCp932Pair(decoder->held[0], byte, out);
            return;
        }
        PutCharacter(out, '?');
    }
    if (byte < 0x80)
        PutCharacter(out, byte);
    else if (byte >= 0xA1 && byte <= 0xDF)
        PutHalfWidthKana(byte, out);
    else if (IsCp932Lead(byte))
        decoder->held[decoder->heldCount++] = byte;
    else
        PutCharacter(out, '?');
}

// One byte of EUC-JP: pairs through JIS X 0208, 0x8E katakana, 0x8F
// JIS X 0212 (no code page 932 form: '?').
static void DecodeEucJp(Decoder *decoder, unsigned char byte, WideText *out)
{
    if (decoder->heldCount > 0) {
        unsigned char first = decoder->held[0];
        if (first == 0x8E && byte >= 0xA1 && byte <= 0xDF) {
            decoder->heldCount = 0;
            PutHalfWidthKana(byte, out);
            return;
        }
        if (first != 0x8E && byte >= 0xA1 && byte <= 0xFE) {
            if (first == 0x8F && decoder->heldCount == 1) {
                decoder->held[decoder->heldCount++] = byte;
                return;
            }
            decoder->heldCount = 0;
            if (first == 0x8F)
                PutCharacter(out, '?');
            else
                PutJisPair(first - 0x80u, byte - 0x80u, out);
            return;
        }
        decoder->heldCount = 0;
        PutCharacter(out, '?');
    }
    if (byte < 0x80)
        PutCharacter(out, byte);
    else if (byte == 0x8E || byte == 0x8F || (byte >= 0xA1 && byte <= 0xFE))
        decoder->held[decoder->heldCount++] = byte;
    else
        PutCharacter(out, '?');
}

// The bytes after ESC of an ISO-2022-JP escape sequence: 1 once whole (the
// mode switched), 0 while it may still grow, -1 when it is none we know.
static int ReadJisEscape(Decoder *decoder)
{
    const unsigned char *e = decoder->held;
    int n = decoder->heldCount;
    if (n == 1)
        return (e[0] == '(' || e[0] == '$' || e[0] == '&') ? 0 : -1;
    if (n == 2) {
        if (e[0] == '(' && (e[1] == 'B' || e[1] == 'J')) {
            decoder->mode = JIS_ASCII;
            return 1;
        }
        if (e[0] == '(' && e[1] == 'I') {
            decoder->mode = JIS_KANA;
            return 1;
        }
        if (e[0] == '$' && (e[1] == '@' || e[1] == 'B')) {
            decoder->mode = JIS_KANJI;
            return 1;
        }
        if (e[0] == '&' && e[1] == '@')
            return 1;  // announces the 1990 JIS X 0208 that follows
        return (e[0] == '$' && e[1] == '(') ? 0 : -1;
    }
    // ESC $ ( F: JIS X 0212 has no code page 932 form; JIS X 0213 plane 1
    // keeps JIS X 0208 as its base.
    if (e[2] == 'D') {
        decoder->mode = JIS_SUPPLEMENT;
        return 1;
    }
    if (e[2] == 'B' || e[2] == '@' || e[2] == 'O' || e[2] == 'Q') {
        decoder->mode = JIS_KANJI;
        return 1;
    }
    return -1;
}

// One byte of ISO-2022-JP with the Windows extensions: ESC ( I, SO and SI,
// and 8-bit half-width katakana.
static void DecodeIso2022Jp(Decoder *decoder, unsigned char byte, WideText *out)
{
    if (decoder->escape) {
        decoder->held[decoder->heldCount++] = byte;
        int found = ReadJisEscape(decoder);
        if (found == 0)
            return;
        decoder->escape = 0;
        decoder->heldCount = 0;
        if (found == 1)
            return;
        // Not an escape sequence: ESC shows as '?', and the byte that
        // broke it is read again on its own.
        PutCharacter(out, '?');
        DecodeIso2022Jp(decoder, byte, out);
        return;
    }
    int kana = decoder->shiftOut || decoder->mode == JIS_KANA;
    int pairs = decoder->mode == JIS_KANJI || decoder->mode == JIS_SUPPLEMENT;
    if (decoder->heldCount > 0 && !(pairs && !kana && byte >= 0x21 && byte <= 0x7E)) {
        decoder->heldCount = 0;
        PutCharacter(out, '?');
    }
    if (byte == 0x1B) {
        decoder->escape = 1;
    } else if (byte == 0x0E || byte == 0x0F) {
        decoder->shiftOut = byte == 0x0E;
    } else if (byte == '\r' || byte == '\n') {
        // Every line ends in ASCII.
        decoder->mode = JIS_ASCII;
        decoder->shiftOut = 0;
        PutCharacter(out, byte);
    } else if (byte >= 0x80) {
        if (byte >= 0xA1 && byte <= 0xDF)
            PutHalfWidthKana(byte, out);
        else
            PutCharacter(out, '?');
    } else if (byte <= 0x20) {
        PutCharacter(out, byte);
    } else if (kana) {
        if (byte <= 0x5F)
            PutHalfWidthKana(byte + 0x80u, out);
        else
            PutCharacter(out, '?');
    } else if (pairs) {
        if (byte == 0x7F) {
            PutCharacter(out, '?');
        } else if (decoder->heldCount == 0) {
            decoder->held[decoder->heldCount++] = byte;
        } else {
            decoder->heldCount = 0;
            if (decoder->mode == JIS_KANJI)
                PutJisPair(decoder->held[0], byte, out);
            else
                PutCharacter(out, '?');
        }
    } else {
        PutCharacter(out, byte);
    }
}

// Decodes one more byte, putting any finished character into out.
void DecodeByte(Decoder *decoder, unsigned char byte, WideText *out)
{
    switch (decoder->charset) {
    case CHARSET_UTF8:
        DecodeUtf8(decoder, byte, out);
        break;
    case CHARSET_CP932:
        DecodeCp932(decoder, byte, out);
        break;
    case CHARSET_EUCJP:
        DecodeEucJp(decoder, byte, out);
        break;
    case CHARSET_ISO2022JP:
        DecodeIso2022Jp(decoder, byte, out);
        break;
    default:
        DecodeSingleByte(decoder, byte, out);
        break;
    }
}

// Ends the run: an unfinished character or escape sequence shows as '?'.
void EndDecoder(Decoder *decoder, WideText *out)
{
    if (InsideCharacter(decoder))
        PutCharacter(out, '?');
    StartDecoder(decoder, decoder->charset);
}
