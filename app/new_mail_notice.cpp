// The notice shown when more mail waits than at the last successful check.
#include "app/app.h"

#include <stdlib.h>

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

// After a successful report: a notice when the count went up, once per arrival.
void NoteMailCount(WPARAM status, const char *text)
{
    int count;
    if (status == CHECK_NO_MAIL)
        count = 0;
    else if (status == CHECK_NEW_MAIL && text != NULL)
        count = atoi(text);  // the report reads " N ..."
    else
        return;
    if (count > lastMailCount && mailSettings.notifyNewMail)
        ShowNewMailNotice(text);
    lastMailCount = count;
}
