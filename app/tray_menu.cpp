// The tray menu and the program launched by a double click on the icon.
#include "app/app.h"

#include "resources/resource.h"
#include "settings/settings.h"

// With two mailboxes or more, "設定..." becomes the sub-menu "設定" that
// lists them by label, in number order; with all of them there, adding
// one more is greyed out.
static void FitMenuToMailboxes(HMENU popup)
{
    int count = MailboxCount();
    if (count >= MAILBOX_LIMIT)
        EnableMenuItem(popup, IDM_ADD_MAILBOX, MF_BYCOMMAND | MF_GRAYED);
    if (count < 2)
        return;
    HMENU mailboxes = CreatePopupMenu();
    if (mailboxes == NULL)
        return;
    for (int index = 0; index < count; index++) {
        WCHAR label[MAILBOX_LABEL_SIZE];
        MailboxLabel(index, label, ARRAYSIZE(label));
        AppendMenuW(mailboxes, MF_STRING, IDM_MAILBOX_SETTINGS + index, label);
    }
    WCHAR title[32];
    if (LoadStringW(hInstance, IDS_SETTINGS_MENU, title, ARRAYSIZE(title)) <= 0)
        title[0] = 0;
    // The sub-menu goes with the menu when the menu is destroyed.
    if (!ModifyMenuW(popup, IDM_SETTINGS, MF_BYCOMMAND | MF_POPUP | MF_STRING, (UINT_PTR)mailboxes, title))
        DestroyMenu(mailboxes);
}

// Shows the tray menu at the mouse cursor; the choice comes back as WM_COMMAND.
int ShowTrayMenu(HWND hwnd)
{
    HMENU menu = LoadMenuA(hInstance, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    if (menu == NULL)
        return 0;
    HMENU popup = GetSubMenu(menu, 0);
    FitMenuToMailboxes(popup);
    POINT cursor = {};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere; the WM_NULL after it lets the next click reach the menu.
    SetForegroundWindow(hwnd);
    TrackPopupMenu(popup, TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, hwnd, NULL);
    PostMessageA(hwnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
    return 0;
}

// Opens mailbox index's program with its parameters through the shell, or
// mailbox 1's where it has none; with no program set, nothing.
void LaunchProgram(HWND hwnd, int index)
{
    const MailboxSettings *box = &mailSettings.mailbox[index];
    if (box->launchProgram[0] == '\0')
        box = &mailSettings.mailbox[0];
    if (box->launchProgram[0] == '\0')
        return;
    ShellExecuteA(hwnd, "open", box->launchProgram, box->launchParameters, NULL, SW_SHOWDEFAULT);
}
