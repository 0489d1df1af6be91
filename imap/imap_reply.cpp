// IMAP responses: one whole response at a time, its literals taken in by
// their byte counts, and a reader of the few parts a check needs.
#include "imap/imap_reply.h"

#include <string.h>

#include "checkrun/alert_text.h"

// What is kept of a literal too long for the buffer: its start, far more
// than the few header fields a check reads.
#define LITERAL_KEEP_SIZE 4096

// Whether the length bytes at text are word, ASCII letters in either case.
static int SameWord(const char *text, int length, const char *word)
{
    if ((int)strlen(word) != length)
        return 0;
    for (int i = 0; i < length; i++) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
        if (c != word[i])
            return 0;
    }
    return 1;
}

// Whether c ends an atom.
static int EndsAtom(char c)
{
    return c == ' ' || c == '(' || c == ')' || c == '[' || c == ']' || c == '\r' || c == '\n' ||
           c == '"' || c == 0;
}

// Steps over one space, if one is there.
static void SkipSpace(ImapCursor *cursor)
{
    if (cursor->at < cursor->end && *cursor->at == ' ')
        cursor->at++;
}

// Whether the next byte is c; if it is, steps over it.
static int Take(ImapCursor *cursor, char c)
{
    if (cursor->at >= cursor->end || *cursor->at != c)
        return 0;
    cursor->at++;
    return 1;
}

// The atom at the cursor; returns its length, 0 when there is none.
static int ReadAtom(ImapCursor *cursor, const char **text)
{
    *text = cursor->at;
    while (cursor->at < cursor->end && !EndsAtom(*cursor->at))
        cursor->at++;
    return (int)(cursor->at - *text);
}

// Reads decimal digits as a number of up to 64 bits; 0 when there are none
// or too many.
static int ReadNumber(ImapCursor *cursor, unsigned long long *value)
{
    int digits = 0;
    *value = 0;
    for (; cursor->at < cursor->end && *cursor->at >= '0' && *cursor->at <= '9'; cursor->at++) {
        if (++digits > 19)
            return 0;
        *value = *value * 10 + (unsigned)(*cursor->at - '0');
    }
    return digits > 0;
}

// The byte count of a literal "{n}" or "{n+}" that the cursor stands on,
// with the cursor moved past the CR LF behind it; -1 if it is no literal.
static long long ReadLiteralHead(ImapCursor *cursor)
{
    unsigned long long count;
    if (!Take(cursor, '{') || !ReadNumber(cursor, &count))
        return -1;
    Take(cursor, '+');
    if (!Take(cursor, '}') || !Take(cursor, '\r') || !Take(cursor, '\n'))
        return -1;
    return (long long)count;
}

// A string at the cursor: an atom, a quoted string (its content, escapes
// left as they are) or a literal. Returns its length, -1 when none is there.
static int ReadString(ImapCursor *cursor, const char **text)
{
    if (cursor->at < cursor->end && *cursor->at == '{') {
        long long count = ReadLiteralHead(cursor);
        if (count < 0 || count > cursor->end - cursor->at)
            return -1;
        *text = cursor->at;
        cursor->at += count;
        return (int)count;
    }
    if (Take(cursor, '"')) {
        *text = cursor->at;
        for (; cursor->at < cursor->end; cursor->at++) {
            if (*cursor->at == '\\' && cursor->at + 1 < cursor->end)
                cursor->at++;
            else if (*cursor->at == '"')
                return (int)(cursor->at++ - *text);
        }
        return -1;
    }
    int length = ReadAtom(cursor, text);
    return length > 0 ? length : -1;
}

// The count of a literal that ends the line before lineEnd, or -1.
static long long LiteralAtLineEnd(const char *lineStart, const char *lineEnd)
{
    // "{", digits, an optional "+", "}", CR, LF.
    const char *p = lineEnd - 3;
    if (p < lineStart || *p != '}')
        return -1;
    if (p > lineStart && p[-1] == '+')
        p--;
    const char *digitsEnd = p;
    while (p > lineStart && p[-1] >= '0' && p[-1] <= '9')
        p--;
    if (p == digitsEnd || p == lineStart || p[-1] != '{' || digitsEnd - p > 10)
        return -1;
    ImapCursor cursor = {p - 1, lineEnd};
    return ReadLiteralHead(&cursor);
}

// Writes kept into the digits of the literal head "{n}" CR LF that ends
// before lineEnd, in as many digits as n has (with leading zeros): kept is
// less than n, so it fits.
static void RewriteLiteralCount(char *lineEnd, int kept)
{
    char *digit = lineEnd - 3;  // the '}'
    if (digit[-1] == '+')
        digit--;
    for (digit--; *digit >= '0' && *digit <= '9'; digit--) {
        *digit = (char)('0' + kept % 10);
        kept /= 10;
    }
}

