// The notice of a server's [ALERT]: text the server means for the user,
// such as why it refused the log-in. Each text is shown once per run of the
// program, not on every check.
#include "app/app.h"

#include <string.h>

#include "checkrun/check_limits.h"

// The texts shown so far; when all are taken the oldest makes room.
#define REMEMBERED_ALERTS 8

static char shownAlerts[REMEMBERED_ALERTS][ALERT_TEXT_SIZE];
static int nextAlert;

// Whether text has been shown already in this run; if not, remembers it.
static int AlertShownBefore(const char *text, size_t length)
{
    for (int i = 0; i < REMEMBERED_ALERTS; i++)
        if (strncmp(shownAlerts[i], text, ALERT_TEXT_SIZE) == 0)
            return 1;
    memcpy(shownAlerts[nextAlert], text, length);
    shownAlerts[nextAlert][length] = 0;
    nextAlert = (nextAlert + 1) % REMEMBERED_ALERTS;
    return 0;
}

// Shows the UTF-8 text of an [ALERT] as a notice of the tray entry, unless
// it has been shown in this run; with two mailboxes or more it is titled
// with the label of mailbox index (-1: not known). The check gives at most
// ALERT_TEXT_SIZE bytes with the NUL, which fit the notice's text as UTF-16.
void ShowServerAlert(int index, const char *text)
{
    if (text == NULL)
        return;
    size_t length = strnlen(text, ALERT_TEXT_SIZE - 1);
    if (length == 0 || AlertShownBefore(text, length))
        return;
    WCHAR wide[ALERT_TEXT_SIZE];
    int count = MultiByteToWideChar(CP_UTF8, 0, text, (int)length, wide, ALERT_TEXT_SIZE - 1);
    wide[count > 0 ? count : 0] = 0;
    WCHAR title[MAILBOX_LABEL_SIZE] = L"Tolvaran";
    if (index >= 0 && MailboxCount() > 1)
        MailboxLabel(index, title, ARRAYSIZE(title));
    // Not held back in quiet time: shown once, it would be lost there.
    ShowTrayNotice(title, wide, NIIF_WARNING);
}
