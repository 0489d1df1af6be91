// One session with a mail server: look up the server, connect, start TLS
// where the address asks for it, and run an exchange over the stream; the
// check and the IDLE watch each bring their own exchange.
#include "checkrun/run_session.h"

#include <winsock.h>

#include <string.h>

#include "checkrun/check_texts.h"
#include "transport/server_address.h"
#include "transport/socket_wait.h"
#include "transport/tls_session.h"

// Connects to address; a run with a stop event ends the wait when it is set.
static int Connect(CheckRun *run, SOCKET connection, const sockaddr_in *address)
{
    if (run->stop != NULL)
        return ConnectUnlessStopped(connection, address, sizeof *address, run->stop, (DWORD)run->timeoutMs);
    return connect(connection, (const sockaddr *)address, sizeof *address) == 0;
}

// Resolves the server and connects to its port. Returns the socket, or
// INVALID_SOCKET with the failure kept in run.
static SOCKET OpenConnection(CheckRun *run, const ServerAddress *server)
{
    hostent *host = gethostbyname(server->host);
    if (host == NULL || host->h_addr_list[0] == NULL) {
        SetFailure(run, CHECK_FAILED, textServerNotFound);
        return INVALID_SOCKET;
    }

    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)server->port);
    memcpy(&address.sin_addr, host->h_addr_list[0], sizeof address.sin_addr);

    SOCKET connection = socket(AF_INET, SOCK_STREAM, 0);
    if (connection == INVALID_SOCKET || !Connect(run, connection, &address)) {
        if (connection != INVALID_SOCKET)
            closesocket(connection);
        SetFailure(run, CHECK_FAILED, textCannotConnect);
        return INVALID_SOCKET;
    }
    return connection;
}

// Keeps the failure that a TLS outcome other than TLS_READY stands for.
static void SetTlsFailure(CheckRun *run, TlsStart outcome)
{
    if (outcome == TLS_SILENT)
        SetFailure(run, CHECK_FAILED, textNoAnswer);
    else if (outcome == TLS_CERTIFICATE_REJECTED)
        SetFailure(run, CHECK_FAILED, textCertificateRejected);
    else
        SetFailure(run, CHECK_FAILED, textTlsFailed);
}

// Binds the reader to stream and runs the exchange over it.
static void Talk(CheckRun *run, const ServerAddress *server, const MailCredentials *credentials,
                 const ByteStream *stream, TalkFunction talk)
{
    StartReplies(&run->reader, stream);
    talk(run, server, credentials);
}

// The exchange inside TLS. A certificate that fails its check ends the run
// before a single byte is sent inside the session, and so does one that
// fails after a renegotiation; the report then names what broke.
static void TalkOverTls(CheckRun *run, const ServerAddress *server, const MailCredentials *credentials,
                        TalkFunction talk)
{
    // Only TLS sessions carry the session's buffers on their stack.
    TlsSession session;
    TlsStart start = StartTls(&session, &run->connection, server);
    if (start == TLS_READY) {
        ByteStream secure;
        TlsStream(&secure, &session);
        run->tls = &session;
        Talk(run, server, credentials, &secure, talk);
        run->tls = NULL;
        if (session.broken != TLS_READY && !run->reported)
            SetTlsFailure(run, session.broken);
    } else {
        SetTlsFailure(run, start);
    }
    EndTls(&session);
}

// Prepares run for its session, reporting to window.
void StartCheckRun(CheckRun *run, HWND window, int timeoutMs, int deadlineMs)
{
    run->window = window;
    run->number = 0;
    run->stop = NULL;
    run->timeoutMs = timeoutMs;
    run->deadlineMs = deadlineMs;
    run->reported = 0;
    run->status = CHECK_FAILED;
    run->text = textNetworkUnusable;
    run->command[0] = 0;
    run->tooltip[0] = 0;
    run->alert[0] = 0;
    run->headerDeadline = 0;
    run->tls = NULL;
    run->owner = NULL;
}

// Starts Windows Sockets, looks the server up, connects, starts TLS where
// the address asks for it and runs talk over the stream; closes and
// releases everything again. A failure before talk is kept in run.
void RunSession(CheckRun *run, const MailCredentials *credentials, TalkFunction talk)
{
    WSADATA wsaData;
    int started = WSAStartup(0x0101, &wsaData) == 0;
    SOCKET connection = INVALID_SOCKET;
    ServerAddress server;
    if (started) {
        if (ParseServerAddress(credentials->serverName, &server))
            connection = OpenConnection(run, &server);
        else
            SetFailure(run, CHECK_FAILED, textServerNotFound);
    }
    if (connection != INVALID_SOCKET) {
        // Every receive waits at most the time-out, and none goes past the
        // deadline, TLS records included: a server that never answers, or
        // trickles, cannot hold the check run for ever.
        StartPlain(&run->connection, connection, run->timeoutMs, run->deadlineMs);
        run->connection.stop = run->stop;
        if (server.tls) {
            TalkOverTls(run, &server, credentials, talk);
        } else {
            ByteStream plain;
            PlainStream(&plain, &run->connection);
            Talk(run, &server, credentials, &plain, talk);
        }
        closesocket(connection);
    }
    if (started)
        WSACleanup();
    SecureZeroMemory(run->command, sizeof run->command);
}
