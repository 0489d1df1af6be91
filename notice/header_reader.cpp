// The readers behind the headers of the newest messages. Every one of them
// takes bytes from strangers: each step is bounded by the bytes it was given.
#include "notice/header_reader.h"

#include <string.h>

// The number being read is cut short by a word that is no UID list ("(" of
// a MODSEQ); nothing after it counts.
#define SCAN_STOPPED -2

// Starts a scan that keeps UIDs of at least since.
void StartUidScan(UidScan *scan, unsigned int since)
{
    memset(scan, 0, sizeof *scan);
    scan->since = since;
}

// Counts one UID, and keeps it when it is among the highest.
static void TakeUid(UidScan *scan, unsigned long long number)
{
    if (number == 0 || number > 0xFFFFFFFFull || number < scan->since)
        return;
    unsigned int uid = (unsigned int)number;
    for (int i = 0; i < scan->kept; i++)
        if (scan->top[i] == uid)
            return;
    scan->found++;
    int at = scan->kept < SUMMARY_MESSAGES ? scan->kept++ : SUMMARY_MESSAGES;
    while (at > 0 && scan->top[at - 1] < uid) {
        if (at < SUMMARY_MESSAGES)
            scan->top[at] = scan->top[at - 1];
        at--;
    }
    if (at < SUMMARY_MESSAGES)
        scan->top[at] = uid;
}

// Takes the next piece of the numbers after "SEARCH".
void ScanUids(UidScan *scan, const char *bytes, size_t length)
{
    for (size_t i = 0; i < length && scan->digits != SCAN_STOPPED; i++) {
        char c = bytes[i];
        if (c >= '0' && c <= '9') {
            if (scan->digits < 0)
                continue;
            // Eleven digits are past any 32-bit UID already.
            if (scan->digits < 11)
                scan->number = scan->number * 10 + (unsigned)(c - '0');
            scan->digits++;
            continue;
        }
        if (scan->digits > 0)
            TakeUid(scan, scan->number);
        scan->number = 0;
        if (c == '(')
            scan->digits = SCAN_STOPPED;
        else
            scan->digits = (c == ' ' || c == '\r' || c == '\n') ? 0 : -1;
    }
}

// The line has ended.
void EndUidScan(UidScan *scan)
{
    if (scan->digits > 0)
        TakeUid(scan, scan->number);
    scan->digits = SCAN_STOPPED;
    scan->answered = 1;
}

// A place in a FETCH response.
struct FetchCursor {
    const char *at;
    const char *end;
};

// Whether the next bytes are word, ASCII letters in either case; if they
// are, steps over them.
static int TakeWord(FetchCursor *cursor, const char *word)
{
    size_t length = strlen(word);
    if ((size_t)(cursor->end - cursor->at) < length)
        return 0;
    for (size_t i = 0; i < length; i++) {
        char c = cursor->at[i];
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
        if (c != word[i])
            return 0;
    }
    cursor->at += length;
    return 1;
}

// Reads decimal digits as a 32-bit number; 0 when there are none or it is
// larger.
static int TakeNumber(FetchCursor *cursor, unsigned int *value)
{
    unsigned long long number = 0;
    int digits = 0;
    for (; cursor->at < cursor->end && *cursor->at >= '0' && *cursor->at <= '9'; cursor->at++) {
        number = number * 10 + (unsigned)(*cursor->at - '0');
        if (++digits > 10)
            return 0;
    }
    if (digits == 0 || number > 0xFFFFFFFFull)
        return 0;
    *value = (unsigned int)number;
    return 1;
}

// A string: a literal "{n}" CR LF and its n bytes, or a quoted string (its
// escapes left as they are). Returns 0 when neither is there whole.
static int TakeString(FetchCursor *cursor, const char **text, size_t *length)
{
    if (cursor->at < cursor->end && *cursor->at == '{') {
        cursor->at++;
        unsigned int count;
        if (!TakeNumber(cursor, &count))
            return 0;
        if (cursor->at < cursor->end && *cursor->at == '+')
            cursor->at++;
        if (!TakeWord(cursor, "}\r\n") || count > (size_t)(cursor->end - cursor->at))
            return 0;
        *text = cursor->at;
        *length = count;
        cursor->at += count;
        return 1;
    }
    if (cursor->at >= cursor->end || *cursor->at != '"')
        return 0;
    *text = ++cursor->at;
    for (; cursor->at < cursor->end; cursor->at++) {
        if (*cursor->at == '\\' && cursor->at + 1 < cursor->end) {
            cursor->at++;
        } else if (*cursor->at == '"') {
            *length = (size_t)(cursor->at++ - *text);
            return 1;
        }
    }
    return 0;
}

