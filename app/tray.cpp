// The tray controller: the main window's procedure, the check schedule and
// the reports of the check runs.
#include "app/app.h"

#include <process.h>
#include <string.h>

#include "checkrun/check_messages.h"
#include "checkrun/check_texts.h"
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
// One check runs at a time, from its connect until its socket is closed:
// the report comes before the headers for the notice and the log-out, and a
// server that locks the mailbox for a session would refuse a second log-in
// meanwhile. A start asked meanwhile brings one check after the close.
static int checkRunning;
static int checkWanted;
// The number of the check last started, and of the newest report shown.
static int checkNumber;
static int shownNumber;
// The check's thread routine; a variable, so that the tests can hold checks.
void(__cdecl *checkThreadRoutine)(void *) = NumberedCheckThread;

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
    // A window just made has no check of its own yet.
    checkRunning = checkWanted = 0;
    shownNumber = 0;
    StartNetworkWatch(hwnd);
}

// Arms the one-shot check timer with the current interval.
static void ArmCheckTimer(HWND hwnd)
{
    // The timer takes its delay unsigned: a negative interval means the
    // longest delay it knows rather than a wrapped-around value.
    UINT delay = mailSettings.mailbox[0].intervalMs < 0 ? USER_TIMER_MAXIMUM : (UINT)mailSettings.mailbox[0].intervalMs;
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
    if (first && mailSettings.mailbox[0].serverName[0] == '\0')
        RunSettingsCommand(hwnd);
    else
        SendMessageA(hwnd, WM_STARTCHECK, 0, 0);
}

// One of the window's timers: the recovery checks' own, the IDLE watch's,
// or the schedule's.
static void OnTimer(HWND hwnd, UINT_PTR timer)
{
    if (!OnRecoveryTimer(hwnd, timer, checkTimerArmed) && !OnIdleTimer(hwnd, timer))
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

// Starts one check run on a thread of its own, numbered after the last;
// nothing waits for it. While one runs, the start is kept for its end.
static void StartCheckRun(HWND hwnd)
{
    if (checkRunning) {
        checkWanted = 1;
        return;
    }
    CheckStart *start = (CheckStart *)HeapAlloc(GetProcessHeap(), 0, sizeof *start);
    if (start == NULL)
        return;
    // 1 to 65535, as a report's wParam carries it; 0 is a run not numbered.
    int number = checkNumber % 0xFFFF + 1;
    start->window = hwnd;
    start->number = number;
    if (_beginthread(checkThreadRoutine, 0, start) == (uintptr_t)-1) {
        HeapFree(GetProcessHeap(), 0, start);
        return;
    }
    checkNumber = number;
    checkRunning = 1;
}

// Whether a report numbered number is to be shown: one not numbered, or
// one of a check no older than the newest shown, which it then becomes.
static int ReportIsCurrent(int number)
{
    if (number == 0)
        return 1;
    // Numbers wrap round; a check more than 32767 starts older is long gone.
    if (shownNumber != 0 && (short)(WORD)(number - shownNumber) < 0)
        return 0;
    shownNumber = number;
    return 1;
}

// The running check's session is over: a notice still waiting for its
// headers gives the count, and a start asked meanwhile starts the next.
static void OnCheckEnded(HWND hwnd, int number)
{
    NoteCheckEndedForNotice(number);
    if (!checkRunning || number != checkNumber)
        return;
    checkRunning = 0;
    if (checkWanted) {
        checkWanted = 0;
        StartCheckRun(hwnd);
    }
}

// Whether a failure passes by itself: the server refused for now.
static int FailurePasses(LPARAM text)
{
    return text != 0 && strcmp((const char *)text, textServerBusy) == 0;
}

// Shows a check run's report; success and a failure that passes re-arm the
// timer, any other failure leaves it. An IMAP check's success comes with
// its mailbox, which decides the notice.
static void ShowReport(HWND hwnd, WPARAM status, LPARAM text, const MailboxReport *mailbox, int number)
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
        if (FailurePasses(text))
            ArmCheckTimer(hwnd);
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
    NoteMailCount(status, (const char *)text, mailbox, number);
    if (mailbox != NULL)
        NoteMailboxForIdle(hwnd, mailbox);
}

// A check run's report: shown unless a newer one is. The check goes on
// until its session is over.
static void OnCheckResult(HWND hwnd, WPARAM wParam, LPARAM text, const MailboxReport *mailbox)
{
    int number = HIWORD(wParam);
    if (ReportIsCurrent(number))
        ShowReport(hwnd, LOWORD(wParam), text, mailbox, number);
}

// An IMAP check's success: its text and mailbox in one record.
static void OnMailboxReport(HWND hwnd, WPARAM wParam, const MailboxReport *mailbox)
{
    OnCheckResult(hwnd, wParam, (LPARAM)mailbox->text, mailbox);
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
    case WM_CHECKENDED:
        OnCheckEnded(hwnd, (int)wParam);
        return 0;
    case WM_NOTICEWANTED:
        OnNoticeWanted((int)wParam, (NoticeRequest *)lParam);
        return 0;
    case WM_MAILSUMMARY:
        OnMailSummary((int)wParam, (const MailSummary *)lParam);
        return 0;
    case WM_IDLEWATCH:
        OnIdleWatch(hwnd, wParam, lParam);
        return 0;
    case WM_SERVERALERT:
        ShowServerAlert((const char *)lParam);
        return 0;
    case WM_NETWORKCHANGED:
        OnNetworkChanged(hwnd, checkTimerArmed);
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
