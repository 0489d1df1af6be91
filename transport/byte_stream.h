// The bytes of one POP3 connection, whatever carries them: a plain socket or
// a TLS session. The reply reader and the command sender use nothing else.
#ifndef TOLVARAN_BYTE_STREAM_H
#define TOLVARAN_BYTE_STREAM_H

struct ByteStream {
    // Up to capacity bytes into buffer; returns how many arrived (> 0), or 0
    // when the peer closed, the connection failed or the receive timed out.
    int (*receive)(void *context, char *buffer, int capacity);
    // Sends length bytes; the result is not examined.
    void (*send)(void *context, const char *bytes, int length);
    void *context;
};

#endif
