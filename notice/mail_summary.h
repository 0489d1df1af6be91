// Who wrote the newest new messages and about what: asked for by the main
// window when its notice is due, gathered by the check before it logs out.
#ifndef TOLVARAN_MAIL_SUMMARY_H
#define TOLVARAN_MAIL_SUMMARY_H

#include <windows.h>

#include "checkrun/check_limits.h"

// The UTF-16 units (with the NUL) kept of each message's sender and subject.
#define SUMMARY_SENDER_SIZE   64
#define SUMMARY_SUBJECT_SIZE  128

// What the window answers to WM_NOTICEWANTED, sent right after a report
// that succeeded. wanted stays 0 unless the window waits for a summary.
struct NoticeRequest {
    int wanted;
    int firstCheck;  // the first success since start: every unread message is new
    DWORD sinceUid;  // IMAP: the UIDNEXT of the last success
    int oldCount;    // POP3: the count of the last success
};

enum SummaryOutcome {
    SUMMARY_FAILED,   // the headers could not be had: the notice gives the count
    SUMMARY_LISTED,   // listed messages, newest first
    SUMMARY_NONE_NEW  // the new messages were read or gone before the check
};

// Sent with WM_MAILSUMMARY once the headers are in, or have failed.
struct MailSummary {
    SummaryOutcome outcome;
    int newCount;  // new messages in all, listed or not
    int listed;
    WCHAR sender[SUMMARY_MESSAGES][SUMMARY_SENDER_SIZE];
    WCHAR subject[SUMMARY_MESSAGES][SUMMARY_SUBJECT_SIZE];
};

#endif
