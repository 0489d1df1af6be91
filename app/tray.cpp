// The tray controller: the main window's procedure, the check schedule and
// the reports of the check runs.
#include "app/app.h"

#include <process.h>

#include "mailcheck/mailcheck.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"

// Sent by the shell to every top-level window when it has (re)started.
static UINT taskbarCreatedMessage;
// The check timer is counting down.
static int checkTimerArmed;
// The timer that fires first after start-up has not fired yet.
static int firstTimerDue;

// Whether a timed check is coming.
int CheckTimerArmed(void)
{
    return checkTimerArmed;
}

// Adds the tray entry and arms the first check for as soon as the loop runs.
static void OnCreate(HWND hwnd)
{
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    AddTrayIcon(hwnd, &trayData);
    SetTimer(hwnd, ID_CHECK_TIMER, 0, NULL);
    checkTimerArmed = 1;
    firstTimerDue = 1;
    StartNetworkWatch(hwnd);
}

// Arms the one-shot check timer with the current interval.
static void ArmCheckTimer(HWND hwnd)
{
    // The timer takes its delay unsigned: a negative interval means the
    // longest delay it knows rather than a wrapped-around value.
    UINT delay = mailSettings.intervalMs < 0 ? USER_TIMER_MAXIMUM : (UINT)mailSettings.intervalMs;
    SetTimer(hwnd, ID_CHECK_TIMER, delay, NULL);
    checkTimerArmed = 1;
}

// The settings dialog; every close of it starts a fresh check, and a save
// that failed is told while that check runs.
static void RunSettingsCommand(HWND hwnd)
{
    int ended = RunSettingsDialog(hInstance, hwnd);
    if (ended == SETTINGS_ALREADY_OPEN)
        return;
    OnSettingsChangedForIdle(hwnd);
    SendMessageA(hwnd, WM_STARTCHECK, 0, 0);
    if (ended == SETTINGS_NOT_SAVED)
        ShowSaveFailure(hwnd, iniPath);
}

// The timed check is due: the timer is one-shot, so it goes off first. With
// no server to check at start-up, the settings come first instead: the user
// of a new install sees where they are, and their closing starts the check.
static void OnCheckTimer(HWND hwnd)
{
    KillTimer(hwnd, ID_CHECK_TIMER);
    checkTimerArmed = 0;
    int first = firstTimerDue;
    firstTimerDue = 0;
    if (first && mailSettings.serverName[0] == '\0')
        RunSettingsCommand(hwnd);
    else
        SendMessageA(hwnd, WM_STARTCHECK, 0, 0);
}

// One of the window's timers: the recovery checks' own, the IDLE watch's,
// or the schedule's.
static void OnTimer(HWND hwnd, UINT_PTR timer)
{
    if (!OnRecoveryTimer(hwnd, timer) && !OnIdleTimer(hwnd, timer))
        OnCheckTimer(hwnd);
}

// Sleep and resume; the message wants TRUE back.
static LRESULT OnPowerBroadcast(HWND hwnd, WPARAM event)
{
    if (event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND)
        OnResume(hwnd);
    else if (event == PBT_APMSUSPEND)
        OnSuspend(hwnd);
    return TRUE;
}

// Starts one check run on a thread of its own; nothing waits for it.
static void StartCheckRun(HWND hwnd)
{
    _beginthread(MailCheckThread, 0, hwnd);
}

// Shows a check run's report; success re-arms the timer, failure leaves it.
// An IMAP check's success comes with its mailbox, which decides the notice.
static void OnCheckResult(HWND hwnd, WPARAM status, LPARAM text, const MailboxReport *mailbox)
{
    switch (status) {
    case CHECK_NO_MAIL:
        SetTrayIcon(IDI_NO_MAIL);
        ArmCheckTimer(hwnd);
        break;
    case CHECK_NEW_MAIL:
        SetTrayIcon(IDI_NEW_MAIL);
        ArmCheckTimer(hwnd);
        break;
    case CHECK_FAILED:
        SetTrayIcon(IDI_CHECK_ERROR);
        break;
    case CHECK_AUTH_FAILED:
        SetTrayIcon(IDI_AUTH_ERROR);
        break;
    default:
        break;
    }
    if (text != 0)
        SetTrayTip((const char *)text);
    UpdateTrayIcon();
    NoteReportForRecovery(status, (const char *)text);
    NoteMailCount(status, (const char *)text, mailbox);
}

// An IMAP check's success: its text and mailbox in one record.
static void OnMailboxReport(HWND hwnd, WPARAM status, const MailboxReport *mailbox)
{
    OnCheckResult(hwnd, status, (LPARAM)mailbox->text, mailbox);
    NoteMailboxForIdle(hwnd, mailbox);
}

// Mouse on the tray icon: right-button release opens the menu, a double
// click or a click on the new-mail notice launches the user's program;
// everything else is ignored.
static void OnTrayNotify(HWND hwnd, WPARAM iconId, LPARAM mouseMessage)
{
    if (iconId != TRAY_ICON_UID)
        return;
    if (mouseMessage == WM_RBUTTONUP)
        ShowTrayMenu(hwnd);
    else if (mouseMessage == WM_LBUTTONDBLCLK || mouseMessage == NIN_BALLOONUSERCLICK)
        LaunchProgram(hwnd);
}

// A tray menu command.
static void OnCommand(HWND hwnd, WORD command)
{
    switch (command) {
    case IDM_CHECK_NOW:
        SendMessageA(hwnd, WM_STARTCHECK, 0, 0);
        break;
    case IDM_SETTINGS:
        RunSettingsCommand(hwnd);
        break;
    case IDM_EXIT:
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
        break;
    default:
        break;
    }
}

// Stops the schedule and takes the entry out of the tray before the window goes.
static void OnClose(HWND hwnd)
{
    KillTimer(hwnd, ID_CHECK_TIMER);
    checkTimerArmed = 0;
    StopRecoveryTimers(hwnd);
    StopNetworkWatch();
    // DONE and LOGOUT get a second; the exit does not wait longer.
    StopIdleWatch(hwnd, 1000);
    RemoveTrayIcon();
    DestroyWindow(hwnd);
}

// The main window's procedure; every message handled here returns 0.
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(hwnd);
        return 0;
    case WM_TIMER:
        OnTimer(hwnd, wParam);
        return 0;
    case WM_STARTCHECK:
        StartCheckRun(hwnd);
        return 0;
    case WM_CHECKRESULT:
        OnCheckResult(hwnd, wParam, lParam, NULL);
        return 0;
    case WM_MAILBOXREPORT:
        OnMailboxReport(hwnd, wParam, (const MailboxReport *)lParam);
        return 0;
    case WM_NOTICEWANTED:
        OnNoticeWanted((NoticeRequest *)lParam);
        return 0;
    case WM_MAILSUMMARY:
        OnMailSummary((const MailSummary *)lParam);
        return 0;
    case WM_IDLEWATCH:
        OnIdleWatch(hwnd, wParam, lParam);
        return 0;
    case WM_NETWORKCHANGED:
        OnNetworkChanged(hwnd);
        return 0;
    case WM_POWERBROADCAST:
        return OnPowerBroadcast(hwnd, wParam);
    case WM_TRAYNOTIFY:
        OnTrayNotify(hwnd, wParam, lParam);
        return 0;
    case WM_COMMAND:
        OnCommand(hwnd, LOWORD(wParam));
        return 0;
    case WM_CLOSE:
        OnClose(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        // The shell's restart message has a number known only at run time.
        if (taskbarCreatedMessage != 0 && message == taskbarCreatedMessage) {
            RestoreTrayIcon();
            return 0;
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
