// The notice shown when new mail has arrived since the last successful
// check: for POP3 the count went up; for IMAP new messages came in (UIDNEXT
// grew) and some are unseen, or without UIDNEXT the count went up.
#include "app/app.h"

#include <stdlib.h>
#include <wchar.h>

#include "checkrun/check_limits.h"
#include "checkrun/check_messages.h"
#include "notice/mail_summary.h"
#include "resources/resource.h"
#include "settings/settings.h"

// Windows 7 and later keep the notice back during a new user's first hour
// and while Focus Assist is on.
#ifndef NIIF_RESPECT_QUIET_TIME
#define NIIF_RESPECT_QUIET_TIME 0x00000080
#endif

static const WCHAR noticeTitle[] = L"Tolvaran";

int noticeMailbox;

// Shows mailbox index's new-mail notice, with the new-mail picture.
static void ShowNotice(int index, const WCHAR *title, const WCHAR *text)
{
    noticeMailbox = index;
    ShowTrayNotice(title, text, NIIF_USER | NIIF_LARGE_ICON | NIIF_RESPECT_QUIET_TIME);
}

// The title of a notice that names the messages: the count, and with two
// mailboxes or more the mailbox before it ("label: 3 件の新着メールがあります").
static void NoticeTitle(int index, const char *countText, WCHAR *title, int capacity)
{
    WCHAR count[ARRAYSIZE(((NOTIFYICONDATAW *)0)->szInfoTitle)];
    CountTextToWide(countText, count, ARRAYSIZE(count));
    if (MailboxCount() == 1) {
        CopyWideCut(title, capacity, count);
        return;
    }
    WCHAR label[MAILBOX_LABEL_SIZE];
    MailboxLabel(index, label, ARRAYSIZE(label));
    WCHAR both[MAILBOX_LABEL_SIZE + ARRAYSIZE(count) + 2];
    wcscpy(both, label);
    wcscat(both, L": ");
    wcscat(both, count);
    CopyWideCut(title, capacity, both);
}

// The notice that gives only the count: the report's text under the
// program's name, or with two mailboxes or more under "label: count".
static void ShowCountNotice(int index, const char *text)
{
    WCHAR wide[ARRAYSIZE(((NOTIFYICONDATAW *)0)->szInfo)];
    int length = MultiByteToWideChar(932, 0, text, -1, wide, ARRAYSIZE(wide));
    if (length <= 0)
        wide[0] = 0;
    WCHAR title[ARRAYSIZE(((NOTIFYICONDATAW *)0)->szInfoTitle)];
    if (MailboxCount() == 1)
        CopyWideCut(title, ARRAYSIZE(title), noticeTitle);
    else
        NoticeTitle(index, text, title, ARRAYSIZE(title));
    ShowNotice(index, title, wide);
}

// Whether an IMAP check with count unseen saw new arrivals. The first one
// since start counts every unseen message as new, as POP3 counts up from 0;
// a changed UIDVALIDITY means the server renumbered its mailbox, which is
// no arrival.
static int MailboxGotNewMail(NoticeState *notice, int count, const MailboxReport *mailbox)
{
    int arrived = count > 0 && (!notice->haveLastMailbox || (mailbox->uidValidity == notice->lastUidValidity &&
                                                             mailbox->uidNext > notice->lastUidNext));
    notice->haveLastMailbox = 1;
    notice->lastUidValidity = mailbox->uidValidity;
    notice->lastUidNext = mailbox->uidNext;
    return arrived;
}

// A notice that waited for headers that never came gives the count.
static void ShowPendingCount(int index)
{
    NoticeState *notice = &mailboxRecords[index].notice;
    if (!notice->pending)
        return;
    notice->pending = 0;
    ShowCountNotice(index, notice->pendingCountText);
}

// After a successful report: a notice once per arrival. With senders and
// subjects wanted, it waits for the check's summary. A later report leaves
// a waiting notice alone, unless it brings one of its own: then the one
// that waited shows at once, with the count.
void NoteMailCount(int index, WPARAM status, const char *text, const MailboxReport *mailbox, int number)
{
    NoticeState *notice = &mailboxRecords[index].notice;
    int count;
    if (status == CHECK_NO_MAIL)
        count = 0;
    else if (status == CHECK_NEW_MAIL && text != NULL)
        count = atoi(text);  // the report reads " N ..."
    else
        return;
    NoticeRequest request = {1, mailbox == NULL ? 0 : !notice->haveLastMailbox, notice->lastUidNext,
                             notice->lastMailCount};
    int arrived;
    // A STATUS without UIDNEXT leaves only the count to go by, as POP3's.
    if (mailbox != NULL && mailbox->uidNext != 0) {
        arrived = MailboxGotNewMail(notice, count, mailbox);
    } else {
        arrived = count > notice->lastMailCount;
        notice->haveLastMailbox = 0;
    }
    if (arrived && mailSettings.notifyNewMail == NOTICE_COUNT_ONLY) {
        ShowCountNotice(index, text);
    } else if (arrived && mailSettings.notifyNewMail == NOTICE_WHO_AND_WHAT) {
        ShowPendingCount(index);
        notice->pending = 1;
        notice->pendingNumber = number;
        notice->pendingRequest = request;
        CopyTextCut(notice->pendingCountText, sizeof notice->pendingCountText, text);
    }
    notice->lastMailCount = count;
}

// The check asks, right after its report, whether a notice waits for the
// headers of the new messages.
void OnNoticeWanted(int index, int number, NoticeRequest *request)
{
    const NoticeState *notice = &mailboxRecords[index].notice;
    if (notice->pending && number == notice->pendingNumber)
        *request = notice->pendingRequest;
    else
        request->wanted = 0;
}

// A check's session is over: if its notice still waits, the headers will
// not come.
void NoteCheckEndedForNotice(int index, int number)
{
    if (number == mailboxRecords[index].notice.pendingNumber)
        ShowPendingCount(index);
}

// The check's summary: the notice that waited for it names the newest
// messages, falls back to the count when the headers could not be had, and
// is dropped when no new message is left unread.
void OnMailSummary(int index, int number, const MailSummary *summary)
{
    NoticeState *notice = &mailboxRecords[index].notice;
    if (!notice->pending || number != notice->pendingNumber)
        return;
    notice->pending = 0;
    if (summary->outcome == SUMMARY_NONE_NEW)
        return;
    if (summary->outcome != SUMMARY_LISTED || summary->listed <= 0) {
        ShowCountNotice(index, notice->pendingCountText);
        return;
    }
    WCHAR title[ARRAYSIZE(((NOTIFYICONDATAW *)0)->szInfoTitle)];
    WCHAR text[ARRAYSIZE(((NOTIFYICONDATAW *)0)->szInfo)];
    NoticeTitle(index, notice->pendingCountText, title, ARRAYSIZE(title));
    FormatSummaryNotice(summary, text, ARRAYSIZE(text));
    ShowNotice(index, title, text);
}
