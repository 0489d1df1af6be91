// The message count in a positive STAT reply.
#include "pop3/stat_count.h"

#include <limits.h>
#include <string.h>

// Reads an int the way atoi does from text of the given length, saturating
// at the int range instead of overflowing.
static int ReadInt(const char *text, int length)
{
    int at = 0;
    while (at < length && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        at++;
    int negative = 0;
    if (at < length && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        at++;
    }
    long long value = 0;
    while (at < length && text[at] >= '0' && text[at] <= '9') {
        if (value <= (long long)INT_MAX + 1)
            value = value * 10 + (text[at] - '0');
        at++;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return (int)value;
}

// The count of a positive STAT reply: the second field split on spaces.
int ParseStatCount(const char *reply, int length)
{
    // The reply is text: a zero byte ends it.
    const char *zero = (const char *)memchr(reply, 0, (size_t)length);
    if (zero != NULL)
        length = (int)(zero - reply);

    int at = 0;
    for (int field = 0; field < 2; field++) {
        while (at < length && reply[at] == ' ')
            at++;
        if (at == length)
            return 0;
        if (field == 0) {
            while (at < length && reply[at] != ' ')
                at++;
        }
    }
    int end = at;
    while (end < length && reply[end] != ' ')
        end++;
    return ReadInt(reply + at, end - at);
}
