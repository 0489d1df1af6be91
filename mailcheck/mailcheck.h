// One mailbox check, POP3 or IMAP, run on a worker thread of its own.
#ifndef TOLVARAN_MAILCHECK_H
#define TOLVARAN_MAILCHECK_H

#include <windows.h>

#include "mailcheck/check_limits.h"
#include "mailcheck/stat_count.h"
#include "settings/settings.h"


// What a successful IMAP check reports with WM_MAILBOXREPORT, beside its
// CheckStatus: the text, and what tells new arrivals from old mail.
struct MailboxReport {
    const char *text;
    DWORD uidValidity;  // UIDVALIDITY of INBOX: a change renumbers it
    DWORD uidNext;      // UIDNEXT: it grows with every arrival
    int canIdle;        // the server offers IDLE
};

// What a numbered check's thread starts with; allocated by the starter with
// HeapAlloc on the process heap and freed by the thread.
struct CheckStart {
    HWND window;
    int number;  // 1 to 65535: each report carries it back
};

// How long the header reads for the notice may take from the report;
// HEADER_BUDGET_MS, a variable so that the tests can shorten it.
extern int headerBudgetMs;

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
