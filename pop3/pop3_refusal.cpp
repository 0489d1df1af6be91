// The response codes a POP3 server puts in brackets after -ERR: some say
// the refusal passes (the mailbox is in use, log-ins come too often, the
// server has trouble for now), some give the server's own reason.
#include "pop3/pop3_refusal.h"

#include <string.h>

#include "checkrun/alert_text.h"

struct RefusalCode {
    const char *code;  // upper case; a code may go on after it with "/"
    Pop3Refusal refusal;
    int told;  // the sentence after it is meant for the user
};

static const RefusalCode refusalCodes[] = {
    {"IN-USE", POP3_REFUSED_FOR_NOW, 0},      // RFC 2449 8.1.2
    {"LOGIN-DELAY", POP3_REFUSED_FOR_NOW, 0}, // RFC 2449 8.1.1
    {"SYS/TEMP", POP3_REFUSED_FOR_NOW, 0},    // RFC 3206
    {"SYS/PERM", POP3_REFUSED_BY_SERVER, 1},  // RFC 3206: Gmail's "POP not enabled"
    {"AUTH", POP3_REFUSED_ACCOUNT, 1},        // RFC 3206: Gmail's "app password required"
};

// Whether the code of length bytes is known, in either case, or goes on
// from one known after a "/".
static int SameCode(const char *code, size_t length, const char *known)
{
    size_t knownLength = strlen(known);
    if (length < knownLength || (length > knownLength && code[knownLength] != '/'))
        return 0;
    for (size_t i = 0; i < knownLength; i++) {
        char c = code[i];
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
        if (c != known[i])
            return 0;
    }
    return 1;
}

// Reads "-ERR [CODE] sentence".
Pop3Refusal ReadPop3Refusal(const char *line, size_t length, char *text, size_t capacity)
{
    const char *end = line + length;
    if (capacity > 0)
        text[0] = 0;
    const char *at = line;
    while (at < end && *at != ' ' && *at != '\r' && *at != '\n')
        at++;  // "-ERR"
    while (at < end && *at == ' ')
        at++;
    if (at >= end || *at != '[')
        return POP3_REFUSED_ACCOUNT;
    const char *code = ++at;
    const char *close = (const char *)memchr(code, ']', (size_t)(end - code));
    if (close == NULL)
        return POP3_REFUSED_ACCOUNT;
    for (const RefusalCode &known : refusalCodes) {
        if (!SameCode(code, (size_t)(close - code), known.code))
            continue;
        if (known.told) {
            at = close + 1;
            while (at < end && *at == ' ')
                at++;
            CopyAlertText(at, end, text, capacity);
        }
        return known.refusal;
    }
    return POP3_REFUSED_ACCOUNT;
}
