// A connected socket's receives, each bounded by the time-out and by the
// session's deadline, and the plain byte stream over it.
#include "transport/plain_stream.h"

#include "transport/socket_wait.h"

// Milliseconds left until the deadline; 0 or less once it has passed.
static int TimeLeft(const PlainConnection *connection)
{
    // Unsigned difference, so that GetTickCount wrapping round does no harm.
    return (int)(connection->deadline - GetTickCount());
}

// Binds connection to socket with its limits.
void StartPlain(PlainConnection *connection, SOCKET socket, int timeoutMs, int deadlineMs)
{
    connection->socket = socket;
    connection->timeoutMs = timeoutMs;
    connection->deadline = GetTickCount() + (DWORD)deadlineMs;
    connection->waitMs = 0;
    connection->sendWaitMs = 0;
    connection->timedOut = 0;
    connection->expired = 0;
    connection->stop = NULL;
}

// Milliseconds left, 0 once the deadline has passed (and marked).
int TimeLeftPlain(PlainConnection *connection)
{
    int left = TimeLeft(connection);
    if (left > 0)
        return left;
    connection->timedOut = connection->expired = 1;
    return 0;
}

// Sets the socket option name to the shorter of the time-out and left,
// when it differs from *current.
static void SetWait(PlainConnection *connection, int name, int left, int *current)
{
    int wait = left < connection->timeoutMs ? left : connection->timeoutMs;
    if (wait == *current)
        return;
    DWORD waitValue = (DWORD)wait;
    setsockopt(connection->socket, SOL_SOCKET, name, (const char *)&waitValue, sizeof waitValue);
    *current = wait;
}

// Sends in as many calls as the socket takes. A server that stops reading
// fills the socket's buffers; the send time-out keeps that from holding the
// check run past the deadline.
int SendPlain(PlainConnection *connection, const char *bytes, int length)
{
    while (length > 0) {
        int left = TimeLeftPlain(connection);
        if (left == 0)
            return 0;
        SetWait(connection, SO_SNDTIMEO, left, &connection->sendWaitMs);
        int sent = send(connection->socket, bytes, length, 0);
        if (sent <= 0) {
            TimeLeftPlain(connection);
            return 0;
        }
        bytes += sent;
        length -= sent;
    }
    return 1;
}

// Waits, for as long as a receive would, for bytes or the stop. Returns 0
// when none came in time or the stop was set; a stop also ends the
// session's time, so that nothing more is sent.
static int AwaitBytes(PlainConnection *connection)
{
    SocketWait woken = WaitForSocket(connection->socket, connection->stop, (DWORD)connection->waitMs);
    if (woken == SOCKET_READABLE)
        return 1;
    connection->timedOut = woken == SOCKET_QUIET;
    if (woken == SOCKET_STOPPED)
        connection->deadline = GetTickCount();
    return 0;
}

// One recv; a close, a failure and a time-out all count as 0.
int ReceivePlain(PlainConnection *connection, char *buffer, int capacity)
{
    int left = TimeLeft(connection);
    if (left <= 0) {
        connection->timedOut = connection->expired = 1;
        return 0;
    }
    // The socket waits for the time-out, or for what is left of the
    // session if that is shorter; it is told only when the wait changes.
    SetWait(connection, SO_RCVTIMEO, left, &connection->waitMs);
    if (connection->stop != NULL && !AwaitBytes(connection)) {
        if (TimeLeft(connection) <= 0)
            connection->expired = 1;
        return 0;
    }
    int got = recv(connection->socket, buffer, capacity, 0);
    if (got > 0)
        return got;
    connection->timedOut = got < 0 && WSAGetLastError() == WSAETIMEDOUT;
    if (TimeLeft(connection) <= 0)
        connection->timedOut = connection->expired = 1;
    return 0;
}

// The plain stream's receive.
static int PlainStreamReceive(void *context, char *buffer, int capacity)
{
    return ReceivePlain((PlainConnection *)context, buffer, capacity);
}

// The plain stream's send, bounded like every other; its result is not
// examined.
static void PlainStreamSend(void *context, const char *bytes, int length)
{
    SendPlain((PlainConnection *)context, bytes, length);
}

// Makes stream read and write straight through connection.
void PlainStream(ByteStream *stream, PlainConnection *connection)
{
    stream->receive = PlainStreamReceive;
    stream->send = PlainStreamSend;
    stream->context = connection;
}
