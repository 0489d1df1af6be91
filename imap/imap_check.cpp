// The IMAP check: log-in, STATUS of INBOX, the report of its unseen
// messages, the headers for the notice when it waits for them, LOGOUT.
#include "imap/imap_check.h"

#include "checkrun/check_texts.h"
#include "imap/imap_headers.h"
#include "imap/imap_session.h"

// Reports the unseen count of INBOX with what marks new arrivals.
static void ReportMailbox(CheckRun *run, const ImapState *imap)
{
    MailboxReport mailbox;
    DWORD unseen = imap->status.unseen;
    int count = unseen > 0x7FFFFFFFu ? 0x7FFFFFFF : (int)unseen;
    mailbox.text = count == 0 ? textNoMail : run->tooltip;
    if (count != 0)
        FormatNewMailText(run->tooltip, sizeof run->tooltip, count);
    mailbox.uidValidity = imap->status.uidValidity;
    mailbox.uidNext = imap->status.uidNext;
    mailbox.canIdle = imap->capabilities > 0 && (imap->capabilities & IMAP_CAN_IDLE) != 0;
    CheckStatus status = count == 0 ? CHECK_NO_MAIL : CHECK_NEW_MAIL;
    SendMessageA(run->window, WM_MAILBOXREPORT, ReportParameter(run, status), (LPARAM)&mailbox);
    run->reported = 1;
}

// Logs in, asks STATUS of INBOX, reports and logs out; on failure logs out
// where the server still listens and keeps the outcome for the caller to
// report after the clean-up.
void TalkImap(CheckRun *run, const MailCredentials *credentials)
{
    ImapState state;
    ImapState *imap = &state;
    StartImapState(imap);
    if (!OpenImapSession(run, imap, credentials))
        return;
    ImapVerdict verdict = ImapCommand(run, imap, "STATUS INBOX (UNSEEN UIDNEXT UIDVALIDITY)", 0);
    if (verdict == VERDICT_OK && !imap->haveStatus) {
        EndImapFailed(run, imap, VERDICT_NO, CHECK_FAILED, textCommandFailed);
        return;
    }
    // A refused STATUS is the server's trouble, never the account's.
    if (verdict != VERDICT_OK) {
        EndImapFailed(run, imap, verdict, CHECK_FAILED, textServerBusy);
        return;
    }
    ReportMailbox(run, imap);
    // The report goes first, so the next interval counts from it; the
    // headers for the notice, when it waits for them, come after it.
    if (FetchImapSummary(run, imap))
        LogOutImap(run, imap);
}
