// One POP3 mailbox check: look up the server, log in with USER and PASS, ask
// STAT, report the count to the main window, log out with QUIT.
#include "mailcheck/mailcheck.h"

#include <winsock.h>

#include <string.h>

#include "mailcheck/check_texts.h"
#include "mailcheck/plain_stream.h"
#include "mailcheck/pop3_reply.h"
#include "mailcheck/server_address.h"
#include "mailcheck/tls_session.h"
#include "resources/resource.h"

// What one exchange of command and reply came to.
enum ReplyVerdict {
    REPLY_ACCEPTED,
    REPLY_REFUSED,
    REPLY_SILENT,
    REPLY_UNSAFE
};

// Everything a check run holds, kept on its thread's stack.
struct CheckRun {
    HWND window;
    int timeoutMs;
    int deadlineMs;
    int reported;
    CheckStatus status;
    const char *text;
    char command[COMMAND_BUFFER_SIZE];
    char tooltip[TOOLTIP_BUFFER_SIZE];
    PlainConnection connection;
    ReplyReader reader;
};

// Hands the outcome to the main window; returns once it has been shown.
static void Report(CheckRun *run, CheckStatus status, const char *text)
{
    SendMessageA(run->window, WM_CHECKRESULT, (WPARAM)status, (LPARAM)text);
    run->reported = 1;
}

// Keeps the outcome of a failure, reported after the clean-up.
static void SetFailure(CheckRun *run, CheckStatus status, const char *text)
{
    run->status = status;
    run->text = text;
}

// Appends count bytes to the command buffer; returns 0 if they do not fit.
static int AppendCommand(char *command, size_t *length, const char *bytes, size_t count)
{
    if (*length + count > COMMAND_BUFFER_SIZE - 1)
        return 0;
    memcpy(command + *length, bytes, count);
    *length += count;
    command[*length] = 0;
    return 1;
}

// Puts "verb value\r\n" into the command buffer. Returns 0, with the buffer
// empty, when value holds a line break (it would smuggle in a command of
// its own) or the line does not fit.
static int FormatCommand(CheckRun *run, const char *verb, const char *value, size_t valueCapacity)
{
    size_t valueLength = strnlen(value, valueCapacity);
    size_t length = 0;
    run->command[0] = 0;
    if (memchr(value, '\r', valueLength) != NULL || memchr(value, '\n', valueLength) != NULL)
        return 0;
    if (!AppendCommand(run->command, &length, verb, strlen(verb)) ||
        !AppendCommand(run->command, &length, value, valueLength) ||
        !AppendCommand(run->command, &length, "\r\n", 2)) {
        run->command[0] = 0;
        return 0;
    }
    return 1;
}

// Sends the command buffer's text; the result is not examined. Past the
// deadline nothing goes out, and the reply that follows counts as none: a
// reply may already be held (a TLS greeting that came with the handshake)
// without a receive having looked at the clock.
static void SendCommand(CheckRun *run)
{
    if (TimeLeftPlain(&run->connection) == 0)
        return;
    run->reader.stream.send(run->reader.stream.context, run->command, (int)strlen(run->command));
}

// Receives the next reply; 0 when none came, or the session ran out of time
// while it was coming, in which case what did come counts for nothing.
static int ReceiveInTime(CheckRun *run)
{
    int length = ReceiveReply(&run->reader);
    return run->connection.expired ? 0 : length;
}

// Receives the next reply and judges it by its first byte.
static ReplyVerdict ReceiveVerdict(CheckRun *run)
{
    if (ReceiveInTime(run) == 0)
        return REPLY_SILENT;
    return run->reader.buffer[0] == '+' ? REPLY_ACCEPTED : REPLY_REFUSED;
}

// Sends one command with its argument and judges the reply.
static ReplyVerdict Exchange(CheckRun *run, const char *verb, const char *value, size_t valueCapacity)
{
    if (!FormatCommand(run, verb, value, valueCapacity))
        return REPLY_UNSAFE;
    SendCommand(run);
    return ReceiveVerdict(run);
}

// Sends QUIT and waits for its reply, whatever it says.
static void LogOut(CheckRun *run)
{
    size_t length = 0;
    AppendCommand(run->command, &length, "QUIT\r\n", 6);
    SendCommand(run);
    ReceiveReply(&run->reader);
}

// Ends a session whose command went wrong: a silent server is left at once,
// any other is logged out of first.
static void EndRefused(CheckRun *run, ReplyVerdict verdict, CheckStatus status, const char *text)
{
    if (verdict == REPLY_SILENT) {
        SetFailure(run, CHECK_FAILED, textNoAnswer);
        return;
    }
    LogOut(run);
    SetFailure(run, status, text);
}

