// The exchange with the window over the headers of the newest new
// messages, which a check reads for the notice after a successful report
// and before the log-out, without changing the mailbox.
#ifndef TOLVARAN_SUMMARY_EXCHANGE_H
#define TOLVARAN_SUMMARY_EXCHANGE_H

#include <stddef.h>

#include "checkrun/check_run.h"
#include "notice/mail_summary.h"

// How long the header reads may take from the report: HEADER_BUDGET_MS,
// a variable so that the tests can shorten it.
extern int headerBudgetMs;

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

#endif
