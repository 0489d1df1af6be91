// One mailbox check, POP3 or IMAP, run on a worker thread of its own.
#ifndef TOLVARAN_MAILCHECK_H
#define TOLVARAN_MAILCHECK_H

#include <windows.h>

#include "settings/settings.h"

// What a numbered check's thread starts with; allocated by the starter with
// HeapAlloc on the process heap and freed by the thread.
struct CheckStart {
    HWND window;
    int number;   // 1 to 65535: each report carries it back
    int mailbox;  // the settings' mailbox to check, 0 for mailbox 1
};

// Thread routine started with _beginthread: a check whose reports carry
// the number in its CheckStart.
void __cdecl NumberedCheckThread(void *start);

// Thread routine started with _beginthread; the argument is the main
// window's handle, which receives exactly one report: WM_CHECKRESULT, or
// WM_MAILBOXREPORT for an IMAP check that succeeded.
void __cdecl MailCheckThread(void *hwnd);

// The whole check against the given credentials, each receive giving up
// after timeoutMs without data and the whole session after deadlineMs from
// the connect; sends exactly one report to window.
void RunMailCheck(HWND window, const MailCredentials *credentials, int timeoutMs, int deadlineMs);

// RunMailCheck whose report carries number; once the session is over, its
// socket closed, it sends WM_CHECKENDED with number.
void RunNumberedCheck(HWND window, int number, const MailCredentials *credentials, int timeoutMs,
                      int deadlineMs);

#endif
