// Starting and ending a TLS client session with Schannel: credentials, the
// handshake loop, and close_notify at the end.
#include "transport/tls_session.h"

// SCH_CREDENTIALS, the only way to ask Schannel for TLS 1.3.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>

#include <string.h>

// The content types a server's first TLS record can have.
#define TLS_ALERT_RECORD     0x15
#define TLS_HANDSHAKE_RECORD 0x16

// Supplied credentials, none here: without the flag, Windows stops the
// handshake with SEC_I_INCOMPLETE_CREDENTIALS whenever the server asks for a
// client certificate, even one it does not require.
#define HANDSHAKE_FLAGS \
    (ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY | \
     ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_USE_SUPPLIED_CREDS)
// What a completed handshake must give, or nothing is sent in it.
#define NEEDED_ATTRIBUTES (ISC_RET_CONFIDENTIALITY | ISC_RET_STREAM)
// The certificate is checked by the program itself, the same way on every
// Windows and on Wine, whose Schannel checks nothing.
#define CREDENTIAL_FLAGS \
    (SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO)

// Client credentials: TLS 1.2 and 1.3 when newest, else TLS 1.2 alone.
// Windows 7 leaves TLS 1.2 off unless it is asked for by name.
static int AcquireCredentials(TlsSession *session, int newest)
{
    SCH_CREDENTIALS current;
    TLS_PARAMETERS parameters;
    SCHANNEL_CRED legacy;
    void *data = &legacy;
    if (newest) {
        memset(&current, 0, sizeof current);
        memset(&parameters, 0, sizeof parameters);
        parameters.grbitDisabledProtocols = ~(DWORD)(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
        current.dwVersion = SCH_CREDENTIALS_VERSION;
        current.dwFlags = CREDENTIAL_FLAGS;
        current.cTlsParameters = 1;
        current.pTlsParameters = &parameters;
        data = &current;
    } else {
        memset(&legacy, 0, sizeof legacy);
        legacy.dwVersion = SCHANNEL_CRED_VERSION;
        legacy.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        legacy.dwFlags = CREDENTIAL_FLAGS;
    }
    TimeStamp expiry;
    SECURITY_STATUS status = AcquireCredentialsHandleA(NULL, (SEC_CHAR *)UNISP_NAME_A, SECPKG_CRED_OUTBOUND,
                                                       NULL, data, NULL, NULL, &session->credentials, &expiry);
    session->haveCredentials = status == SEC_E_OK;
    return session->haveCredentials;
}

// Sends a token Schannel made, if any, and frees it.
static int SendToken(TlsSession *session, SecBuffer *token)
{
    int sent = 1;
    if (token->pvBuffer != NULL) {
        if (token->cbBuffer > 0)
            sent = SendPlain(session->raw, (const char *)token->pvBuffer, (int)token->cbBuffer);
        FreeContextBuffer(token->pvBuffer);
        token->pvBuffer = NULL;
    }
    return sent;
}

// Appends what the socket gives to the held ciphertext. Returns 0 when the
// peer closed, the socket failed or timed out, or the buffer is full.
int ReceiveCiphertext(TlsSession *session)
{
    session->timedOut = 0;
    if (session->ended || session->incomingLength == TLS_INCOMING_SIZE) {
        session->ended = 1;
        return 0;
    }
    int got = ReceivePlain(session->raw, session->incoming + session->incomingLength,
                           TLS_INCOMING_SIZE - session->incomingLength);
    if (got <= 0) {
        session->timedOut = session->raw->timedOut;
        session->ended = 1;
        return 0;
    }
    session->incomingLength += got;
    return 1;
}

// Keeps only the unread bytes at the end of the held ciphertext that an
// EXTRA buffer counts; none when there is no such buffer. Only the count is
// to be trusted, not where the buffer points.
void KeepExtra(TlsSession *session, const SecBuffer *buffers, int count)
{
    ULONG extra = 0;
    for (int i = 0; i < count; i++)
        if (buffers[i].BufferType == SECBUFFER_EXTRA)
            extra = buffers[i].cbBuffer;
    if (extra > (ULONG)session->incomingLength)
        extra = 0;
    memmove(session->incoming, session->incoming + session->incomingLength - extra, extra);
    session->incomingLength = (int)extra;
}

// The name sent to the server: none for an address, which SNI forbids.
static SEC_CHAR *TargetName(TlsSession *session)
{
    return session->isIpv4 ? NULL : session->host;
}

// Feeds the server's handshake bytes to Schannel and sends its answers until
// the handshake is complete. With callFirst the held bytes go in at once,
// even none; else the server is waited for when nothing is held.
TlsStart ContinueHandshake(TlsSession *session, int callFirst)
{
    int credentialsAsked = 0;
    for (;;) {
        if (session->incomingLength == 0 && !callFirst && !ReceiveCiphertext(session))
            return session->timedOut ? TLS_SILENT : TLS_HANDSHAKE_FAILED;
        callFirst = 0;
        SecBuffer in[2] = {{(ULONG)session->incomingLength, SECBUFFER_TOKEN, session->incoming},
                           {0, SECBUFFER_EMPTY, NULL}};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
        SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
        ULONG attributes = 0;
        SECURITY_STATUS status =
            InitializeSecurityContextA(&session->credentials, &session->context, TargetName(session),
                                       HANDSHAKE_FLAGS, 0, 0, &inDesc, 0, &session->context, &outDesc,
                                       &attributes, NULL);
        if (status == SEC_E_INCOMPLETE_MESSAGE || status == SEC_I_INCOMPLETE_CREDENTIALS) {
            if (out[0].pvBuffer != NULL)
                FreeContextBuffer(out[0].pvBuffer);
            // The server asked for a client certificate: go on without one,
            // from the same bytes, once per handshake.
            if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
                if (credentialsAsked++)
                    return TLS_HANDSHAKE_FAILED;
                callFirst = 1;
                continue;
            }
            if (!ReceiveCiphertext(session))
                return session->timedOut ? TLS_SILENT : TLS_HANDSHAKE_FAILED;
            continue;
        }
        // On a failure the token, if any, is the alert that tells the server.
        int sent = SendToken(session, &out[0]);
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
            return TLS_HANDSHAKE_FAILED;
        if (!sent)
            return TLS_HANDSHAKE_FAILED;
        KeepExtra(session, in, 2);
        if (status == SEC_E_OK) {
            session->attributes = attributes;
            return TLS_READY;
        }
    }
}

