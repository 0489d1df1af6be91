// The byte stream of a plain POP3 connection: recv and send on the socket.
#include "mailcheck/byte_stream.h"

// One recv; a close, a failure and a time-out all count as 0.
static int PlainReceive(void *context, char *buffer, int capacity)
{
    int got = recv((SOCKET)(UINT_PTR)context, buffer, capacity, 0);
    return got > 0 ? got : 0;
}

// One send, whose result is not examined.
static void PlainSend(void *context, const char *bytes, int length)
{
    send((SOCKET)(UINT_PTR)context, bytes, length, 0);
}

// A stream straight over a connected socket.
void PlainStream(ByteStream *stream, SOCKET socket)
{
    stream->receive = PlainReceive;
    stream->send = PlainSend;
    stream->context = (void *)(UINT_PTR)socket;
}