// Whether the line before end closes with CR LF, as every IMAP line must.
static int EndsWithCrLf(const char *start, const char *end)
{
    return end - start >= 2 && end[-1] == '\n' && end[-2] == '\r';
}

// Reads the tag, or "*" or "+", and the condition word of a response.
static void ReadHead(ImapResponse *response, const char *start, const char *end)
{
    ImapCursor cursor = {start, end};
    response->tag = start;
    response->tagLength = 0;
    response->condition = IMAP_DATA;
    if (Take(&cursor, '+')) {
        response->kind = IMAP_CONTINUATION;
        SkipSpace(&cursor);
        response->rest = cursor;
        return;
    }
    if (Take(&cursor, '*')) {
        response->kind = IMAP_UNTAGGED;
    } else {
        response->kind = IMAP_TAGGED;
        response->tagLength = ReadAtom(&cursor, &response->tag);
    }
    SkipSpace(&cursor);
    ImapCursor word = cursor;
    const char *text;
    int length = ReadAtom(&word, &text);
    static const struct {
        const char *word;
        ImapCondition condition;
    } conditions[] = {{"OK", IMAP_OK}, {"NO", IMAP_NO}, {"BAD", IMAP_BAD}, {"BYE", IMAP_BYE},
                      {"PREAUTH", IMAP_PREAUTH}};
    for (const auto &known : conditions) {
        if (SameWord(text, length, known.word)) {
            response->condition = known.condition;
            cursor = word;
            SkipSpace(&cursor);
            break;
        }
    }
    response->rest = cursor;
}

// Reads the next whole response into the start of the reader's buffer.
ImapReceived ReceiveImapResponse(ReplyReader *reader, ImapResponse *response)
{
    return ReadImapResponse(reader, ReceiveReply(reader), response);
}

// Makes a whole response of the line just read, literals included.
ImapReceived ReadImapResponse(ReplyReader *reader, int length, ImapResponse *response)
{
    if (length == 0)
        return IMAP_NOTHING;
    const char *start = reader->buffer;
    if (start[length - 1] != '\n')
        return reader->skipLine ? IMAP_BROKEN : IMAP_NOTHING;
    if (!EndsWithCrLf(start, start + length))
        return IMAP_BROKEN;
    ReadHead(response, start, start + length);
    // Only data carries literals: the text after a condition or a "+" is
    // free text, where "{5}" at the end of a line is just text.
    if (response->kind == IMAP_UNTAGGED && response->condition == IMAP_DATA) {
        int lineStart = 0;
        for (;;) {
            long long count = LiteralAtLineEnd(start + lineStart, start + length);
            if (count < 0)
                break;
            // A literal too long for the buffer keeps its start, and its
            // head is made to say so.
            long long keep = count;
            if (keep > RECEIVE_BUFFER_SIZE - 1 - length && keep > LITERAL_KEEP_SIZE)
                keep = LITERAL_KEEP_SIZE;
            int literalStart = length;
            length = ExtendReply(reader, count, (int)keep);
            if (length == 0)
                return reader->ended ? IMAP_NOTHING : IMAP_BROKEN;
            if (keep != count)
                RewriteLiteralCount(reader->buffer + literalStart, (int)keep);
            lineStart = literalStart + (int)keep;
            if (!EndsWithCrLf(start + lineStart, start + length))
                return IMAP_BROKEN;
        }
        response->rest.end = start + length;
    }
    return IMAP_RECEIVED;
}

// The capabilities in the words at the cursor, up to "]" or the line's end.
static int ReadCapabilities(ImapCursor *cursor)
{
    static const struct {
        const char *name;
        int flag;
    } known[] = {{"AUTH=PLAIN", IMAP_CAN_AUTH_PLAIN}, {"SASL-IR", IMAP_CAN_SASL_IR},
                 {"LOGINDISABLED", IMAP_LOGIN_DISABLED}, {"IDLE", IMAP_CAN_IDLE},
                 // IDLE is part of the base protocol from IMAP4rev2 on.
                 {"IMAP4REV2", IMAP_CAN_IDLE}};
    int flags = 0;
    for (;;) {
        SkipSpace(cursor);
        const char *word;
        int length = ReadAtom(cursor, &word);
        if (length == 0)
            return flags;
        for (const auto &capability : known)
            if (SameWord(word, length, capability.name))
                flags |= capability.flag;
    }
}

