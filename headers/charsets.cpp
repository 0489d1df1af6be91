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

// Every IANA and WHATWG label of the sets decoded, and the names senders
// use beside them: lower case, without the '-' and '_' that senders place
// as they please ("ISO_8859-1", "iso-8859-1" and "ISO88591" are one).
static const CharsetName charsetNames[] = {
    {"usascii", CHARSET_ASCII}, {"ascii", CHARSET_ASCII}, {"us", CHARSET_ASCII}, {"ansix3.41968", CHARSET_ASCII},
    {"ansix3.41986", CHARSET_ASCII}, {"iso646us", CHARSET_ASCII}, {"iso646irv:1991", CHARSET_ASCII},
    {"csascii", CHARSET_ASCII}, {"isoir6", CHARSET_ASCII}, {"cp367", CHARSET_ASCII}, {"ibm367", CHARSET_ASCII},
    {"iso88591", CHARSET_LATIN1}, {"iso88591:1987", CHARSET_LATIN1}, {"latin1", CHARSET_LATIN1},
    {"l1", CHARSET_LATIN1}, {"cp819", CHARSET_LATIN1}, {"ibm819", CHARSET_LATIN1}, {"csisolatin1", CHARSET_LATIN1},
    {"isoir100", CHARSET_LATIN1},
    {"iso885915", CHARSET_LATIN9}, {"latin9", CHARSET_LATIN9}, {"l9", CHARSET_LATIN9},
    {"csisolatin9", CHARSET_LATIN9}, {"csiso885915", CHARSET_LATIN9},
    {"windows1252", CHARSET_WINDOWS1252}, {"cp1252", CHARSET_WINDOWS1252}, {"xcp1252", CHARSET_WINDOWS1252},
    {"cswindows1252", CHARSET_WINDOWS1252},
    {"utf8", CHARSET_UTF8}, {"unicode11utf8", CHARSET_UTF8}, {"unicode20utf8", CHARSET_UTF8},
    {"xunicode20utf8", CHARSET_UTF8}, {"csutf8", CHARSET_UTF8},
    {"utf7", CHARSET_UTF7}, {"csutf7", CHARSET_UTF7}, {"unicode11utf7", CHARSET_UTF7},
    {"xunicode20utf7", CHARSET_UTF7},
    {"utf16", CHARSET_UTF16}, {"csutf16", CHARSET_UTF16}, {"ucs2", CHARSET_UTF16}, {"csunicode", CHARSET_UTF16},
    {"iso10646ucs2", CHARSET_UTF16},
    {"utf16be", CHARSET_UTF16BE}, {"csutf16be", CHARSET_UTF16BE}, {"unicodefffe", CHARSET_UTF16BE},
    {"utf16le", CHARSET_UTF16LE}, {"csutf16le", CHARSET_UTF16LE}, {"unicode", CHARSET_UTF16LE},
    {"unicodefeff", CHARSET_UTF16LE},
    {"utf32", CHARSET_UTF32}, {"csutf32", CHARSET_UTF32}, {"ucs4", CHARSET_UTF32}, {"iso10646ucs4", CHARSET_UTF32},
    {"csucs4", CHARSET_UTF32},
    {"utf32be", CHARSET_UTF32BE}, {"csutf32be", CHARSET_UTF32BE},
    {"utf32le", CHARSET_UTF32LE}, {"csutf32le", CHARSET_UTF32LE},
    {"shiftjis", CHARSET_CP932}, {"sjis", CHARSET_CP932}, {"xsjis", CHARSET_CP932}, {"mskanji", CHARSET_CP932},
    {"csshiftjis", CHARSET_CP932}, {"cp932", CHARSET_CP932}, {"ms932", CHARSET_CP932},
    {"windows932", CHARSET_CP932}, {"windows31j", CHARSET_CP932}, {"cswindows31j", CHARSET_CP932},
    {"xmscp932", CHARSET_CP932}, {"shiftjis2004", CHARSET_CP932}, {"shiftjisx0213", CHARSET_CP932},
    {"eucjp", CHARSET_EUCJP}, {"xeucjp", CHARSET_EUCJP}, {"ujis", CHARSET_EUCJP}, {"eucjpms", CHARSET_EUCJP},
    {"eucjpwin", CHARSET_EUCJP}, {"cp51932", CHARSET_EUCJP}, {"eucjis2004", CHARSET_EUCJP},
    {"eucjisx0213", CHARSET_EUCJP}, {"cseucpkdfmtjapanese", CHARSET_EUCJP},
    {"iso2022jp", CHARSET_ISO2022JP}, {"csiso2022jp", CHARSET_ISO2022JP}, {"iso2022jp1", CHARSET_ISO2022JP},
    {"iso2022jp2", CHARSET_ISO2022JP}, {"csiso2022jp2", CHARSET_ISO2022JP}, {"iso2022jp3", CHARSET_ISO2022JP},
    {"iso2022jpms", CHARSET_ISO2022JP}, {"iso2022jp2004", CHARSET_ISO2022JP}, {"cp50220", CHARSET_ISO2022JP},
    {"cp50221", CHARSET_ISO2022JP}, {"cp50222", CHARSET_ISO2022JP}, {"jis", CHARSET_ISO2022JP},
    {"gbk", CHARSET_GBK}, {"xgbk", CHARSET_GBK}, {"csgbk", CHARSET_GBK}, {"cp936", CHARSET_GBK},
    {"ms936", CHARSET_GBK}, {"windows936", CHARSET_GBK}, {"gb2312", CHARSET_GBK}, {"csgb2312", CHARSET_GBK},
    {"gb231280", CHARSET_GBK}, {"csiso58gb231280", CHARSET_GBK}, {"isoir58", CHARSET_GBK},
    {"chinese", CHARSET_GBK}, {"euccn", CHARSET_GBK}, {"xeuccn", CHARSET_GBK},
    {"gb18030", CHARSET_GB18030}, {"csgb18030", CHARSET_GB18030},
    {"big5", CHARSET_BIG5}, {"csbig5", CHARSET_BIG5}, {"cnbig5", CHARSET_BIG5}, {"xxbig5", CHARSET_BIG5},
    {"big5hkscs", CHARSET_BIG5}, {"csbig5hkscs", CHARSET_BIG5}, {"cp950", CHARSET_BIG5}, {"ms950", CHARSET_BIG5},
    {"windows950", CHARSET_BIG5},
    {"euckr", CHARSET_EUCKR}, {"cseuckr", CHARSET_EUCKR}, {"xeuckr", CHARSET_EUCKR},
    {"ksc56011987", CHARSET_EUCKR}, {"ksc56011989", CHARSET_EUCKR}, {"ksc5601", CHARSET_EUCKR},
    {"csksc56011987", CHARSET_EUCKR}, {"isoir149", CHARSET_EUCKR}, {"korean", CHARSET_EUCKR},
    {"windows949", CHARSET_EUCKR}, {"xwindows949", CHARSET_EUCKR}, {"cp949", CHARSET_EUCKR},
    {"ms949", CHARSET_EUCKR}, {"uhc", CHARSET_EUCKR},
    {"koi8r", CHARSET_KOI8R}, {"cskoi8r", CHARSET_KOI8R}, {"koi", CHARSET_KOI8R}, {"koi8", CHARSET_KOI8R},
    {"koi8u", CHARSET_KOI8U}, {"koi8ru", CHARSET_KOI8U}, {"cskoi8u", CHARSET_KOI8U},
    {"windows1250", CHARSET_WINDOWS1250}, {"cp1250", CHARSET_WINDOWS1250}, {"xcp1250", CHARSET_WINDOWS1250},
    {"cswindows1250", CHARSET_WINDOWS1250},
    {"windows1251", CHARSET_WINDOWS1251}, {"cp1251", CHARSET_WINDOWS1251}, {"xcp1251", CHARSET_WINDOWS1251},
    {"cswindows1251", CHARSET_WINDOWS1251},
    {"windows1253", CHARSET_WINDOWS1253}, {"cp1253", CHARSET_WINDOWS1253}, {"xcp1253", CHARSET_WINDOWS1253},
    {"cswindows1253", CHARSET_WINDOWS1253},
    // ISO-8859-9 is read as Windows-1254, as ISO-8859-1 is as Windows-1252.
    {"windows1254", CHARSET_WINDOWS1254}, {"cp1254", CHARSET_WINDOWS1254}, {"xcp1254", CHARSET_WINDOWS1254},
    {"cswindows1254", CHARSET_WINDOWS1254}, {"iso88599", CHARSET_WINDOWS1254},
    {"iso88599:1989", CHARSET_WINDOWS1254}, {"latin5", CHARSET_WINDOWS1254}, {"l5", CHARSET_WINDOWS1254},
    {"csisolatin5", CHARSET_WINDOWS1254}, {"isoir148", CHARSET_WINDOWS1254},
    {"windows1255", CHARSET_WINDOWS1255}, {"cp1255", CHARSET_WINDOWS1255}, {"xcp1255", CHARSET_WINDOWS1255},
    {"cswindows1255", CHARSET_WINDOWS1255},
    {"windows1256", CHARSET_WINDOWS1256}, {"cp1256", CHARSET_WINDOWS1256}, {"xcp1256", CHARSET_WINDOWS1256},
    {"cswindows1256", CHARSET_WINDOWS1256},
    {"windows1257", CHARSET_WINDOWS1257}, {"cp1257", CHARSET_WINDOWS1257}, {"xcp1257", CHARSET_WINDOWS1257},
    {"cswindows1257", CHARSET_WINDOWS1257},
    {"windows1258", CHARSET_WINDOWS1258}, {"cp1258", CHARSET_WINDOWS1258}, {"xcp1258", CHARSET_WINDOWS1258},
    {"cswindows1258", CHARSET_WINDOWS1258},
    {"iso88592", CHARSET_ISO8859_2}, {"iso88592:1987", CHARSET_ISO8859_2}, {"latin2", CHARSET_ISO8859_2},
    {"l2", CHARSET_ISO8859_2}, {"csisolatin2", CHARSET_ISO8859_2}, {"isoir101", CHARSET_ISO8859_2},
    {"iso88593", CHARSET_ISO8859_3}, {"iso88593:1988", CHARSET_ISO8859_3}, {"latin3", CHARSET_ISO8859_3},
    {"l3", CHARSET_ISO8859_3}, {"csisolatin3", CHARSET_ISO8859_3}, {"isoir109", CHARSET_ISO8859_3},
    {"iso88594", CHARSET_ISO8859_4}, {"iso88594:1988", CHARSET_ISO8859_4}, {"latin4", CHARSET_ISO8859_4},
    {"l4", CHARSET_ISO8859_4}, {"csisolatin4", CHARSET_ISO8859_4}, {"isoir110", CHARSET_ISO8859_4},
    {"iso88595", CHARSET_ISO8859_5}, {"iso88595:1988", CHARSET_ISO8859_5}, {"cyrillic", CHARSET_ISO8859_5},
    {"csisolatincyrillic", CHARSET_ISO8859_5}, {"isoir144", CHARSET_ISO8859_5},
    {"iso88596", CHARSET_ISO8859_6}, {"iso88596:1987", CHARSET_ISO8859_6}, {"iso88596e", CHARSET_ISO8859_6},
    {"iso88596i", CHARSET_ISO8859_6}, {"csiso88596e", CHARSET_ISO8859_6}, {"csiso88596i", CHARSET_ISO8859_6},
    {"arabic", CHARSET_ISO8859_6}, {"asmo708", CHARSET_ISO8859_6}, {"csisolatinarabic", CHARSET_ISO8859_6},
    {"ecma114", CHARSET_ISO8859_6}, {"isoir127", CHARSET_ISO8859_6},
    {"iso88597", CHARSET_ISO8859_7}, {"iso88597:1987", CHARSET_ISO8859_7}, {"greek", CHARSET_ISO8859_7},
    {"greek8", CHARSET_ISO8859_7}, {"csisolatingreek", CHARSET_ISO8859_7}, {"ecma118", CHARSET_ISO8859_7},
    {"elot928", CHARSET_ISO8859_7}, {"isoir126", CHARSET_ISO8859_7}, {"suneugreek", CHARSET_ISO8859_7},
    {"iso88598", CHARSET_ISO8859_8}, {"iso88598:1988", CHARSET_ISO8859_8}, {"iso88598e", CHARSET_ISO8859_8},
    {"iso88598i", CHARSET_ISO8859_8}, {"csiso88598e", CHARSET_ISO8859_8}, {"csiso88598i", CHARSET_ISO8859_8},
    {"hebrew", CHARSET_ISO8859_8}, {"csisolatinhebrew", CHARSET_ISO8859_8}, {"isoir138", CHARSET_ISO8859_8},
    {"visual", CHARSET_ISO8859_8}, {"logical", CHARSET_ISO8859_8},
    {"iso885913", CHARSET_ISO8859_13}, {"csiso885913", CHARSET_ISO8859_13},
};

