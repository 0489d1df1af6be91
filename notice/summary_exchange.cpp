// The summary of the newest new messages: asked for by the window, decoded
// here on the check's thread, and handed back in one message.
#include "notice/summary_exchange.h"

#include <string.h>

#include "headers/header_decode.h"
#include "notice/header_reader.h"

int headerBudgetMs = HEADER_BUDGET_MS;

// Asks the window whether its notice waits for a summary. If it does, the
// header reads have headerBudgetMs from now, within the session's deadline.
int SummaryWanted(CheckRun *run, NoticeRequest *request)
{
    memset(request, 0, sizeof *request);
    SendMessageA(run->window, WM_NOTICEWANTED, (WPARAM)run->number, (LPARAM)request);
    if (request->wanted) {
        DWORD budgetEnd = GetTickCount() + (DWORD)headerBudgetMs;
        run->headerDeadline = run->connection.deadline;
        if ((int)(budgetEnd - run->connection.deadline) < 0)
            run->connection.deadline = budgetEnd;
    }
    return request->wanted;
}

// A summary that has listed nothing yet and counts as failed.
void StartSummary(MailSummary *summary)
{
    memset(summary, 0, sizeof *summary);
    summary->outcome = SUMMARY_FAILED;
}

// Decodes one message's From and Subject lines into slot; no more than a
// few kilobytes of them are looked at.
void DecodeSummaryEntry(MailSummary *summary, int slot, const char *header, size_t length)
{
    if (slot < 0 || slot >= SUMMARY_MESSAGES)
        return;
    if (length > HEADER_KEEP_SIZE)
        length = HEADER_KEEP_SIZE;
    DecodeMailSummary(header, length, summary->sender[slot], SUMMARY_SENDER_SIZE, summary->subject[slot],
                      SUMMARY_SUBJECT_SIZE);
}

// Hands the summary to the window, and the session its own deadline back
// for the log-out; not when the header reads ran out of time, since a
// server still in the middle of an answer cannot be logged out of.
void SendSummary(CheckRun *run, const MailSummary *summary)
{
    SendMessageA(run->window, WM_MAILSUMMARY, (WPARAM)run->number, (LPARAM)summary);
    if (!run->connection.expired)
        run->connection.deadline = run->headerDeadline;
}
