// The modal settings dialog: shows MailSettings, and on OK stores and saves
// what the user typed.
#include "settings/settings_dialog.h"

#include <stdio.h>
#include <string.h>

#include "resources/resource.h"
#include "settings/settings.h"

// Larger than any field, so that a double-byte character cut by the read
// itself always lies beyond the field's capacity.
#define DIALOG_TEXT_SIZE  1024
#define MINUTES_TEXT_SIZE 256

// Set while RunSettingsDialog is inside DialogBoxParamA; the window is
// known from WM_INITDIALOG on.
static int dialogRunning;
static HWND openDialog;
// Set by OK when the INI file could not be written.
static int saveFailed;

// "設定を保存できませんでした。" (the settings could not be saved)
static const char saveFailedHead[] =
    "\x90\xdd\x92\xe8\x82\xf0\x95\xdb\x91\xb6\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5"
    "\x82\xb5\x82\xbd\x81\x42\n";
// "今回の設定は終了するまで有効です。" (they hold until the program ends)
static const char saveFailedTail[] =
    "\n\x8d\xa1\x89\xf1\x82\xcc\x90\xdd\x92\xe8\x82\xcd\x8f\x49\x97\xb9\x82\xb7\x82\xe9\x82\xdc"
    "\x82\xc5\x97\x4c\x8c\xf8\x82\xc5\x82\xb7\x81\x42";
static const char saveFailedCaption[] = "Tolvaran";

// Reads one edit control into dest of the given capacity.
static void ReadField(HWND dialog, int id, char *dest, size_t capacity)
{
    char text[DIALOG_TEXT_SIZE];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    CopyTextCut(dest, capacity, text);
    SecureZeroMemory(text, sizeof text);
}

// Puts the dialog's bottom right corner on the bottom right of the work area
// of the monitor that holds it. The dialog is already laid out at that
// monitor's DPI here, so its window rectangle is its real size.
static void PlaceAtWorkAreaCorner(HWND dialog)
{
    MONITORINFO monitor = {};
    RECT work;
    RECT own;
    monitor.cbSize = sizeof monitor;
    // On the primary monitor both calls give the same area on Windows, but
    // Wine's taskbar takes its row out of the SPI_GETWORKAREA area only.
    if (GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor) &&
        !(monitor.dwFlags & MONITORINFOF_PRIMARY))
        work = monitor.rcWork;
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(dialog, &own);
    int width = own.right - own.left;
    int height = own.bottom - own.top;
    SetWindowPos(dialog, HWND_TOP, work.right - width, work.bottom - height, width, height,
                 SWP_SHOWWINDOW);
}

// Fills the six fields, places the dialog and selects the server name.
static void InitSettingsDialog(HWND dialog)
{
    char minutes[16];

    openDialog = dialog;
    SendDlgItemMessageA(dialog, IDC_INTERVAL, EM_LIMITTEXT, 4, 0);
    snprintf(minutes, sizeof minutes, "%d", mailSettings.mailbox[0].intervalMs / MS_PER_MINUTE);

    // Only this thread writes the record, so reading it here needs no lock.
    SetDlgItemTextA(dialog, IDC_SERVER, mailSettings.mailbox[0].serverName);
    SetDlgItemTextA(dialog, IDC_USER, mailSettings.mailbox[0].userName);
    SetDlgItemTextA(dialog, IDC_PASSWORD, mailSettings.mailbox[0].password);
    SetDlgItemTextA(dialog, IDC_INTERVAL, minutes);
    SetDlgItemTextA(dialog, IDC_LAUNCH_PROGRAM, mailSettings.mailbox[0].launchProgram);
    SetDlgItemTextA(dialog, IDC_LAUNCH_PARAMETERS, mailSettings.mailbox[0].launchParameters);

    PlaceAtWorkAreaCorner(dialog);

    SendDlgItemMessageA(dialog, IDC_SERVER, EM_SETSEL, 0, (LPARAM)strlen(mailSettings.mailbox[0].serverName));
    SetFocus(GetDlgItem(dialog, IDC_SERVER));
}

