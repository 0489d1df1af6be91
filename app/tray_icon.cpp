// The tray entry: the one NOTIFYICONDATAA record and the calls that add,
// update, restore and remove it, and the notices it shows.
#include "app/app.h"

#include <stddef.h>

#include "resources/resource.h"
#include "settings/settings.h"

HINSTANCE hInstance;
NOTIFYICONDATAA trayData;

// The first layout of the record: everything up to a 64-byte tooltip, 88
// bytes with 32-bit handles and 104 with 64-bit ones.
static_assert(NOTIFYICONDATAA_V1_SIZE == TRAY_RECORD_V1_SIZE, "first NOTIFYICONDATAA layout");
static_assert(offsetof(NOTIFYICONDATAA, szTip) + TRAY_TIP_SIZE == TRAY_RECORD_V1_SIZE,
              "tooltip ends the record");

static const char initialTip[] = "Tolvaran";
// The tooltip of several mailboxes, which goes in the record's UTF-16
// layout; empty while the record's own tooltip is shown.
static WCHAR wideTip[128];

// Fills data for the main window (clock icon, tooltip "Tolvaran") and adds the entry.
void AddTrayIcon(HWND hwnd, NOTIFYICONDATAA *data)
{
    ZeroMemory(data, sizeof *data);
    data->cbSize = NOTIFYICONDATAA_V1_SIZE;
    data->hWnd = hwnd;
    data->uID = TRAY_ICON_UID;
    data->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data->uCallbackMessage = WM_TRAYNOTIFY;
    data->hIcon = LoadTrayImage(hInstance, IDI_APP);
    CopyTextCut(data->szTip, TRAY_TIP_SIZE, initialTip);
    Shell_NotifyIconA(NIM_ADD, data);
}

// Puts the icon resource iconId into the record (shown by the next update).
void SetTrayIcon(int iconId)
{
    trayData.hIcon = LoadTrayImage(hInstance, iconId);
}

// Copies text into the record's tooltip, cut whole-character at 63 bytes.
void SetTrayTip(const char *text)
{
    CopyTextCut(trayData.szTip, TRAY_TIP_SIZE, text);
}

// Shows the record's icon and tooltip in the tray.
void UpdateTrayIcon(void)
{
    Shell_NotifyIconA(NIM_MODIFY, &trayData);
}

// Shows the record's icon with a tooltip of several lines, too long for the
// record's own 63 bytes: it goes as UTF-16, up to 127 units.
void UpdateTrayIconWide(const WCHAR *tip)
{
    if (tip == NULL) {
        wideTip[0] = 0;
        UpdateTrayIcon();
        return;
    }
    CopyWideCut(wideTip, ARRAYSIZE(wideTip), tip);
    NOTIFYICONDATAW data;
    ZeroMemory(&data, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = trayData.hWnd;
    data.uID = TRAY_ICON_UID;
    data.uFlags = NIF_ICON | NIF_TIP;
    data.hIcon = trayData.hIcon;
    CopyWideCut(data.szTip, ARRAYSIZE(data.szTip), wideTip);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

// Adds the entry again, as it is now, after the shell has lost it in a
// restart; the image is loaded afresh, as the scale may have changed too.
void RestoreTrayIcon(void)
{
    trayData.hIcon = LoadTrayImage(hInstance, TrayImageId());
    Shell_NotifyIconA(NIM_ADD, &trayData);
    if (wideTip[0] != 0) {
        WCHAR tip[ARRAYSIZE(wideTip)];
        CopyWideCut(tip, ARRAYSIZE(tip), wideTip);
        UpdateTrayIconWide(tip);
    }
}

// Takes the entry out of the tray.
void RemoveTrayIcon(void)
{
    Shell_NotifyIconA(NIM_DELETE, &trayData);
}

// Shows a notice of the tray entry, its title and text cut to fit. It goes
// as UTF-16, so that text outside code page 932 shows as itself, in a
// record larger than the entry's own, which stays in its first layout.
// NIIF_USER in flags shows the new-mail picture.
void ShowTrayNotice(const WCHAR *title, const WCHAR *text, DWORD flags)
{
    NOTIFYICONDATAW notice;
    ZeroMemory(&notice, sizeof notice);
    notice.cbSize = sizeof notice;
    notice.hWnd = trayData.hWnd;
    notice.uID = TRAY_ICON_UID;
    notice.uFlags = NIF_INFO;
    CopyWideCut(notice.szInfo, ARRAYSIZE(notice.szInfo), text);
    CopyWideCut(notice.szInfoTitle, ARRAYSIZE(notice.szInfoTitle), title);
    notice.dwInfoFlags = flags;
    if (flags & NIIF_USER)
        notice.hBalloonIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(IDI_NEW_MAIL));
    Shell_NotifyIconW(NIM_MODIFY, &notice);
}