// Greeting, USER, PASS and STAT. On success reports the count and logs out;
// on failure logs out where the server still listens and keeps the outcome
// for the caller to report after the clean-up.
static void TalkPop3(CheckRun *run, const MailCredentials *credentials)
{
    if (ReceiveInTime(run) == 0) {
        SetFailure(run, CHECK_FAILED, textNoAnswer);
        return;
    }

    ReplyVerdict verdict = Exchange(run, "USER ", credentials->userName, sizeof credentials->userName);
    if (verdict != REPLY_ACCEPTED) {
        EndRefused(run, verdict, CHECK_AUTH_FAILED, textWrongUser);
        return;
    }
    verdict = Exchange(run, "PASS ", credentials->password, sizeof credentials->password);
    if (verdict != REPLY_ACCEPTED) {
        EndRefused(run, verdict, CHECK_AUTH_FAILED, textWrongPassword);
        return;
    }
    verdict = Exchange(run, "stat", "", 1);
    if (verdict != REPLY_ACCEPTED) {
        EndRefused(run, verdict, CHECK_FAILED, textCommandFailed);
        return;
    }

    int count = ParseStatCount(run->reader.buffer, run->reader.replyLength);
    if (count == 0) {
        Report(run, CHECK_NO_MAIL, textNoMail);
    } else {
        FormatNewMailText(run->tooltip, sizeof run->tooltip, count);
        Report(run, CHECK_NEW_MAIL, run->tooltip);
    }
    // The report goes first, so the next interval counts from it.
    LogOut(run);
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
    if (connection == INVALID_SOCKET ||
        connect(connection, (const sockaddr *)&address, sizeof address) != 0) {
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

// The same exchange inside TLS. A certificate that fails its check ends the
// run before a single byte is sent inside the session, and so does one
// that fails after a renegotiation; the report then names what broke.
static void TalkPop3OverTls(CheckRun *run, const ServerAddress *server, const MailCredentials *credentials)
{
    // Only TLS checks carry the session's buffers on their stack.
    TlsSession session;
    TlsStart start = StartTls(&session, &run->connection, server);
    if (start == TLS_READY) {
        ByteStream secure;
        TlsStream(&secure, &session);
        StartReplies(&run->reader, &secure);
        TalkPop3(run, credentials);
        if (session.broken != TLS_READY && !run->reported)
            SetTlsFailure(run, session.broken);
    } else {
        SetTlsFailure(run, start);
    }
    EndTls(&session);
}

// Runs one whole check and sends its one report to window.
void RunMailCheck(HWND window, const MailCredentials *credentials, int timeoutMs, int deadlineMs)
{
    CheckRun run;
    run.window = window;
    run.timeoutMs = timeoutMs;
    run.deadlineMs = deadlineMs;
    run.reported = 0;
    run.status = CHECK_FAILED;
    run.text = textNetworkUnusable;
    run.command[0] = 0;
    run.tooltip[0] = 0;

    WSADATA wsaData;
    int started = WSAStartup(0x0101, &wsaData) == 0;
    SOCKET connection = INVALID_SOCKET;
    ServerAddress server;
    if (started) {
        if (ParseServerAddress(credentials->serverName, &server))
            connection = OpenConnection(&run, &server);
        else
            SetFailure(&run, CHECK_FAILED, textServerNotFound);
    }
    if (connection != INVALID_SOCKET) {
        // Every receive waits at most the time-out, and none goes past the
        // deadline, TLS records included: a server that never answers, or
        // trickles, cannot hold the check run for ever.
        StartPlain(&run.connection, connection, run.timeoutMs, run.deadlineMs);
        if (server.tls) {
            TalkPop3OverTls(&run, &server, credentials);
        } else {
            ByteStream plain;
            PlainStream(&plain, &run.connection);
            StartReplies(&run.reader, &plain);
            TalkPop3(&run, credentials);
        }
        closesocket(connection);
    }
    if (started)
        WSACleanup();
    if (!run.reported)
        Report(&run, run.status, run.text);
    SecureZeroMemory(run.command, sizeof run.command);
}

// Thread routine: checks with a copy of the settings taken under their lock.
void __cdecl MailCheckThread(void *hwnd)
{
    MailCredentials credentials;
    CopyCredentials(&credentials);
    RunMailCheck((HWND)hwnd, &credentials, CHECK_TIMEOUT_MS, CHECK_DEADLINE_MS);
    SecureZeroMemory(&credentials, sizeof credentials);
}