// The capabilities a response lists, or -1.
int ImapCapabilities(const ImapResponse *response)
{
    ImapCursor cursor = response->rest;
    const char *word;
    int length;
    if (response->condition == IMAP_DATA) {
        length = ReadAtom(&cursor, &word);
        return SameWord(word, length, "CAPABILITY") ? ReadCapabilities(&cursor) : -1;
    }
    if (!Take(&cursor, '['))
        return -1;
    length = ReadAtom(&cursor, &word);
    return SameWord(word, length, "CAPABILITY") ? ReadCapabilities(&cursor) : -1;
}

// The response code's atom after a condition; its length, 0 when the
// response has none.
static int ResponseCode(const ImapResponse *response, const char **code, ImapCursor *after)
{
    *after = response->rest;
    if (response->condition == IMAP_DATA || !Take(after, '['))
        return 0;
    return ReadAtom(after, code);
}

// What kind of refusal a NO or BAD is, by its response code.
ImapRefusal ImapRefusalKind(const ImapResponse *response)
{
    static const char *const account[] = {"AUTHENTICATIONFAILED", "AUTHORIZATIONFAILED", "EXPIRED",
                                          "CONTACTADMIN", "PRIVACYREQUIRED", "ALERT"};
    // TEMPFAIL is not in RFC 5530, but Yahoo sends it.
    static const char *const passing[] = {"UNAVAILABLE", "INUSE", "LIMIT", "SERVERBUG", "TEMPFAIL"};
    const char *code;
    ImapCursor after;
    int length = ResponseCode(response, &code, &after);
    if (length == 0)
        return REFUSAL_ACCOUNT;
    for (const char *known : account)
        if (SameWord(code, length, known))
            return REFUSAL_ACCOUNT;
    for (const char *known : passing)
        if (SameWord(code, length, known))
            return REFUSAL_PASSING;
    return REFUSAL_OTHER;
}

// Copies the text after "[ALERT]" into text, without control bytes.
int ImapAlertText(const ImapResponse *response, char *text, size_t capacity)
{
    const char *code;
    ImapCursor after;
    int length = ResponseCode(response, &code, &after);
    if (!SameWord(code, length, "ALERT") || !Take(&after, ']') || capacity == 0)
        return 0;
    SkipSpace(&after);
    CopyAlertText(after.at, after.end, text, capacity);
    return 1;
}

// Whether the response is "n EXISTS", "n EXPUNGE" or "n FETCH ...".
int ImapMailboxChange(const ImapResponse *response)
{
    if (response->kind != IMAP_UNTAGGED || response->condition != IMAP_DATA)
        return 0;
    ImapCursor cursor = response->rest;
    unsigned long long number;
    if (!ReadNumber(&cursor, &number))
        return 0;
    SkipSpace(&cursor);
    const char *word;
    int length = ReadAtom(&cursor, &word);
    return SameWord(word, length, "EXISTS") || SameWord(word, length, "EXPUNGE") ||
           SameWord(word, length, "FETCH");
}

// Reads "STATUS INBOX (name number ...)" into status.
int ReadInboxStatus(const ImapResponse *response, ImapMailboxStatus *status)
{
    if (response->kind != IMAP_UNTAGGED || response->condition != IMAP_DATA)
        return 0;
    ImapCursor cursor = response->rest;
    const char *word;
    int length = ReadAtom(&cursor, &word);
    if (!SameWord(word, length, "STATUS"))
        return 0;
    SkipSpace(&cursor);
    length = ReadString(&cursor, &word);
    // INBOX is INBOX in any case.
    if (length < 0 || !SameWord(word, length, "INBOX"))
        return 0;
    SkipSpace(&cursor);
    if (!Take(&cursor, '('))
        return 0;
    ImapMailboxStatus found = {0, 0, 0, 0};
    while (!Take(&cursor, ')')) {
        SkipSpace(&cursor);
        length = ReadAtom(&cursor, &word);
        SkipSpace(&cursor);
        unsigned long long value;
        if (length == 0 || !ReadNumber(&cursor, &value))
            return 0;
        // Counts and UIDs are 32-bit; a larger number saturates.
        DWORD value32 = value > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)value;
        if (SameWord(word, length, "UNSEEN")) {
            found.haveUnseen = 1;
            found.unseen = value32;
        } else if (SameWord(word, length, "UIDNEXT")) {
            found.uidNext = value32;
        } else if (SameWord(word, length, "UIDVALIDITY")) {
            found.uidValidity = value32;
        }
        SkipSpace(&cursor);
    }
    *status = found;
    return 1;
}
