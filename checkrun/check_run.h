// What one check run holds while it talks to the server, and the steps the
// POP3 and IMAP exchanges share: commands out, replies in, one report.
#ifndef TOLVARAN_CHECK_RUN_H
#define TOLVARAN_CHECK_RUN_H

#include <windows.h>

#include <stddef.h>

#include "checkrun/check_limits.h"
#include "transport/plain_stream.h"
#include "transport/line_reader.h"
#include "transport/server_address.h"
#include "checkrun/check_messages.h"

struct TlsSession;

// Everything a check run holds, kept on its thread's stack.
struct CheckRun {
    HWND window;
    int number;  // the window's number for the run, 0 when it gave none
    HANDLE stop; // ends every wait of the session when set; NULL for a check
    int timeoutMs;
    int deadlineMs;
    int reported;
    CheckStatus status;
    const char *text;
    char command[COMMAND_BUFFER_SIZE];
    char tooltip[TOOLTIP_BUFFER_SIZE];
    char alert[ALERT_TEXT_SIZE];  // the last [ALERT] text, while the window reads it
    DWORD headerDeadline;  // the session's own deadline while the header reads have a shorter one
    PlainConnection connection;
    ReplyReader reader;
    TlsSession *tls;  // the session under the stream, NULL when plain
    void *owner;      // what runs the session, when it is not a check
};

// Hands the outcome to the main window; returns once it has been shown.
void Report(CheckRun *run, CheckStatus status, const char *text);

// wParam of a report: the status and the run's number.
WPARAM ReportParameter(const CheckRun *run, CheckStatus status);

// Keeps the outcome of a failure, reported after the clean-up.
void SetFailure(CheckRun *run, CheckStatus status, const char *text);

// Appends count bytes to the command buffer; returns 0 if they do not fit.
int AppendCommand(char *command, size_t *length, const char *bytes, size_t count);

// Sends the command buffer's text; the result is not examined.
void SendCommand(CheckRun *run);

// Receives the next reply line; 0 when none came, or the session ran out of
// time while it was coming.
int ReceiveInTime(CheckRun *run);

// Puts the text of the count of new messages into the tooltip buffer and
// reports it, or " 新着メールはありません " when there are none.
void ReportCount(CheckRun *run, int count);

#endif
