// The byte stream of a plain POP3 connection: recv and send on the socket,
// each receive bounded by the time-out and by the session's deadline.
#include "mailcheck/plain_stream.h"

// Milliseconds left until the deadline; 0 or less once it has passed.
static int TimeLeft(const PlainConnection *connection)
{
    // Unsigned difference, so that GetTickCount wrapping round does no harm.
    return (int)(connection->deadline - GetTickCount());
}

// One recv; a close, a failure and a time-out all count as 0.
static int PlainReceive(void *context, char *buffer, int capacity)
{
    PlainConnection *connection = (PlainConnection *)context;
    int left = TimeLeft(connection);
    if (left <= 0) {
        connection->expired = 1;
        return 0;
    }
    // The socket waits for the time-out, or for what is left of the
    // session if that is shorter; it is told only when the wait changes.
    int wait = left < connection->timeoutMs ? left : connection->timeoutMs;
    if (wait != connection->waitMs) {
        DWORD waitValue = (DWORD)wait;
        setsockopt(connection->socket, SOL_SOCKET, SO_RCVTIMEO, (const char *)&waitValue,
                   sizeof waitValue);
        connection->waitMs = wait;
    }
    int got = recv(connection->socket, buffer, capacity, 0);
    if (got > 0)
        return got;
    if (TimeLeft(connection) <= 0)
        connection->expired = 1;
    return 0;
}

// One send, whose result is not examined.
static void PlainSend(void *context, const char *bytes, int length)
{
    send(((PlainConnection *)context)->socket, bytes, length, 0);
}

// Binds connection to socket with its limits and makes stream use it.
void PlainStream(ByteStream *stream, PlainConnection *connection, SOCKET socket, int timeoutMs,
                 int deadlineMs)
{
    connection->socket = socket;
    connection->timeoutMs = timeoutMs;
    connection->deadline = GetTickCount() + (DWORD)deadlineMs;
    connection->waitMs = 0;
    connection->expired = 0;
    stream->receive = PlainReceive;
    stream->send = PlainSend;
    stream->context = connection;
}
