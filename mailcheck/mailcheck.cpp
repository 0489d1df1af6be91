// One mailbox check on a worker thread of its own: the session runs the
// POP3 or IMAP exchange its address names, and the window hears of its
// report and, once the socket is closed, of its end.
#include "mailcheck/mailcheck.h"

#include "checkrun/check_messages.h"
#include "checkrun/run_session.h"
#include "imap/imap_check.h"
#include "pop3/pop3_session.h"

// The exchange the address names.
static void TalkByProtocol(CheckRun *run, const ServerAddress *server, const MailCredentials *credentials)
{
    if (server->protocol == PROTOCOL_IMAP)
        TalkImap(run, credentials);
    else
        TalkPop3(run, credentials);
}

// Runs one whole check numbered number and sends its one report to window.
void RunNumberedCheck(HWND window, int number, const MailCredentials *credentials, int timeoutMs,
                      int deadlineMs)
{
    CheckRun run;
    StartCheckRun(&run, window, timeoutMs, deadlineMs);
    run.number = number;
    RunSession(&run, credentials, TalkByProtocol);
    if (!run.reported)
        Report(&run, run.status, run.text);
    SendMessageA(window, WM_CHECKENDED, (WPARAM)number, 0);
}

// Runs one whole check, unnumbered, and sends its one report to window.
void RunMailCheck(HWND window, const MailCredentials *credentials, int timeoutMs, int deadlineMs)
{
    RunNumberedCheck(window, 0, credentials, timeoutMs, deadlineMs);
}

// Thread routine: checks with a copy of the settings taken under their lock.
void __cdecl MailCheckThread(void *hwnd)
{
    MailCredentials credentials;
    CopyCredentials(0, &credentials);
    RunMailCheck((HWND)hwnd, &credentials, CHECK_TIMEOUT_MS, CHECK_DEADLINE_MS);
    SecureZeroMemory(&credentials, sizeof credentials);
}

// Thread routine: the window's numbered check.
void __cdecl NumberedCheckThread(void *argument)
{
    CheckStart start = *(CheckStart *)argument;
    HeapFree(GetProcessHeap(), 0, argument);
    MailCredentials credentials;
    CopyCredentials(start.mailbox, &credentials);
    RunNumberedCheck(start.window, start.number, &credentials, CHECK_TIMEOUT_MS, CHECK_DEADLINE_MS);
    SecureZeroMemory(&credentials, sizeof credentials);
}
