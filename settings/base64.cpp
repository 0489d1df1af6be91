// Base64 codec through which the password is stored in the INI file.
#include "settings/base64.h"

#include <windows.h>
#include <string.h>

#include "settings/text.h"

static const char base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

#define DECODE_TABLE_ENTRIES 130

// Writes the standard padded Base64 text of the length bytes at src, and a
// NUL, into dest.
void EncodeBase64Bytes(const char *src, size_t length, char *dest)
{
    const unsigned char *in = (const unsigned char *)src;
    char *out = dest;

    for (; length >= 3; in += 3, length -= 3) {
        *out++ = base64Alphabet[in[0] >> 2];
        *out++ = base64Alphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
        *out++ = base64Alphabet[((in[1] & 15) << 2) | (in[2] >> 6)];
        *out++ = base64Alphabet[in[2] & 63];
    }
    if (length > 0) {
        unsigned b1 = length > 1 ? in[1] : 0;
        *out++ = base64Alphabet[in[0] >> 2];
        *out++ = base64Alphabet[((in[0] & 3) << 4) | (b1 >> 4)];
        *out++ = length > 1 ? base64Alphabet[(b1 & 15) << 2] : '=';
        *out++ = '=';
    }
    *out = 0;
}

// Writes the standard padded Base64 text of src into dest.
void EncodeBase64(const char *src, char *dest)
{
    EncodeBase64Bytes(src, strlen(src), dest);
}

// Value of one stored character: codes 1 to 127 through the table, all
// others (bytes 0x80 and above) as 0 so nothing is read outside it.
static unsigned DecodeValue(const int *table, unsigned char c)
{
    return (c >= 1 && c <= 127) ? (unsigned)table[c] : 0;
}

// Steps over a run of CR and LF after a character has been taken.
static const unsigned char *SkipLineBreaks(const unsigned char *p)
{
    while (*p == '\r' || *p == '\n')
        p++;
    return p;
}

// Appends one decoded byte while there is room before the NUL.
static void EmitByte(char *dest, size_t limit, size_t *count, unsigned value)
{
    if (*count < limit)
        dest[(*count)++] = (char)(value & 0xFF);
}

// Decodes stored Base64 text into dest, at most capacity bytes with the NUL.
void DecodeBase64(const char *src, char *dest, size_t capacity)
{
    if (capacity == 0)
        return;
    if (src[0] == 0) {
        dest[0] = 0;
        return;
    }

    int *table = (int *)LocalAlloc(LPTR, DECODE_TABLE_ENTRIES * sizeof(int));
    if (table == NULL) {
        CopyTextCut(dest, capacity, src);
        return;
    }
    for (int i = 0; i < 26; i++) {
        table['A' + i] = i;
        table['a' + i] = 26 + i;
    }
    for (int i = 0; i < 10; i++)
        table['0' + i] = 52 + i;
    table['+'] = 62;
    table['/'] = 63;

    const unsigned char *p = (const unsigned char *)src;
    size_t limit = capacity - 1;
    size_t count = 0;
    for (;;) {
        if (*p == 0 || *p == '=')
            break;
        unsigned x1 = DecodeValue(table, *p);
        p = SkipLineBreaks(p + 1);

        if (*p == 0 || *p == '=') {
            EmitByte(dest, limit, &count, x1 << 2);
            break;
        }
        unsigned x2 = DecodeValue(table, *p);
        p = SkipLineBreaks(p + 1);
        EmitByte(dest, limit, &count, (x1 << 2) | (x2 >> 4));

        if (*p == 0 || *p == '=') {
            EmitByte(dest, limit, &count, (x2 & 15) << 4);
            break;
        }
        unsigned x3 = DecodeValue(table, *p);
        p = SkipLineBreaks(p + 1);
        EmitByte(dest, limit, &count, ((x2 & 15) << 4) | (x3 >> 2));

        if (*p == 0 || *p == '=') {
            EmitByte(dest, limit, &count, (x3 & 3) << 6);
            break;
        }
        unsigned x4 = DecodeValue(table, *p);
        p = SkipLineBreaks(p + 1);
        EmitByte(dest, limit, &count, ((x3 & 3) << 6) | x4);
    }
    dest[count] = 0;
    LocalFree(table);
}