// Windows-1252's characters for bytes 0x80 to 0x9F; 0 where it has none.
static const unsigned short windows1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

// The character set a name stands for: letters in either case, '-' and
// '_' anywhere, a "*language" suffix ignored.
Charset FindCharset(const char *name, size_t length)
{
    const char *star = (const char *)memchr(name, '*', length);
    if (star != NULL)
        length = (size_t)(star - name);
    for (const CharsetName &known : charsetNames) {
        const char *k = known.name;
        size_t i = 0;
        for (; i < length; i++) {
            char c = name[i];
            if (c == '-' || c == '_')
                continue;
            if (c >= 'A' && c <= 'Z')
                c = (char)(c - 'A' + 'a');
            if (c != *k)
                break;
            k++;
        }
        if (i == length && *k == 0)
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
    decoder->littleEndian = charset == CHARSET_UTF16LE || charset == CHARSET_UTF32LE;
    decoder->orderKnown = charset != CHARSET_UTF16 && charset != CHARSET_UTF32;
}

// Whether the last byte left a character or escape sequence unfinished.
int InsideCharacter(const Decoder *decoder)
{
    return decoder->heldCount > 0 || decoder->escape || decoder->highSurrogate != 0;
}

// Whether the next byte belongs to the text rather than to its syntax.
int InsideCharacterRun(const Decoder *decoder)
{
    if (InsideCharacter(decoder))
        return 1;
    return decoder->charset == CHARSET_ISO2022JP && (decoder->mode != JIS_ASCII || decoder->shiftOut);
}

// The value of one base64 character, or -1.
int Base64Digit(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
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

// Puts the character that count bytes stand for in a Windows code page, or
// '?' where the code page has none, or this machine lacks the code page.
static void PutCodePageBytes(unsigned codePage, const unsigned char *bytes, int count, WideText *out)
{
    if (out->full)
        return;  // no conversion for text that can no longer show
    WCHAR units[2];
    int got = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, (const char *)bytes, count, units, 2);
    if (got == 1)
        PutCharacter(out, units[0]);
    else if (got == 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 && units[1] <= 0xDFFF)
        PutCharacter(out, 0x10000 + ((units[0] - 0xD800u) << 10) + (units[1] - 0xDC00u));
    else
        PutCharacter(out, '?');
}

// One byte of a single-byte Windows code page.
static void DecodeCodePageByte(Decoder *decoder, unsigned char byte, WideText *out)
{
    if (byte < 0x80)
        PutCharacter(out, byte);
    else
        PutCodePageBytes((unsigned)decoder->charset, &byte, 1, out);
}

// One byte of GBK, Big5 or Korean (Unified Hangul Code): a lead byte 0x81
// to 0xFE and the byte after it make one character; the code page judges
// the pair.
static void DecodeDoubleByte(Decoder *decoder, unsigned char byte, WideText *out)
{
    if (decoder->heldCount > 0) {
        decoder->heldCount = 0;
        if (byte >= 0x40 && byte != 0x7F && byte != 0xFF) {
            unsigned char pair[2] = {decoder->held[0], byte};
            PutCodePageBytes((unsigned)decoder->charset, pair, 2, out);
            return;
        }
        PutCharacter(out, '?');
    }
    if (byte < 0x80)
        PutCharacter(out, byte);
    else if (byte <= 0xFE && byte != 0x80)
        decoder->held[decoder->heldCount++] = byte;
    else
        PutCodePageBytes((unsigned)decoder->charset, &byte, 1, out);  // GBK's 0x80 is the euro sign
}

// One byte of GB18030: one byte, a pair, or four bytes whose second and
// fourth are digits. A sequence that breaks shows as '?', and the byte that
// broke it is read again on its own.
static void DecodeGb18030(Decoder *decoder, unsigned char byte, WideText *out)
{
    int n = decoder->heldCount;
    int digit = byte >= 0x30 && byte <= 0x39;
    if (n == 0) {
        if (byte < 0x80)
            PutCharacter(out, byte);
        else if (byte >= 0x81 && byte <= 0xFE)
            decoder->held[decoder->heldCount++] = byte;
        else
            PutCharacter(out, '?');
        return;
    }
    if ((n == 1 && digit) || (n == 2 && byte >= 0x81 && byte <= 0xFE)) {
        decoder->held[decoder->heldCount++] = byte;
        return;
    }
    decoder->heldCount = 0;
    if ((n == 1 && byte >= 0x40 && byte <= 0xFE && byte != 0x7F) || (n == 3 && digit)) {
        unsigned char bytes[4] = {decoder->held[0], decoder->held[1], decoder->held[2], byte};
        if (n == 1)
            bytes[1] = byte;
        PutCodePageBytes((unsigned)decoder->charset, bytes, n + 1, out);
        return;
    }
    PutCharacter(out, '?');
    DecodeGb18030(decoder, byte, out);
}

// Puts one UTF-16 code unit: a high surrogate waits for its low half, a
// half without its partner shows as '?', and a byte-order mark inside the
// text is dropped.
static void PutUtf16Unit(Decoder *decoder, unsigned unit, WideText *out)
{
    if (decoder->highSurrogate != 0) {
        unsigned high = decoder->highSurrogate;
        decoder->highSurrogate = 0;
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            PutCharacter(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
            return;
        }
        PutCharacter(out, '?');
    }
    if (unit >= 0xD800 && unit <= 0xDBFF)
        decoder->highSurrogate = unit;
    else if (unit != 0xFEFF)
        PutCharacter(out, unit);
}

// One byte of UTF-16 or UTF-32. Where the label leaves the order open, a
// byte-order mark at the start decides, and without one it is big-endian.
static void DecodeUtfWide(Decoder *decoder, unsigned char byte, WideText *out, int width)
{
    if (decoder->heldCount < width - 1) {
        decoder->held[decoder->heldCount++] = byte;
        return;
    }
    unsigned char b[4] = {decoder->held[0], decoder->held[1], decoder->held[2], byte};
    b[width - 1] = byte;
    decoder->heldCount = 0;
    unsigned value = 0;
    for (int i = 0; i < width; i++)
        value = decoder->littleEndian ? value | (unsigned)b[i] << (8 * i) : value << 8 | b[i];
    if (!decoder->orderKnown) {
        decoder->orderKnown = 1;
        unsigned swapped = width == 2 ? 0xFFFE : 0xFFFE0000u;
        if (value == 0xFEFF)
            return;
        if (value == swapped) {
            decoder->littleEndian = 1;
            return;
        }
    }
    if (width == 2)
        PutUtf16Unit(decoder, value, out);
    else if (value != 0xFEFF)
        PutCharacter(out, value);
}

// One byte of UTF-7: ASCII as it stands, and "+" runs of base64 that carry
// UTF-16 units; "+-" is a plus sign.
static void DecodeUtf7(Decoder *decoder, unsigned char byte, WideText *out)
{
    if (decoder->shifted) {
        int value = Base64Digit((char)byte);
        if (value >= 0) {
            decoder->shifted = 1;
            decoder->bits = (decoder->bits << 6 | (unsigned)value) & 0x3FFFFF;
            decoder->bitCount += 6;
            if (decoder->bitCount >= 16) {
                decoder->bitCount -= 16;
                PutUtf16Unit(decoder, (decoder->bits >> decoder->bitCount) & 0xFFFF, out);
            }
            return;
        }
        int plusSign = decoder->shifted == 2;
        decoder->shifted = 0;
        decoder->bits = 0;
        decoder->bitCount = 0;
        if (decoder->highSurrogate != 0) {
            decoder->highSurrogate = 0;
            PutCharacter(out, '?');
        }
        if (byte == '-') {
            if (plusSign)
                PutCharacter(out, '+');
            return;
        }
    } else if (byte == '+') {
        decoder->shifted = 2;
        return;
    }
    PutCharacter(out, byte < 0x80 ? byte : '?');
}

// Decodes one more byte, putting any finished character into out.
void DecodeByte(Decoder *decoder, unsigned char byte, WideText *out)
{
    switch (decoder->charset) {
    case CHARSET_UTF7:
        DecodeUtf7(decoder, byte, out);
        break;
    case CHARSET_UTF16:
    case CHARSET_UTF16BE:
    case CHARSET_UTF16LE:
        DecodeUtfWide(decoder, byte, out, 2);
        break;
    case CHARSET_UTF32:
    case CHARSET_UTF32BE:
    case CHARSET_UTF32LE:
        DecodeUtfWide(decoder, byte, out, 4);
        break;
    case CHARSET_GBK:
    case CHARSET_BIG5:
    case CHARSET_EUCKR:
        DecodeDoubleByte(decoder, byte, out);
        break;
    case CHARSET_GB18030:
        DecodeGb18030(decoder, byte, out);
        break;
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
        if (decoder->charset >= CHARSET_FIRST_CODE_PAGE)
            DecodeCodePageByte(decoder, byte, out);
        else
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
