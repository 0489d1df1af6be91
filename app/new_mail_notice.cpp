// The notice shown when new mail has arrived since the last successful
// check: for POP3 the count went up; for IMAP new messages came in (UIDNEXT
// grew) and some are unseen, or without UIDNEXT the count went up.
#include "app/app.h"

#include <stdlib.h>

#include "mailcheck/mailcheck.h"
#include "resources/resource.h"
#include "settings/settings.h"

// Windows 7 and later keep the notice back during a new user's first hour
// and while Focus Assist is on.
#ifndef NIIF_RESPECT_QUIET_TIME
#define NIIF_RESPECT_QUIET_TIME 0x00000080
#endif

static const char noticeTitle[] = "Tolvaran";

// The count of the last successful check; the first one counts up from 0.
static int lastMailCount;
// The mailbox of the last successful IMAP check, if the last success was one.
static int haveLastMailbox;
static DWORD lastUidValidity;
static DWORD lastUidNext;

// Shows text as a notice of the tray entry. The notice needs a record larger
// than the tray's own, which stays in its first layout.
static void ShowNewMailNotice(const char *text)
{
    NOTIFYICONDATAA notice;
    ZeroMemory(&notice, sizeof notice);
    notice.cbSize = sizeof notice;
    notice.hWnd = trayData.hWnd;
    notice.uID = TRAY_ICON_UID;
    notice.uFlags = NIF_INFO;
    CopyTextCut(notice.szInfo, sizeof notice.szInfo, text);
    CopyTextCut(notice.szInfoTitle, sizeof notice.szInfoTitle, noticeTitle);
    notice.dwInfoFlags = NIIF_USER | NIIF_LARGE_ICON | NIIF_RESPECT_QUIET_TIME;
    notice.hBalloonIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(IDI_NEW_MAIL));
    Shell_NotifyIconA(NIM_MODIFY, &notice);
}

// Whether an IMAP check with count unseen saw new arrivals. The first one
// since start counts every unseen message as new, as POP3 counts up from 0;
// a changed UIDVALIDITY means the server renumbered its mailbox, which is
// no arrival.
static int MailboxGotNewMail(int count, const MailboxReport *mailbox)
{
    int arrived = count > 0 && (!haveLastMailbox || (mailbox->uidValidity == lastUidValidity &&
                                                     mailbox->uidNext > lastUidNext));
    haveLastMailbox = 1;
    lastUidValidity = mailbox->uidValidity;
    lastUidNext = mailbox->uidNext;
    return arrived;
}

// After a successful report: a notice once per arrival.
void NoteMailCount(WPARAM status, const char *text, const MailboxReport *mailbox)
{
    int count;
    if (status == CHECK_NO_MAIL)
        count = 0;
    else if (status == CHECK_NEW_MAIL && text != NULL)
        count = atoi(text);  // the report reads " N ..."
    else
        return;
    int arrived;
    // A STATUS without UIDNEXT leaves only the count to go by, as POP3's.
    if (mailbox != NULL && mailbox->uidNext != 0) {
        arrived = MailboxGotNewMail(count, mailbox);
    } else {
        arrived = count > lastMailCount;
        haveLastMailbox = 0;
    }
    if (arrived && mailSettings.notifyNewMail)
        ShowNewMailNotice(text);
    lastMailCount = count;
}
