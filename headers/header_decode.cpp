// The sender and subject of a message, decoded from its raw header bytes:
// folded lines, RFC 2047 encoded-words and raw 8-bit text, into UTF-16.
#include "headers/header_decode.h"

#include <string.h>

#include "headers/charsets.h"
#include "headers/wide_text.h"

// Longest charset name an encoded-word may carry before it is taken as text.
#define CHARSET_NAME_LIMIT 64

// Where one encoded-word's parts lie, as offsets from its "=?".
struct EncodedWord {
    Charset charset;
    int base64;        // B, else Q
    size_t textStart;  // the encoded text
    size_t textLength;
    size_t length;     // through the closing "?="
};

// Whether the byte is space, tab or a line end.
static int IsBlank(unsigned char byte)
{
    return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n';
}

// Reads "=?charset?B|Q?text?=" at the start of p (which begins "=?"); 0 when
// the bytes are no encoded-word. Each token stops at the next '?' or
// blank, so scanning from every "=?" of a line stays linear.
static int ReadEncodedWord(const char *p, size_t length, EncodedWord *word)
{
    size_t i = 2;
    while (i < length && p[i] != '?') {
        if ((unsigned char)p[i] <= 0x20 || (unsigned char)p[i] >= 0x7F || i - 2 >= CHARSET_NAME_LIMIT)
            return 0;
        i++;
    }
    if (i == 2 || length - i < 5)
        return 0;
    char encoding = p[i + 1];
    if (p[i + 2] != '?' || !(encoding == 'B' || encoding == 'b' || encoding == 'Q' || encoding == 'q'))
        return 0;
    size_t nameLength = i - 2;
    word->base64 = encoding == 'B' || encoding == 'b';
    word->textStart = i + 3;
    i = word->textStart;
    while (i < length && p[i] != '?') {
        if ((unsigned char)p[i] <= 0x20 || (unsigned char)p[i] >= 0x7F)
            return 0;
        i++;
    }
    if (length - i < 2 || p[i + 1] != '=')
        return 0;
    word->textLength = i - word->textStart;
    word->length = i + 2;
    word->charset = FindCharset(p + 2, nameLength);
    return 1;
}

// Whether base64 text holds only its alphabet, then only padding.
static int IsBase64(const char *text, size_t length)
{
    size_t i = 0;
    while (i < length && Base64Digit(text[i]) >= 0)
        i++;
    while (i < length && text[i] == '=')
        i++;
    return i == length;
}

// The value of a hexadecimal digit, or -1.
static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Feeds the bytes an encoded-word's text stands for to the decoder.
static void DecodeWordText(const char *text, const EncodedWord *word, Decoder *decoder, WideText *out)
{
    size_t length = word->textLength;
    if (word->base64) {
        unsigned bits = 0;
        int count = 0;
        for (size_t i = 0; i < length && text[i] != '=' && !out->full; i++) {
            bits = (bits << 6) | (unsigned)Base64Digit(text[i]);
            count += 6;
            if (count >= 8) {
                count -= 8;
                DecodeByte(decoder, (unsigned char)(bits >> count), out);
                bits &= (1u << count) - 1;
            }
        }
        return;
    }
    for (size_t i = 0; i < length && !out->full; i++) {
        if (text[i] == '_') {
            DecodeByte(decoder, ' ', out);
        } else if (text[i] == '=' && length - i > 2 && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            DecodeByte(decoder, (unsigned char)(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])), out);
            i += 2;
        } else {
            DecodeByte(decoder, (unsigned char)text[i], out);
        }
    }
}

// The character set of a value's raw bytes: escape sequences mean
// ISO-2022-JP sent unencoded; other 8-bit text is UTF-8 when it is valid
// UTF-8, else code page 932.
static Charset RawCharset(const char *value, size_t length)
{
    if (length > 0 && memchr(value, 0x1B, length) != NULL)
        return CHARSET_ISO2022JP;
    return IsValidUtf8(value, length) ? CHARSET_UTF8 : CHARSET_CP932;
}

