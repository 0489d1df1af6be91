// The headers of the newest new messages, fetched for the notice after a
// successful report and before the log-out, without changing the mailbox.
#ifndef TOLVARAN_NOTICE_HEADERS_H
#define TOLVARAN_NOTICE_HEADERS_H

#include <stddef.h>

#include "mailcheck/check_run.h"
#include "mailcheck/mail_summary.h"

struct ImapState;

// Asks the window whether its notice waits for a summary; 1 when it does,
// and then the header reads have a time of their own until SendSummary.
int SummaryWanted(CheckRun *run, NoticeRequest *request);

// A summary that has listed nothing yet and counts as failed.
void StartSummary(MailSummary *summary);

// Decodes one message's raw From and Subject lines into entry slot.
void DecodeSummaryEntry(MailSummary *summary, int slot, const char *header, size_t length);

// Hands the summary to the window; returns once it has been shown. The
// session has its own deadline again, unless the header reads used theirs up.
void SendSummary(CheckRun *run, const MailSummary *summary);

// IMAP: EXAMINE, UID SEARCH for the new unread messages and UID FETCH of
// their headers with BODY.PEEK, when the window wants them. Returns 0 when
// the server no longer listens (no LOGOUT then).
int FetchImapSummary(CheckRun *run, ImapState *imap);

// POP3: UIDL (or the count) for the new messages and TOP n 0 for the newest
// of them, when the window wants them; count is STAT's.
void FetchPop3Summary(CheckRun *run, int count);

#endif
