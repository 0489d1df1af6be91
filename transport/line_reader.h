// The line reader both exchanges share: a mail server's replies, POP3's
// and IMAP's, read one line at a time from a byte stream.
#ifndef TOLVARAN_LINE_READER_H
#define TOLVARAN_LINE_READER_H

#include "transport/byte_stream.h"

#define RECEIVE_BUFFER_SIZE 51200

// The receive buffer of one check run and what it holds: the current reply
// at its start, then any bytes the server sent ahead of the next command.
// Everything from buffer[held] on is zero before each receive, so at most
// RECEIVE_BUFFER_SIZE - 1 bytes are held and they always end in a zero;
// dirty marks how far bytes have been written since the last zeroing. Once
// a receive has failed or seen the end, no other is made.
struct ReplyReader {
    ByteStream stream;
    int held;
    int replyLength;
    int scanned;
    int skipLine;
    int ended;
    int dirty;
    char buffer[RECEIVE_BUFFER_SIZE];
};

// Binds the reader to a connected stream, with nothing held.
void StartReplies(ReplyReader *reader, const ByteStream *stream);

// Reads the next reply into the start of the buffer: until it holds a line
// feed, the buffer is full, the peer closes or the receive time-out expires.
// Returns the reply's length in bytes (its line feed included); 0 means no
// byte of it arrived.
int ReceiveReply(ReplyReader *reader);

// Reads the next piece of a line that was longer than the buffer, in place
// of dropping it as ReceiveReply does: up to its line feed or a full buffer
// again (skipLine is then set once more). Returns the piece's length.
int ReceiveLinePart(ReplyReader *reader);

// Adds to the reply just received the count bytes that follow it (an IMAP
// literal, whatever bytes it holds) and the line after them; of the count
// bytes only the first keep stay, the rest are read and passed over.
// Returns the reply's new length, or 0 when they did not all come or what
// stays would not fit.
int ExtendReply(ReplyReader *reader, long long count, int keep);

#endif