// Stores the fields in mailSettings, saves them and closes with 1.
static void AcceptSettings(HWND dialog)
{
    char server[SERVER_NAME_SIZE];
    char user[USER_NAME_SIZE];
    char password[PASSWORD_SIZE];
    char minutes[MINUTES_TEXT_SIZE];

    // Read first and swap the three credentials in under one lock, so a
    // check run copies either all old or all new values.
    ReadField(dialog, IDC_SERVER, server, sizeof server);
    ReadField(dialog, IDC_USER, user, sizeof user);
    ReadField(dialog, IDC_PASSWORD, password, sizeof password);
    LockSettings();
    memcpy(mailSettings.mailbox[0].serverName, server, sizeof mailSettings.mailbox[0].serverName);
    memcpy(mailSettings.mailbox[0].userName, user, sizeof mailSettings.mailbox[0].userName);
    memcpy(mailSettings.mailbox[0].password, password, sizeof mailSettings.mailbox[0].password);
    UnlockSettings();
    SecureZeroMemory(password, sizeof password);

    ReadField(dialog, IDC_LAUNCH_PROGRAM, mailSettings.mailbox[0].launchProgram,
              sizeof mailSettings.mailbox[0].launchProgram);
    ReadField(dialog, IDC_LAUNCH_PARAMETERS, mailSettings.mailbox[0].launchParameters,
              sizeof mailSettings.mailbox[0].launchParameters);

    // An empty, zero, negative or non-numeric interval would make checks
    // follow one another without pause; it gets the same one-minute floor
    // as loading.
    GetDlgItemTextA(dialog, IDC_INTERVAL, minutes, sizeof minutes);
    int interval = MinutesTextToMs(minutes);
    mailSettings.mailbox[0].intervalMs = interval > 0 ? interval : MS_PER_MINUTE;

    if (!SaveSettings(iniPath, loginName, 0))
        saveFailed = 1;
    EndDialog(dialog, 1);
}

// The dialog procedure; it returns 0 for every message, handled or not.
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // 0 keeps the focus on the server name, where InitSettingsDialog put it.
        InitSettingsDialog(dialog);
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            AcceptSettings(dialog);
            break;
        case IDCANCEL:
            EndDialog(dialog, 0);
            break;
        }
        break;
    }
    return 0;
}

// Runs the dialog modally; a second request while it is open only brings
// the open one to the front.
int RunSettingsDialog(HINSTANCE instance, HWND owner)
{
    if (dialogRunning) {
        if (openDialog != NULL)
            SetForegroundWindow(openDialog);
        return SETTINGS_ALREADY_OPEN;
    }
    dialogRunning = 1;
    saveFailed = 0;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETTINGS), owner, SettingsDialogProc, 0);
    openDialog = NULL;
    dialogRunning = 0;
    return saveFailed ? SETTINGS_NOT_SAVED : SETTINGS_ENDED;
}

// Appends src to text of the given capacity at *length, cut whole-character.
static void AppendText(char *text, size_t capacity, size_t *length, const char *src)
{
    CopyTextCut(text + *length, capacity - *length, src);
    *length += strlen(text + *length);
}

// Tells the user, in the one message box of the program, that the settings
// could not be written to path and hold only until the program ends.
void ShowSaveFailure(HWND owner, const char *path)
{
    char text[sizeof saveFailedHead + INI_PATH_SIZE + sizeof saveFailedTail];
    size_t length = 0;
    text[0] = 0;
    AppendText(text, sizeof text, &length, saveFailedHead);
    AppendText(text, sizeof text, &length, path != NULL ? path : "");
    AppendText(text, sizeof text, &length, saveFailedTail);
    // The owner is the hidden main window: without the flag the box could
    // open behind the window the user is working in.
    MessageBoxA(owner, text, saveFailedCaption, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}
