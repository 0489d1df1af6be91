// What a check run and the IDLE watch tell the main window: the messages
// they send or post, and what those messages carry. The window's own
// messages and resources are in resources/resource.h.
#ifndef TOLVARAN_CHECK_MESSAGES_H
#define TOLVARAN_CHECK_MESSAGES_H

#include <windows.h>

// A check run's report: its CheckStatus in the low word of wParam and its
// run number in the high word (0 for a run the window did not number), the
// text in lParam.
#define WM_CHECKRESULT  1025
// Sent by an IMAP check that succeeded, in place of WM_CHECKRESULT: wParam
// as WM_CHECKRESULT's, a MailboxReport in lParam.
#define WM_MAILBOXREPORT 1028
// Posted by the IDLE watch: an IdleEvent in wParam, the watch's number in
// lParam.
#define WM_IDLEWATCH 1029
// Sent by a check run or the IDLE watch when the server gave words for the
// user (an IMAP [ALERT], a POP3 [AUTH] or [SYS/PERM] sentence): the
// check's number in wParam (-1 from the IDLE watch), the text in lParam, UTF-8 without control bytes, at
// most ALERT_TEXT_SIZE bytes with the NUL.
#define WM_SERVERALERT 1030
// Sent by a check right after its successful report: its number in wParam
// and a NoticeRequest in lParam for the window to fill. Then, if the window
// wanted one, the number again and a MailSummary in lParam.
#define WM_NOTICEWANTED 1040
#define WM_MAILSUMMARY  1041
// Sent by a numbered check once its session is over, log-out and close
// included, after its report: the number in wParam.
#define WM_CHECKENDED 1042

// Outcome of one check run, carried in wParam of WM_CHECKRESULT.
enum CheckStatus {
    CHECK_NO_MAIL = 100,
    CHECK_NEW_MAIL = 101,
    CHECK_FAILED = 102,
    CHECK_AUTH_FAILED = 103
};

// What a successful IMAP check reports with WM_MAILBOXREPORT, beside its
// CheckStatus: the text, and what tells new arrivals from old mail.
struct MailboxReport {
    const char *text;
    DWORD uidValidity;  // UIDVALIDITY of INBOX: a change renumbers it
    DWORD uidNext;      // UIDNEXT: it grows with every arrival
    int canIdle;        // the server offers IDLE
};

// What the IDLE watch tells the main window.
enum IdleEvent {
    IDLE_CHANGED = 1,     // INBOX changed: a message came, went or changed flags
    IDLE_ENDED,           // the watch ended by itself: dropped, BYE, refresh failed
    IDLE_LOGIN_REFUSED,   // the server refused the watch's log-in
    IDLE_REFUSED,         // the server would not EXAMINE INBOX or IDLE
    IDLE_SERVER_LEFT      // BYE while idling: the server is going down
};

#endif