// Whether the bytes between two encoded-words are only whitespace (and, in
// a display name, the quotes around them), which is dropped.
static int IsGap(const char *p, size_t length, int phrase)
{
    for (size_t i = 0; i < length; i++) {
        if (!IsBlank((unsigned char)p[i]) && !(phrase && p[i] == '"'))
            return 0;
    }
    return 1;
}

// Decodes plain text in the value's raw character set; in a display name
// the quotes go and a backslash gives the byte after it.
static void DecodePlain(const char *p, size_t length, int phrase, Decoder *decoder, WideText *out)
{
    for (size_t i = 0; i < length && !out->full; i++) {
        if (phrase && !InsideCharacterRun(decoder)) {
            if (p[i] == '"')
                continue;
            if (p[i] == '\\' && length - i > 1)
                i++;
        }
        DecodeByte(decoder, (unsigned char)p[i], out);
    }
    EndDecoder(decoder, out);
}

// Decodes a header value into out: encoded-words, with adjacent words of
// one character set joined before their bytes are decoded, and the raw
// text around them.
static void DecodeValue(const char *value, size_t length, int phrase, WideText *out)
{
    Decoder plain;
    StartDecoder(&plain, RawCharset(value, length));
    Decoder word;
    int inWords = 0;  // word holds the run of encoded-words just read
    size_t runStart = 0;
    size_t at = 0;
    while (at + 1 < length && !out->full) {
        EncodedWord found;
        if (value[at] != '=' || value[at + 1] != '?' || !ReadEncodedWord(value + at, length - at, &found)) {
            at++;
            continue;
        }
        const char *text = value + at + found.textStart;
        int readable = !found.base64 || IsBase64(text, found.textLength);
        if (!(inWords && readable && IsGap(value + runStart, at - runStart, phrase))) {
            if (inWords)
                EndDecoder(&word, out);
            inWords = 0;
            DecodePlain(value + runStart, at - runStart, phrase, &plain, out);
        }
        if (!readable) {
            // Shown as it stands, and the text goes on after it.
            DecodePlain(value + at, found.length, 0, &plain, out);
        } else {
            if (!inWords || word.charset != found.charset) {
                if (inWords)
                    EndDecoder(&word, out);
                StartDecoder(&word, found.charset);
            }
            inWords = 1;
            DecodeWordText(text, &found, &word, out);
        }
        at += found.length;
        runStart = at;
    }
    if (inWords)
        EndDecoder(&word, out);
    if (runStart < length && !(inWords && IsGap(value + runStart, length - runStart, phrase)))
        DecodePlain(value + runStart, length - runStart, phrase, &plain, out);
}

// One unstructured header value decoded to UTF-16.
int DecodeHeaderText(const char *value, size_t length, WCHAR *text, int capacity)
{
    WideText out;
    StartText(&out, text, capacity);
    DecodeValue(value, length, 0, &out);
    return FinishText(&out);
}

// Finds the value of the first field of that name (lower case) in the
// header: the bytes after its colon through its folded lines. 0 when none.
static int FindField(const char *header, size_t length, const char *name, const char **value,
                     size_t *valueLength)
{
    size_t nameLength = strlen(name);
    size_t at = 0;
    while (at < length) {
        const char *line = header + at;
        const char *lineFeed = (const char *)memchr(line, '\n', length - at);
        size_t lineEnd = lineFeed != NULL ? (size_t)(lineFeed - header) : length;
        size_t lineLength = lineEnd - at;
        if (lineLength == 0 || (lineLength == 1 && line[0] == '\r'))
            return 0;  // the blank line that ends the header
        at = lineEnd + 1;
        size_t i = 0;
        while (i < nameLength && i < lineLength && (line[i] | 0x20) == name[i])
            i++;
        if (i < nameLength)
            continue;
        while (i < lineLength && (line[i] == ' ' || line[i] == '\t'))
            i++;
        if (i == lineLength || line[i] != ':')
            continue;
        // The folded lines that follow begin with a space or a tab.
        size_t end = lineEnd;
        while (end + 1 < length && (header[end + 1] == ' ' || header[end + 1] == '\t')) {
            lineFeed = (const char *)memchr(header + end + 1, '\n', length - end - 1);
            end = lineFeed != NULL ? (size_t)(lineFeed - header) : length;
        }
        *value = line + i + 1;
        *valueLength = (size_t)(header + end - *value);
        return 1;
    }
    return 0;
}

