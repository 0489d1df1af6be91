// Server replies one line at a time, for POP3 and IMAP alike: a line split
// over several segments is joined, and bytes that arrive ahead of their turn
// wait for the next receive.
#include "transport/line_reader.h"

#include <string.h>

#define HOLD_LIMIT (RECEIVE_BUFFER_SIZE - 1)

// Binds the reader to a connected stream, with nothing held.
void StartReplies(ReplyReader *reader, const ByteStream *stream)
{
    reader->stream = *stream;
    reader->held = 0;
    reader->replyLength = 0;
    reader->scanned = 0;
    reader->skipLine = 0;
    reader->ended = 0;
    reader->dirty = 0;
    memset(reader->buffer, 0, sizeof reader->buffer);
}

// Forgets the first count held bytes and zeroes everything after what stays.
// Only the part written since the last zeroing needs it: the rest of the
// buffer is zero already.
static void DropHeld(ReplyReader *reader, int count)
{
    memmove(reader->buffer, reader->buffer + count, (size_t)(reader->held - count));
    reader->held -= count;
    reader->scanned = 0;
    if (reader->dirty > reader->held)
        memset(reader->buffer + reader->held, 0, (size_t)(reader->dirty - reader->held));
    reader->dirty = reader->held;
}

// One receive into the free end of the buffer; returns 1 if bytes arrived.
static int ReceiveMore(ReplyReader *reader)
{
    if (reader->ended)
        return 0;
    int got = reader->stream.receive(reader->stream.context, reader->buffer + reader->held,
                                     HOLD_LIMIT - reader->held);
    if (got <= 0) {
        reader->ended = 1;
        return 0;
    }
    reader->held += got;
    if (reader->held > reader->dirty)
        reader->dirty = reader->held;
    return 1;
}

// Length of the held line through its line feed, or 0 while none is held.
static int FindLineEnd(ReplyReader *reader)
{
    const char *found = (const char *)memchr(reader->buffer + reader->scanned, '\n',
                                             (size_t)(reader->held - reader->scanned));
    reader->scanned = reader->held;
    if (found == NULL)
        return 0;
    return (int)(found - reader->buffer) + 1;
}

// Throws away the rest of a line that overflowed the buffer last time.
// Returns 0 if the peer went quiet before the line ended.
static int SkipOverflowedLine(ReplyReader *reader)
{
    for (;;) {
        int lineEnd = FindLineEnd(reader);
        if (lineEnd > 0) {
            DropHeld(reader, lineEnd);
            reader->skipLine = 0;
            return 1;
        }
        DropHeld(reader, reader->held);
        if (!ReceiveMore(reader))
            return 0;
    }
}

// Reads the next reply into the start of the buffer; returns its length.
int ReceiveReply(ReplyReader *reader)
{
    DropHeld(reader, reader->replyLength);
    reader->replyLength = 0;
    if (reader->skipLine && !SkipOverflowedLine(reader))
        return 0;

    for (;;) {
        int lineEnd = FindLineEnd(reader);
        if (lineEnd > 0) {
            reader->replyLength = lineEnd;
            break;
        }
        if (reader->held == HOLD_LIMIT) {
            // A line longer than the buffer: judge what fits, drop the rest.
            reader->replyLength = reader->held;
            reader->skipLine = 1;
            break;
        }
        if (!ReceiveMore(reader)) {
            // Closed, reset or timed out: whatever came is the reply.
            reader->replyLength = reader->held;
            break;
        }
    }
    return reader->replyLength;
}

// Reads the next piece of an overflowed line into the start of the buffer.
int ReceiveLinePart(ReplyReader *reader)
{
    reader->skipLine = 0;
    return ReceiveReply(reader);
}

// Takes a literal of count bytes, and the line that follows it, into the
// current reply, keeping only the literal's first keep bytes; returns the
// reply's new length, or 0 when the stream ended first or what stays would
// not fit the buffer.
int ExtendReply(ReplyReader *reader, long long count, int keep)
{
    if (reader->skipLine || keep < 0 || keep > count || keep > HOLD_LIMIT - reader->replyLength)
        return 0;
    int literalEnd = reader->replyLength + keep;
    while (reader->held < literalEnd)
        if (!ReceiveMore(reader))
            return 0;
    // The bytes past what stays are dropped as they come, so that a literal
    // of any size passes through the buffer.
    long long passOver = count - keep;
    for (;;) {
        int extra = reader->held - literalEnd;
        int drop = extra < passOver ? extra : (int)passOver;
        if (drop > 0) {
            memmove(reader->buffer + literalEnd, reader->buffer + literalEnd + drop, (size_t)(extra - drop));
            reader->held -= drop;
            memset(reader->buffer + reader->held, 0, (size_t)drop);
            passOver -= drop;
        }
        if (passOver == 0)
            break;
        if (!ReceiveMore(reader))
            return 0;
    }
    // A line feed inside the literal is data, not the end of the line.
    reader->scanned = literalEnd;
    for (;;) {
        int lineEnd = FindLineEnd(reader);
        if (lineEnd > 0) {
            reader->replyLength = lineEnd;
            return lineEnd;
        }
        if (reader->held == HOLD_LIMIT || !ReceiveMore(reader))
            return 0;
    }
}
