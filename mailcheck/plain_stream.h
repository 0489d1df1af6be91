// The byte stream straight over a connected socket, with the two limits of
// a check run: how long one receive waits, and when the whole session ends.
#ifndef TOLVARAN_PLAIN_STREAM_H
#define TOLVARAN_PLAIN_STREAM_H

#include <windows.h>
#include <winsock.h>

#include "mailcheck/byte_stream.h"

struct PlainConnection {
    SOCKET socket;
    int timeoutMs;   // longest wait for the next bytes
    DWORD deadline;  // GetTickCount() value at which the session is over
    int waitMs;      // the receive time-out the socket has now
    int expired;     // set once a receive has run into the deadline
};

// Binds connection to socket with the given limits, the deadline counted
// from now, and makes stream read and write through it.
void PlainStream(ByteStream *stream, PlainConnection *connection, SOCKET socket, int timeoutMs,
                 int deadlineMs);

#endif
