// A TLS client session over a connected socket, through Schannel, with the
// server's certificate checked by the program itself.
#ifndef TOLVARAN_TLS_SESSION_H
#define TOLVARAN_TLS_SESSION_H

#include <winsock.h>
#define SECURITY_WIN32
#include <security.h>

#include "transport/byte_stream.h"
#include "transport/plain_stream.h"
#include "transport/server_address.h"
#include "settings/settings.h"

// Room for two records of the largest size TLS allows, with their headers:
// a record half received and the next one behind it.
#define TLS_INCOMING_SIZE  (2 * (5 + 16384 + 2048))
// The plaintext of one record.
#define TLS_PLAIN_SIZE     (16384 + 2048)
// One record of a command line, with the header and trailer Schannel names.
#define TLS_OUTGOING_SIZE  4096
// Renegotiations a session answers (Windows hands TLS 1.3 session tickets
// and key updates over as such; OpenSSL servers send two tickets).
#define TLS_MOST_RENEGOTIATIONS 8

// How the start of a session went.
enum TlsStart {
    TLS_READY,
    TLS_SILENT,               // the server said nothing within the time-out
    TLS_HANDSHAKE_FAILED,     // no common protocol, a fault, or no TLS at all
    TLS_CERTIFICATE_REJECTED  // untrusted, expired, partial chain or wrong name
};

struct TlsSession {
    PlainConnection *raw;  // the connection the records travel over
    char host[SERVER_NAME_SIZE];  // the name asked for and checked
    int isIpv4;                   // host is an address: no SNI, IP entries
    unsigned char ipv4[4];
    int haveCredentials;
    CredHandle credentials;
    int haveContext;
    CtxtHandle context;
    SecPkgContext_StreamSizes sizes;
    ULONG attributes;   // what the last completed handshake gave
    int renegotiations;
    TlsStart broken;    // what ended the session after its start, if any
    int ended;          // closed, failed or timed out: nothing more comes
    int timedOut;       // the last receive from the socket ran out of time
    int incomingLength; // ciphertext received and not yet decrypted
    int plainStart;     // decrypted bytes not yet handed out
    int plainLength;
    char incoming[TLS_INCOMING_SIZE];
    char plain[TLS_PLAIN_SIZE];
    char outgoing[TLS_OUTGOING_SIZE];
};

// Shakes hands with the server over raw (its tlsName is the name sent to it
// and the name its certificate must carry; an IPv4 address is sent no name
// and must be among the certificate's IP entries) and checks its
// certificate. Sends nothing inside the session. Every receive and send
// keeps raw's time-out and deadline.
TlsStart StartTls(TlsSession *session, PlainConnection *raw, const ServerAddress *server);

// A stream of the session's plaintext, once StartTls gave TLS_READY.
void TlsStream(ByteStream *stream, TlsSession *session);

// Sends close_notify (without waiting for the server's), frees what
// Schannel holds and wipes the session. Safe after any outcome of StartTls.
void EndTls(TlsSession *session);

// Whether the certificate the server presented is trusted for the session's
// host: a chain to a trusted root for server authentication without any
// fault but unknown revocation, and a name (or address) that matches.
// TLS_READY, TLS_CERTIFICATE_REJECTED, or TLS_SILENT when the session's
// deadline came first.
TlsStart CheckServerCertificate(TlsSession *session);

// Shared by the session's own files.
// Appends what the socket gives to the held ciphertext; 0 when nothing came.
int ReceiveCiphertext(TlsSession *session);
// Keeps the unread bytes an EXTRA buffer among buffers counts.
void KeepExtra(TlsSession *session, const SecBuffer *buffers, int count);
// Runs the handshake on from the held bytes until it completes.
TlsStart ContinueHandshake(TlsSession *session, int callFirst);
// Checks what a completed handshake gave: the certificate and the stream
// sizes.
TlsStart CheckHandshake(TlsSession *session);

#endif