// Checks the server's certificate and the stream sizes the outgoing buffer
// must hold.
TlsStart CheckHandshake(TlsSession *session)
{
    TlsStart certificate = CheckServerCertificate(session);
    if (certificate != TLS_READY)
        return certificate;
    if (QueryContextAttributesA(&session->context, SECPKG_ATTR_STREAM_SIZES, &session->sizes) != SEC_E_OK ||
        session->sizes.cbHeader + session->sizes.cbTrailer >= TLS_OUTGOING_SIZE ||
        session->sizes.cbMaximumMessage == 0)
        return TLS_HANDSHAKE_FAILED;
    return TLS_READY;
}

// Makes the client's first handshake message, asking for TLS 1.2 and 1.3
// first and for TLS 1.2 alone where Windows refuses that: older Windows
// knows no SCH_CREDENTIALS, and some only fail once asked for TLS 1.3.
static int MakeHello(TlsSession *session, SecBuffer *hello)
{
    for (int newest = 1; newest >= 0; newest--) {
        if (!AcquireCredentials(session, newest))
            continue;
        SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, hello};
        ULONG attributes = 0;
        hello->cbBuffer = 0;
        hello->BufferType = SECBUFFER_TOKEN;
        hello->pvBuffer = NULL;
        SECURITY_STATUS status =
            InitializeSecurityContextA(&session->credentials, NULL, TargetName(session), HANDSHAKE_FLAGS, 0, 0,
                                       NULL, 0, &session->context, &outDesc, &attributes, NULL);
        if (status == SEC_I_CONTINUE_NEEDED) {
            session->haveContext = 1;
            return 1;
        }
        if (hello->pvBuffer != NULL)
            FreeContextBuffer(hello->pvBuffer);
        hello->pvBuffer = NULL;
        FreeCredentialsHandle(&session->credentials);
        session->haveCredentials = 0;
    }
    return 0;
}

// Shakes hands on socket and checks the server's certificate.
TlsStart StartTls(TlsSession *session, PlainConnection *raw, const ServerAddress *server)
{
    session->raw = raw;
    session->haveCredentials = 0;
    session->haveContext = 0;
    session->attributes = 0;
    session->renegotiations = 0;
    session->broken = TLS_READY;
    session->ended = 0;
    session->timedOut = 0;
    session->incomingLength = 0;
    session->plainStart = 0;
    session->plainLength = 0;
    CopyTextCut(session->host, sizeof session->host, server->tlsName);
    session->isIpv4 = server->isIpv4;
    memcpy(session->ipv4, server->ipv4, sizeof session->ipv4);

    SecBuffer hello;
    if (!MakeHello(session, &hello) || !SendToken(session, &hello))
        return TLS_HANDSHAKE_FAILED;
    // A server that answers with anything but a handshake or alert record
    // speaks no TLS; Wine's Schannel would wait for more of such bytes.
    if (!ReceiveCiphertext(session))
        return session->timedOut ? TLS_SILENT : TLS_HANDSHAKE_FAILED;
    if (session->incoming[0] != TLS_HANDSHAKE_RECORD && session->incoming[0] != TLS_ALERT_RECORD)
        return TLS_HANDSHAKE_FAILED;
    TlsStart start = ContinueHandshake(session, 1);
    if (start != TLS_READY)
        return start;
    // Checked once: a renegotiation keeps the protections the session has.
    if ((session->attributes & NEEDED_ATTRIBUTES) != NEEDED_ATTRIBUTES)
        return TLS_HANDSHAKE_FAILED;
    return CheckHandshake(session);
}

// Sends close_notify, without waiting for the server's, frees the context
// and credentials, and wipes every buffer the session held.
void EndTls(TlsSession *session)
{
    if (session->haveContext) {
        DWORD shutdown = SCHANNEL_SHUTDOWN;
        SecBuffer control = {sizeof shutdown, SECBUFFER_TOKEN, &shutdown};
        SecBufferDesc controlDesc = {SECBUFFER_VERSION, 1, &control};
        if (ApplyControlToken(&session->context, &controlDesc) == SEC_E_OK) {
            SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
            SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
            ULONG attributes = 0;
            SECURITY_STATUS status =
                InitializeSecurityContextA(&session->credentials, &session->context, TargetName(session),
                                           HANDSHAKE_FLAGS, 0, 0, NULL, 0, &session->context, &outDesc,
                                           &attributes, NULL);
            if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)
                SendToken(session, &out[0]);
            else if (out[0].pvBuffer != NULL)
                FreeContextBuffer(out[0].pvBuffer);
        }
        DeleteSecurityContext(&session->context);
        session->haveContext = 0;
    }
    if (session->haveCredentials)
        FreeCredentialsHandle(&session->credentials);
    SecureZeroMemory(session, sizeof *session);
}