// Decodes the sender of a From value: the display name of its first
// address, or that address when it has no name.
static void DecodeSender(const char *value, size_t length, WideText *out, WCHAR *text, int capacity)
{
    // Raw Shift_JIS may hold quote, backslash or bracket bytes as second
    // bytes of its characters, and raw ISO-2022-JP holds nothing but such
    // bytes between its escapes: the syntax is looked for only where a
    // decoder of the raw text stands between characters.
    Decoder raw;
    StartDecoder(&raw, RawCharset(value, length));
    WideText nowhere;
    StartText(&nowhere, NULL, 0);
    size_t end = length, angle = length, commentStart = length, commentEnd = length;
    int quoted = 0, depth = 0, escaped = 0;
    for (size_t i = 0; i < length; i++) {
        char c = value[i];
        int inside = InsideCharacterRun(&raw);
        DecodeByte(&raw, (unsigned char)c, &nowhere);
        if (escaped) {
            escaped = 0;
        } else if (inside || (unsigned char)c >= 0x80 || InsideCharacterRun(&raw)) {
            continue;
        } else if (quoted) {
            if (c == '\\')
                escaped = 1;
            else if (c == '"')
                quoted = 0;
        } else if (depth > 0) {
            if (c == '\\')
                escaped = 1;
            else if (c == '(')
                depth++;
            else if (c == ')' && --depth == 0 && commentEnd == length)
                commentEnd = i;
        } else if (c == '"') {
            quoted = 1;
        } else if (c == '(') {
            depth = 1;
            if (commentStart == length)
                commentStart = i + 1;
        } else if (c == '<' || c == ',') {
            if (c == '<')
                angle = i;
            end = i;
            break;
        }
    }
    if (angle < length) {
        DecodeValue(value, angle, 1, out);
        if (out->length > 0)
            return;
        const char *close = (const char *)memchr(value + angle, '>', length - angle);
        size_t addressEnd = close != NULL ? (size_t)(close - value) : length;
        StartText(out, text, capacity);
        DecodeValue(value + angle + 1, addressEnd - angle - 1, 0, out);
        return;
    }
    // "address (Name)": the comment is the name.
    if (commentStart < end) {
        size_t nameEnd = commentEnd < end ? commentEnd : end;
        DecodeValue(value + commentStart, nameEnd - commentStart, 1, out);
        if (out->length > 0)
            return;
        StartText(out, text, capacity);
        end = commentStart - 1;
    }
    DecodeValue(value, end, 0, out);
}

// The decoded sender and subject of one message's header.
int DecodeMailSummary(const char *header, size_t length, WCHAR *sender, int senderCapacity,
                      WCHAR *subject, int subjectCapacity)
{
    const char *value;
    size_t valueLength;
    WideText out;
    StartText(&out, sender, senderCapacity);
    if (FindField(header, length, "from", &value, &valueLength))
        DecodeSender(value, valueLength, &out, sender, senderCapacity);
    FinishText(&out);
    StartText(&out, subject, subjectCapacity);
    if (FindField(header, length, "subject", &value, &valueLength))
        DecodeValue(value, valueLength, 0, &out);
    FinishText(&out);
    return 1;
}
