// The one tray icon and tooltip for every mailbox. With one mailbox they
// are that mailbox's, exactly as they always were; with more, the icon
// tells the most pressing state of any, and the tooltip has a line each.
#include "app/app.h"

#include <wchar.h>

#include "checkrun/check_messages.h"
#include "resources/resource.h"

// The units of the tooltip in the record's UTF-16 layout, with the NUL.
#define WIDE_TIP_SIZE 128

// The icon of one report's status; 0 for a status that changes nothing.
static int StatusIcon(int status)
{
    switch (status) {
    case CHECK_NO_MAIL:
        return IDI_NO_MAIL;
    case CHECK_NEW_MAIL:
        return IDI_NEW_MAIL;
    case CHECK_FAILED:
        return IDI_CHECK_ERROR;
    case CHECK_AUTH_FAILED:
        return IDI_AUTH_ERROR;
    default:
        return 0;
    }
}

// The icon of count mailboxes, most pressing state first.
int MailboxesIcon(int count)
{
    static const int priority[] = {CHECK_NEW_MAIL, CHECK_AUTH_FAILED, CHECK_FAILED};
    for (int i = 0; i < count; i++)
        if (!mailboxRecords[i].check.reported)
            return IDI_APP;
    for (int status : priority)
        for (int i = 0; i < count; i++)
            if (mailboxRecords[i].check.status == status)
                return StatusIcon(status);
    return IDI_NO_MAIL;
}

// The tooltip of count mailboxes: a line "label: text" each, every line
// given an equal share of the units; a line too long loses its label's end
// first (the whole label when less than two characters of it would stay),
// then its text's end.
void FormatMailboxesTip(int count, WCHAR *tip, int capacity)
{
    int lines = 0;
    for (int i = 0; i < count; i++)
        lines += mailboxRecords[i].check.reported;
    int share = lines > 0 ? (capacity - 1 - (lines - 1)) / lines : 0;
    int at = 0;
    tip[0] = 0;
    for (int i = 0; i < count && share > 0; i++) {
        const CheckState *check = &mailboxRecords[i].check;
        if (!check->reported)
            continue;
        WCHAR text[WIDE_TIP_SIZE];
        CountTextToWide(check->text, text, share + 1);
        int room = share - (int)wcslen(text) - 2;  // ": " after the label
        if (at > 0)
            tip[at++] = L'\n';
        WCHAR label[MAILBOX_LABEL_SIZE];
        MailboxLabel(i, label, ARRAYSIZE(label));
        if (label[0] != 0 && ((int)wcslen(label) <= room || room >= 3)) {
            at += CopyWideCut(tip + at, room + 1, label);
            tip[at++] = L':';
            tip[at++] = L' ';
        }
        at += CopyWideCut(tip + at, capacity - at, text);
    }
    tip[at] = 0;
}

// Shows several mailboxes: the icon by priority, a tooltip line each.
static void ShowSeveral(int count)
{
    SetTrayIcon(MailboxesIcon(count));
    WCHAR tip[WIDE_TIP_SIZE];
    FormatMailboxesTip(count, tip, ARRAYSIZE(tip));
    UpdateTrayIconWide(tip);
}

// Mailbox index has shown a report: its state is kept, and the tray shows
// every mailbox's.
void ShowMailboxesInTray(int index, int status, const char *text)
{
    CheckState *check = &mailboxRecords[index].check;
    check->reported = 1;
    check->status = status;
    if (text != NULL)
        CopyTextCut(check->text, sizeof check->text, text);
    int count = MailboxCount();
    if (count == 1) {
        int icon = StatusIcon(status);
        if (icon != 0)
            SetTrayIcon(icon);
        if (text != NULL)
            SetTrayTip(text);
        UpdateTrayIcon();
        return;
    }
    ShowSeveral(count);
}

// Shows the mailboxes there are now, after one was removed: down to one,
// its own icon and text in the record's own tooltip, as before there were
// more.
void RefreshTray(void)
{
    int count = MailboxCount();
    if (count > 1) {
        ShowSeveral(count);
        return;
    }
    const CheckState *check = &mailboxRecords[0].check;
    SetTrayIcon(check->reported && StatusIcon(check->status) != 0 ? StatusIcon(check->status) : IDI_APP);
    if (check->reported)
        SetTrayTip(check->text);
    UpdateTrayIconWide(NULL);
}
