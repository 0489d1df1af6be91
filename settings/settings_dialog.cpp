// The modal settings dialog: shows one mailbox's settings, and on OK stores
// and saves what the user typed; for a new mailbox it adds one, and with an
// empty server after the first it asks whether to remove the mailbox.
#include "settings/settings_dialog.h"

#include <stdio.h>
#include <wchar.h>
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
static HINSTANCE dialogInstance;
// The mailbox the dialog edits, and whether it is a new one, added on OK.
static int editedIndex;
static int adding;
// Set by OK when the INI file could not be written.
static int saveFailed;
// How OK ended the dialog: SETTINGS_ENDED, SETTINGS_ADDED or SETTINGS_REMOVE.
static int acceptedAs;

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

// With two mailboxes or more, the caption carries the mailbox's label:
// "設定 - label".
static void ShowMailboxInCaption(HWND dialog)
{
    if (adding || (editedIndex == 0 && mailSettings.mailboxCount < 2))
        return;
    char label[MAILBOX_LABEL_SIZE];
    MailboxLabelText(editedIndex, label, sizeof label);
    WCHAR caption[128];
    WCHAR wideLabel[MAILBOX_LABEL_SIZE];
    int length = GetWindowTextW(dialog, caption, 64);
    if (MultiByteToWideChar(932, 0, label, -1, wideLabel, MAILBOX_LABEL_SIZE) <= 0)
        wideLabel[0] = 0;
    _snwprintf(caption + length, 128 - length, L" - %ls", wideLabel);
    caption[127] = 0;
    SetWindowTextW(dialog, caption);
}

// Fills the six fields (empty for a new mailbox), places the dialog and
// selects the server name.
static void InitSettingsDialog(HWND dialog)
{
    static const MailboxSettings empty = {};
    const MailboxSettings *box = adding ? &empty : &mailSettings.mailbox[editedIndex];
    char minutes[16] = "";

    openDialog = dialog;
    SendDlgItemMessageA(dialog, IDC_INTERVAL, EM_LIMITTEXT, 4, 0);
    if (!adding)
        snprintf(minutes, sizeof minutes, "%d", box->intervalMs / MS_PER_MINUTE);

    // Only this thread writes the record, so reading it here needs no lock.
    SetDlgItemTextA(dialog, IDC_SERVER, box->serverName);
    SetDlgItemTextA(dialog, IDC_USER, box->userName);
    SetDlgItemTextA(dialog, IDC_PASSWORD, box->password);
    SetDlgItemTextA(dialog, IDC_INTERVAL, minutes);
    SetDlgItemTextA(dialog, IDC_LAUNCH_PROGRAM, box->launchProgram);
    SetDlgItemTextA(dialog, IDC_LAUNCH_PARAMETERS, box->launchParameters);
    ShowMailboxInCaption(dialog);

    PlaceAtWorkAreaCorner(dialog);

    SendDlgItemMessageA(dialog, IDC_SERVER, EM_SETSEL, 0, (LPARAM)strlen(box->serverName));
    SetFocus(GetDlgItem(dialog, IDC_SERVER));
}

// OK with an empty server for a mailbox after the first: a new one is not
// added; an existing one goes once the user says yes to the question.
static void AcceptEmptyServer(HWND dialog)
{
    if (adding) {
        EndDialog(dialog, 0);
        return;
    }
    WCHAR question[128];
    if (LoadStringW(dialogInstance, IDS_REMOVE_MAILBOX, question, ARRAYSIZE(question)) <= 0)
        question[0] = 0;
    if (MessageBoxW(dialog, question, L"Tolvaran", MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    acceptedAs = SETTINGS_REMOVE;
    EndDialog(dialog, 1);
}

// Stores the fields in mailSettings, saves them and closes with 1.
static void AcceptSettings(HWND dialog)
{
    char server[SERVER_NAME_SIZE];
    char user[USER_NAME_SIZE];
    char password[PASSWORD_SIZE];
    char minutes[MINUTES_TEXT_SIZE];

    ReadField(dialog, IDC_SERVER, server, sizeof server);
    if ((editedIndex > 0 || adding) && server[0] == '\0') {
        AcceptEmptyServer(dialog);
        return;
    }
    if (adding) {
        MailboxSettings fresh = {};
        int index = AddMailbox(&fresh);
        if (index < 0) {
            EndDialog(dialog, 0);
            return;
        }
        editedIndex = index;
        adding = 0;
        acceptedAs = SETTINGS_ADDED;
    }
    MailboxSettings *box = &mailSettings.mailbox[editedIndex];

    // Read first and swap the three credentials in under one lock, so a
    // check run copies either all old or all new values.
    ReadField(dialog, IDC_USER, user, sizeof user);
    ReadField(dialog, IDC_PASSWORD, password, sizeof password);
    LockSettings();
    memcpy(box->serverName, server, sizeof box->serverName);
    memcpy(box->userName, user, sizeof box->userName);
    memcpy(box->password, password, sizeof box->password);
    UnlockSettings();
    SecureZeroMemory(password, sizeof password);

    ReadField(dialog, IDC_LAUNCH_PROGRAM, box->launchProgram, sizeof box->launchProgram);
    ReadField(dialog, IDC_LAUNCH_PARAMETERS, box->launchParameters, sizeof box->launchParameters);

    // An empty, zero, negative or non-numeric interval would make checks
    // follow one another without pause; it gets the same one-minute floor
    // as loading.
    GetDlgItemTextA(dialog, IDC_INTERVAL, minutes, sizeof minutes);
    int interval = MinutesTextToMs(minutes);
    box->intervalMs = interval > 0 ? interval : MS_PER_MINUTE;

    if (!SaveSettings(iniPath, loginName, editedIndex))
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

// Runs the dialog modally for mailbox index (one past the last: a new
// mailbox); a second request while it is open only brings the open one to
// the front.
int RunSettingsDialog(HINSTANCE instance, HWND owner, int index)
{
    if (dialogRunning) {
        if (openDialog != NULL)
            SetForegroundWindow(openDialog);
        return SETTINGS_ALREADY_OPEN;
    }
    dialogRunning = 1;
    dialogInstance = instance;
    editedIndex = index;
    adding = index > 0 && index >= mailSettings.mailboxCount;
    saveFailed = 0;
    acceptedAs = SETTINGS_ENDED;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETTINGS), owner, SettingsDialogProc, 0);
    openDialog = NULL;
    dialogRunning = 0;
    if (acceptedAs == SETTINGS_REMOVE)
        return SETTINGS_REMOVE;
    if (acceptedAs == SETTINGS_ADDED)
        return saveFailed ? SETTINGS_ADDED_NOT_SAVED : SETTINGS_ADDED;
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
