// The modal settings dialog: shows MailSettings, and on OK stores and saves
// what the user typed.
#include "settings/settings_dialog.h"

#include <stdio.h>
#include <string.h>

#include "app/app.h"
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

// Reads one edit control into dest of the given capacity.
static void ReadField(HWND dialog, int id, char *dest, size_t capacity)
{
    char text[DIALOG_TEXT_SIZE];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    CopyTextCut(dest, capacity, text);
    SecureZeroMemory(text, sizeof text);
}

// Puts the dialog's bottom right corner on the bottom right of the work area.
static void PlaceAtWorkAreaCorner(HWND dialog)
{
    RECT work;
    RECT own;
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
    snprintf(minutes, sizeof minutes, "%d", mailSettings.intervalMs / MS_PER_MINUTE);

    // Only this thread writes the record, so reading it here needs no lock.
    SetDlgItemTextA(dialog, IDC_SERVER, mailSettings.serverName);
    SetDlgItemTextA(dialog, IDC_USER, mailSettings.userName);
    SetDlgItemTextA(dialog, IDC_PASSWORD, mailSettings.password);
    SetDlgItemTextA(dialog, IDC_INTERVAL, minutes);
    SetDlgItemTextA(dialog, IDC_LAUNCH_PROGRAM, mailSettings.launchProgram);
    SetDlgItemTextA(dialog, IDC_LAUNCH_PARAMETERS, mailSettings.launchParameters);

    PlaceAtWorkAreaCorner(dialog);

    SendDlgItemMessageA(dialog, IDC_SERVER, EM_SETSEL, 0, (LPARAM)strlen(mailSettings.serverName));
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
    memcpy(mailSettings.serverName, server, sizeof mailSettings.serverName);
    memcpy(mailSettings.userName, user, sizeof mailSettings.userName);
    memcpy(mailSettings.password, password, sizeof mailSettings.password);
    UnlockSettings();
    SecureZeroMemory(password, sizeof password);

    ReadField(dialog, IDC_LAUNCH_PROGRAM, mailSettings.launchProgram,
              sizeof mailSettings.launchProgram);
    ReadField(dialog, IDC_LAUNCH_PARAMETERS, mailSettings.launchParameters,
              sizeof mailSettings.launchParameters);

    // An empty, zero, negative or non-numeric interval would make checks
    // follow one another without pause; it gets the same one-minute floor
    // as loading.
    GetDlgItemTextA(dialog, IDC_INTERVAL, minutes, sizeof minutes);
    int interval = MinutesTextToMs(minutes);
    mailSettings.intervalMs = interval > 0 ? interval : MS_PER_MINUTE;

    SaveSettings(iniPath, loginName);
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
int RunSettingsDialog(HWND owner)
{
    if (dialogRunning) {
        if (openDialog != NULL)
            SetForegroundWindow(openDialog);
        return 0;
    }
    dialogRunning = 1;
    DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_SETTINGS), owner, SettingsDialogProc, 0);
    openDialog = NULL;
    dialogRunning = 0;
    return 1;
}
