// A connected socket with the two limits of a check run: how long one
// receive waits, and when the whole session ends. Plain POP3 reads and
// writes it as a byte stream; TLS carries its records over it.
#ifndef TOLVARAN_PLAIN_STREAM_H
#define TOLVARAN_PLAIN_STREAM_H

#include <windows.h>
#include <winsock.h>

#include "transport/byte_stream.h"

struct PlainConnection {
    SOCKET socket;
    int timeoutMs;   // longest wait for the next bytes
    DWORD deadline;  // GetTickCount() value at which the session is over
    int waitMs;      // the receive time-out the socket has now
    int sendWaitMs;  // the send time-out the socket has now
    int timedOut;    // the last receive got nothing in time
    int expired;     // set once a receive has run into the deadline
    HANDLE stop;     // when set, it ends a receive's wait and the session
};

// Binds connection to socket with the given limits, the deadline counted
// from now, and no stop event.
void StartPlain(PlainConnection *connection, SOCKET socket, int timeoutMs, int deadlineMs);

// One receive of up to capacity bytes: returns how many came (> 0), or 0
// when the peer closed, the socket failed, time ran out (timedOut says
// which) or the stop event was set, which ends the session's time at once.
int ReceivePlain(PlainConnection *connection, char *buffer, int capacity);

// Sends all length bytes, each send bounded by the time-out and the
// deadline. Returns 0 when the socket failed or time ran out first (then
// expired says whether the deadline passed).
int SendPlain(PlainConnection *connection, const char *bytes, int length);

// Milliseconds left until the deadline; 0 once it has passed, which marks
// the connection expired as a receive past it would.
int TimeLeftPlain(PlainConnection *connection);

// Makes stream read and write straight through connection.
void PlainStream(ByteStream *stream, PlainConnection *connection);

#endif