// Steps over one value of an item: a string, an atom or number, or a list
// in parentheses with whatever it holds. Returns 0 at a broken value.
static int SkipValue(FetchCursor *cursor)
{
    int depth = 0;
    do {
        if (cursor->at >= cursor->end)
            return 0;
        char c = *cursor->at;
        const char *text;
        size_t length;
        if (c == '{' || c == '"') {
            if (!TakeString(cursor, &text, &length))
                return 0;
        } else if (c == '(') {
            depth++;
            cursor->at++;
        } else if (c == ')') {
            if (depth == 0)
                return 0;
            depth--;
            cursor->at++;
        } else if (c == ' ') {
            cursor->at++;
        } else if (c == '\r' || c == '\n') {
            return 0;
        } else {
            while (cursor->at < cursor->end && *cursor->at != ' ' && *cursor->at != '(' && *cursor->at != ')' &&
                   *cursor->at != '\r' && *cursor->at != '"' && *cursor->at != '{')
                cursor->at++;
        }
    } while (depth > 0);
    return 1;
}

// Finds the UID and the header section's bytes in a FETCH response.
int ReadFetchedHeader(const char *data, size_t length, unsigned int *uid, const char **header,
                      size_t *headerLength)
{
    FetchCursor cursor = {data, data + length};
    unsigned int number;
    TakeWord(&cursor, "* ");
    if (!TakeNumber(&cursor, &number) || !TakeWord(&cursor, " FETCH ("))
        return 0;
    int haveUid = 0, haveHeader = 0;
    while (cursor.at < cursor.end && *cursor.at != ')') {
        if (*cursor.at == ' ') {
            cursor.at++;
            continue;
        }
        if (TakeWord(&cursor, "UID ")) {
            haveUid = TakeNumber(&cursor, uid);
            if (!haveUid)
                return 0;
            continue;
        }
        // An item's name, with its section in brackets: "BODY[HEADER.FIELDS
        // (FROM SUBJECT)]", perhaps with an origin "<0>".
        int section = 0;
        while (cursor.at < cursor.end && *cursor.at != ' ' && *cursor.at != '[' && *cursor.at != '(' &&
               *cursor.at != ')' && *cursor.at != '\r')
            cursor.at++;
        if (cursor.at < cursor.end && *cursor.at == '[') {
            const char *close = (const char *)memchr(cursor.at, ']', (size_t)(cursor.end - cursor.at));
            if (close == NULL)
                return 0;
            cursor.at = close + 1;
            section = 1;
            if (cursor.at < cursor.end && *cursor.at == '<') {
                const char *angle = (const char *)memchr(cursor.at, '>', (size_t)(cursor.end - cursor.at));
                if (angle == NULL)
                    return 0;
                cursor.at = angle + 1;
            }
        }
        if (!TakeWord(&cursor, " "))
            return 0;
        if (section && cursor.at < cursor.end && (*cursor.at == '{' || *cursor.at == '"')) {
            if (!TakeString(&cursor, header, headerLength))
                return 0;
            haveHeader = 1;
        } else if (!SkipValue(&cursor)) {
            return 0;
        }
    }
    return haveUid && haveHeader;
}

// Starts keeping a new message's header.
void StartHeaderKeep(HeaderKeep *keep)
{
    keep->length = 0;
    keep->keeping = 0;
    keep->headerDone = 0;
}

// Whether the line opens the field name, in either case.
static int OpensField(const char *line, size_t length, const char *name)
{
    FetchCursor cursor = {line, line + length};
    return TakeWord(&cursor, name);
}

// Takes one line of a TOP reply; returns 1 at the "." that ends it.
int KeepTopLine(HeaderKeep *keep, const char *line, size_t length)
{
    if (length > 0 && line[0] == '.') {
        if (length == 1 || line[1] == '\r' || line[1] == '\n')
            return 1;
        line++;
        length--;
    }
    if (keep->headerDone)
        return 0;
    if (length == 0 || line[0] == '\r' || line[0] == '\n') {
        keep->headerDone = 1;
        return 0;
    }
    if (line[0] != ' ' && line[0] != '\t')
        keep->keeping = OpensField(line, length, "FROM:") || OpensField(line, length, "SUBJECT:");
    if (keep->keeping) {
        size_t room = HEADER_KEEP_SIZE - keep->length;
        size_t count = length < room ? length : room;
        memcpy(keep->bytes + keep->length, line, count);
        keep->length += count;
    }
    return 0;
}
