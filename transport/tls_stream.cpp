// The plaintext of a TLS session as a byte stream: records decrypted as the
// reader asks for bytes, command lines encrypted as they are sent.
#include "transport/tls_session.h"

#include <string.h>

// Runs the handshake the server asked for again, at most
// TLS_MOST_RENEGOTIATIONS times a session, and checks what it gave as at the
// start: Schannel validates nothing here, and a TLS 1.2 renegotiation may
// bring any certificate. A failure ends the session, drops any plaintext
// held and keeps what broke it for the report.
static void Renegotiate(TlsSession *session)
{
    TlsStart result = TLS_HANDSHAKE_FAILED;
    if (++session->renegotiations <= TLS_MOST_RENEGOTIATIONS) {
        result = ContinueHandshake(session, 1);
        if (result == TLS_READY)
            result = CheckHandshake(session);
    }
    if (result != TLS_READY) {
        session->broken = result;
        session->ended = 1;
        session->plainLength = 0;
    }
}

// Decrypts the first record held. Returns 0 when more ciphertext is needed
// first, 1 when a record was taken (its plaintext, perhaps none, is held).
static int DecryptHeld(TlsSession *session)
{
    // Schannel wants one DATA buffer and three EMPTY ones, and decrypts in
    // place, one record per call.
    SecBuffer buffers[4] = {{(ULONG)session->incomingLength, SECBUFFER_DATA, session->incoming},
                            {0, SECBUFFER_EMPTY, NULL},
                            {0, SECBUFFER_EMPTY, NULL},
                            {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS status = DecryptMessage(&session->context, &desc, 0, NULL);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return 0;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
        session->ended = 1;
        return 1;
    }
    for (int i = 0; i < 4; i++) {
        if (buffers[i].BufferType != SECBUFFER_DATA || buffers[i].cbBuffer == 0)
            continue;
        if (buffers[i].cbBuffer > TLS_PLAIN_SIZE) {
            session->ended = 1;
            return 1;
        }
        memcpy(session->plain, buffers[i].pvBuffer, buffers[i].cbBuffer);
        session->plainStart = 0;
        session->plainLength = (int)buffers[i].cbBuffer;
    }
    KeepExtra(session, buffers, 4);
    // The server's close_notify, with the plaintext that came before it;
    // Wine gives SEC_E_OK with no data instead, and the close of the
    // connection that follows ends the stream there.
    if (status == SEC_I_CONTEXT_EXPIRED)
        session->ended = 1;
    // Windows hands TLS 1.3 session tickets over this way: the handshake
    // goes on with the bytes behind the record.
    if (status == SEC_I_RENEGOTIATE)
        Renegotiate(session);
    return 1;
}

// Up to capacity bytes of plaintext; 0 once the session has ended.
static int TlsReceive(void *context, char *buffer, int capacity)
{
    TlsSession *session = (TlsSession *)context;
    while (session->plainLength == 0) {
        if (session->ended)
            return 0;
        int taken = session->incomingLength > 0 ? DecryptHeld(session) : 0;
        if (!taken && !ReceiveCiphertext(session))
            return 0;
    }
    int count = session->plainLength < capacity ? session->plainLength : capacity;
    memcpy(buffer, session->plain + session->plainStart, (size_t)count);
    session->plainStart += count;
    session->plainLength -= count;
    return count;
}

// Sends length bytes as records of the size the session allows; nothing
// once the session has ended. The plaintext never outlives its record in
// the outgoing buffer, whether EncryptMessage worked or not.
static void TlsSend(void *context, const char *bytes, int length)
{
    TlsSession *session = (TlsSession *)context;
    if (session->ended)
        return;
    int header = (int)session->sizes.cbHeader;
    int trailer = (int)session->sizes.cbTrailer;
    int most = TLS_OUTGOING_SIZE - header - trailer;
    if ((ULONG)most > session->sizes.cbMaximumMessage)
        most = (int)session->sizes.cbMaximumMessage;
    while (length > 0) {
        int chunk = length < most ? length : most;
        memcpy(session->outgoing + header, bytes, (size_t)chunk);
        SecBuffer buffers[4] = {{(ULONG)header, SECBUFFER_STREAM_HEADER, session->outgoing},
                                {(ULONG)chunk, SECBUFFER_DATA, session->outgoing + header},
                                {(ULONG)trailer, SECBUFFER_STREAM_TRAILER, session->outgoing + header + chunk},
                                {0, SECBUFFER_EMPTY, NULL}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        int sealed = EncryptMessage(&session->context, 0, &desc, 0) == SEC_E_OK;
        int total = (int)(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        if (!sealed || total > TLS_OUTGOING_SIZE) {
            SecureZeroMemory(session->outgoing, sizeof session->outgoing);
            session->broken = TLS_HANDSHAKE_FAILED;
            session->ended = 1;
            return;
        }
        int sent = SendPlain(session->raw, session->outgoing, total);
        SecureZeroMemory(session->outgoing, sizeof session->outgoing);
        if (!sent) {
            session->ended = 1;
            return;
        }
        bytes += chunk;
        length -= chunk;
    }
}

// A stream of the session's plaintext.
void TlsStream(ByteStream *stream, TlsSession *session)
{
    stream->receive = TlsReceive;
    stream->send = TlsSend;
    stream->context = session;
}
