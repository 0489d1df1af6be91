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
// The timer that fires first after start-up has not fired yet.
static int firstTimerDue;
// The number of the check last started, of any mailbox: numbers are never
// shared, so each message a check sends finds its mailbox by it.
static int lastCheckNumber;
// The check's thread routine; a variable, so that the tests can hold checks.
void(__cdecl *checkThreadRoutine)(void *) = NumberedCheckThread;
// Mailboxes that start together start this far apart: servers such as
// Gmail refuse a burst of log-ins from one address.
UINT mailboxSpacingMs = 1000;

// The mailbox of a check's message by its number, or -1 for a check no
// mailbox runs now. A run not numbered (0) is mailbox 1's.
static int MailboxOfCheck(int number)
{
    if (number == 0)
        return 0;
    for (int index = 0; index < MAILBOX_LIMIT; index++)
        if (mailboxRecords[index].check.number == number)
            return index;
    return -1;
}

// Adds the tray entry and arms the first check for as soon as the loop runs.
static void OnCreate(HWND hwnd)
{
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    AddTrayIcon(hwnd, &trayData);
    // A window just made has no check of its own yet.
    for (MailboxRecord &record : mailboxRecords)
        record.check = CheckState();
    // The settings are read after the window is made: the other mailboxes'
    // first checks are armed when mailbox 1's first timer fires.
    SetTimer(hwnd, ID_CHECK_TIMER, 0, NULL);
    mailboxRecords[0].check.timerArmed = 1;
    firstTimerDue = 1;
    StartNetworkWatch(hwnd);
}

// Stops every timer of mailbox index: its schedule's and its watch's.
static void KillMailboxTimers(HWND hwnd, int index)
{
    static const int bases[] = {ID_CHECK_TIMER, ID_IDLE_CHANGE_TIMER, ID_IDLE_START_TIMER, ID_IDLE_BYE_TIMER};
    for (int base : bases)
        KillTimer(hwnd, MAILBOX_TIMER(base, index));
}

// Arms mailbox index's one-shot check timer with its current interval.
static void ArmCheckTimer(HWND hwnd, int index)
{
    // The timer takes its delay unsigned: a negative interval means the
    // longest delay it knows rather than a wrapped-around value.
    int interval = mailSettings.mailbox[index].intervalMs;
    UINT delay = interval < 0 ? USER_TIMER_MAXIMUM : (UINT)interval;
    SetTimer(hwnd, MAILBOX_TIMER(ID_CHECK_TIMER, index), delay, NULL);
    mailboxRecords[index].check.timerArmed = 1;
}

static void StartCheckRun(HWND hwnd, int index);

// Takes mailbox index out of the file, the settings and the window: its
// watch and timers stop, the records after it move down one, and the tray
// shows what is left.
static void RemoveMailboxEverywhere(HWND hwnd, int index)
{
    int count = MailboxCount();
    StopMailboxWatches(hwnd, index);
    for (int i = index; i < count; i++)
        KillMailboxTimers(hwnd, i);
    RemoveMailbox(iniPath, loginName, index);
    for (int i = index; i + 1 < count; i++)
        mailboxRecords[i] = mailboxRecords[i + 1];
    mailboxRecords[count - 1] = MailboxRecord();
    for (int i = index; i < MailboxCount(); i++)
        if (mailboxRecords[i].check.timerArmed)
            ArmCheckTimer(hwnd, i);
    RefreshTray();
}

// The settings dialog of mailbox index (the count of mailboxes: a new
// one). Every close of an existing mailbox's dialog starts a fresh check of
// it, a new mailbox is checked at once, and a save that failed is told
// while that check runs; an emptied server removes its mailbox.
static void RunSettingsCommand(HWND hwnd, int index)
{
    int count = mailSettings.mailboxCount;
    int ended = RunSettingsDialog(hInstance, hwnd, index);
    if (ended == SETTINGS_ALREADY_OPEN)
        return;
    if (ended == SETTINGS_REMOVE) {
        RemoveMailboxEverywhere(hwnd, index);
        return;
    }
    int added = ended == SETTINGS_ADDED || ended == SETTINGS_ADDED_NOT_SAVED;
    if (index > 0 && index >= count && !added)
        return;  // a new mailbox cancelled: nothing was added
    if (added)
        mailboxRecords[index] = MailboxRecord();
    OnSettingsChangedForIdle(hwnd, index);
    SendMessageA(hwnd, WM_STARTCHECK, (WPARAM)index, 0);
    if (ended == SETTINGS_NOT_SAVED || ended == SETTINGS_ADDED_NOT_SAVED)
        ShowSaveFailure(hwnd, iniPath);
}

// Arms the check timers of the mailboxes after the first, a spacing apart
// from now on: mailbox k after k spacings.
static void ArmOtherMailboxes(HWND hwnd)
{
    for (int index = 1; index < MailboxCount(); index++) {
        SetTimer(hwnd, MAILBOX_TIMER(ID_CHECK_TIMER, index), index * mailboxSpacingMs, NULL);
        mailboxRecords[index].check.timerArmed = 1;
    }
}

// Mailbox index's timed check is due: the timer is one-shot, so it goes
// off first. With no server to check at start-up, the settings come first
// instead: the user of a new install sees where they are, and their closing
// starts the check.
static void OnCheckTimer(HWND hwnd, int index)
{
    KillTimer(hwnd, MAILBOX_TIMER(ID_CHECK_TIMER, index));
    mailboxRecords[index].check.timerArmed = 0;
    int first = firstTimerDue && index == 0;
    if (first) {
        firstTimerDue = 0;
        ArmOtherMailboxes(hwnd);
    }
    if (first && mailSettings.mailbox[0].serverName[0] == '\0')
        RunSettingsCommand(hwnd, 0);
    else
        SendMessageA(hwnd, WM_STARTCHECK, (WPARAM)index, 0);
}

// One of the window's timers: the recovery checks' own, the IDLE watch's,
// or a mailbox's schedule.
static void OnTimer(HWND hwnd, UINT_PTR timer)
{
    if (OnRecoveryTimer(hwnd, timer, mailboxRecords[0].check.timerArmed) || OnIdleTimer(hwnd, timer))
        return;
    int index = MailboxOfTimer(timer, ID_CHECK_TIMER);
    if (index >= 0)
        OnCheckTimer(hwnd, index);
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

// Starts a check of every mailbox: mailbox 1 at once, the others by their
// timers, a spacing apart.
static void StartAllMailboxes(HWND hwnd)
{
    StartCheckRun(hwnd, 0);
    ArmOtherMailboxes(hwnd);
}

// Starts one check run of mailbox index on a thread of its own, numbered
// after the last; nothing waits for it. While one runs, the start is kept
// for its end.
static void StartCheckRun(HWND hwnd, int index)
{
    if (index < 0 || index >= MAILBOX_LIMIT)
        return;
    CheckState *check = &mailboxRecords[index].check;
    if (check->running) {
        check->wanted = 1;
        return;
    }
    CheckStart *start = (CheckStart *)HeapAlloc(GetProcessHeap(), 0, sizeof *start);
    if (start == NULL)
        return;
    // 1 to 65535, as a report's wParam carries it; 0 is a run not numbered.
    int number = lastCheckNumber % 0xFFFF + 1;
    start->window = hwnd;
    start->number = number;
    start->mailbox = index;
    if (_beginthread(checkThreadRoutine, 0, start) == (uintptr_t)-1) {
        HeapFree(GetProcessHeap(), 0, start);
        return;
    }
    lastCheckNumber = number;
    check->number = number;
    check->running = 1;
}

// Whether a report numbered number is to be shown: one not numbered, or
// one of a check no older than the newest shown, which it then becomes.
static int ReportIsCurrent(CheckState *check, int number)
{
    if (number == 0)
        return 1;
    // Numbers wrap round; a check more than 32767 starts older is long gone.
    if (check->shown != 0 && (short)(WORD)(number - check->shown) < 0)
        return 0;
    check->shown = number;
    return 1;
}

// A check's session is over: a notice still waiting for its headers gives
// the count, and a start asked meanwhile starts the next.
static void OnCheckEnded(HWND hwnd, int number)
{
    int index = MailboxOfCheck(number);
    if (index < 0)
        return;
    MailboxRecord *record = &mailboxRecords[index];
    NoteCheckEndedForNotice(index, number);
    if (!record->check.running || number != record->check.number)
        return;
    record->check.running = 0;
    if (record->check.wanted) {
        record->check.wanted = 0;
        StartCheckRun(hwnd, index);
    }
}


// Shows a check run's report; success and a failure that passes re-arm the
// timer, any other failure leaves it. An IMAP check's success comes with
// its mailbox, which decides the notice.
static void ShowReport(HWND hwnd, int index, WPARAM status, LPARAM text, const MailboxReport *mailbox,
                       int number)
{
    if (status == CHECK_NO_MAIL || status == CHECK_NEW_MAIL || (status == CHECK_FAILED && FailurePasses((const char *)text)))
        ArmCheckTimer(hwnd, index);
    ShowMailboxesInTray(index, (int)status, (const char *)text);
    NoteReportForRecovery(status, (const char *)text);
    NoteMailCount(index, status, (const char *)text, mailbox, number);
    if (mailbox != NULL)
        NoteMailboxForIdle(hwnd, index, mailbox);
}

// A check run's report: shown unless a newer one of its mailbox is. The
// check goes on until its session is over.
static void OnCheckResult(HWND hwnd, WPARAM wParam, LPARAM text, const MailboxReport *mailbox)
{
    int number = HIWORD(wParam);
    int index = MailboxOfCheck(number);
    if (index >= 0 && ReportIsCurrent(&mailboxRecords[index].check, number))
        ShowReport(hwnd, index, LOWORD(wParam), text, mailbox, number);
}

// The window's question to a check after its report, and the summary that
// follows, handed to the notice of the check's mailbox.
static void OnNoticeWanted(int number, NoticeRequest *request)
{
    int index = MailboxOfCheck(number);
    if (index >= 0)
        OnNoticeWanted(index, number, request);
    else
        request->wanted = 0;
}

static void OnMailSummary(int number, const MailSummary *summary)
{
    int index = MailboxOfCheck(number);
    if (index >= 0)
        OnMailSummary(index, number, summary);
}

// An IMAP check's success: its text and mailbox in one record.
static void OnMailboxReport(HWND hwnd, WPARAM wParam, const MailboxReport *mailbox)
{
    OnCheckResult(hwnd, wParam, (LPARAM)mailbox->text, mailbox);
}

// The first mailbox, in number order, whose last report found new mail;
// mailbox 1 when none did.
static int FirstMailboxWithNewMail(void)
{
    for (int index = 0; index < MailboxCount(); index++)
        if (mailboxRecords[index].check.reported && mailboxRecords[index].check.status == CHECK_NEW_MAIL)
            return index;
    return 0;
}

// Mouse on the tray icon: right-button release opens the menu, a double
// click launches the program of the first mailbox with new mail, a click on
// the new-mail notice that of the notice's mailbox; everything else is
// ignored.
static void OnTrayNotify(HWND hwnd, WPARAM iconId, LPARAM mouseMessage)
{
    if (iconId != TRAY_ICON_UID)
        return;
    if (mouseMessage == WM_RBUTTONUP)
        ShowTrayMenu(hwnd);
    else if (mouseMessage == WM_LBUTTONDBLCLK)
        LaunchProgram(hwnd, FirstMailboxWithNewMail());
    else if (mouseMessage == NIN_BALLOONUSERCLICK)
        LaunchProgram(hwnd, noticeMailbox);
}

// A tray menu command.
static void OnCommand(HWND hwnd, WORD command)
{
    switch (command) {
    case IDM_CHECK_NOW:
        SendMessageA(hwnd, WM_STARTCHECK, START_ALL_MAILBOXES, 0);
        break;
    case IDM_SETTINGS:
        RunSettingsCommand(hwnd, 0);
        break;
    case IDM_ADD_MAILBOX:
        if (MailboxCount() < MAILBOX_LIMIT)
            RunSettingsCommand(hwnd, MailboxCount());
        break;
    case IDM_EXIT:
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
        break;
    default:
        if (command >= IDM_MAILBOX_SETTINGS && command < IDM_MAILBOX_SETTINGS + MailboxCount())
            RunSettingsCommand(hwnd, command - IDM_MAILBOX_SETTINGS);
        break;
    }
}

// Stops the schedule and takes the entry out of the tray before the window goes.
static void OnClose(HWND hwnd)
{
    for (int index = 0; index < MAILBOX_LIMIT; index++) {
        KillTimer(hwnd, MAILBOX_TIMER(ID_CHECK_TIMER, index));
        mailboxRecords[index].check.timerArmed = 0;
    }
    StopRecoveryTimers(hwnd);
    StopNetworkWatch();
    // DONE and LOGOUT get a second; the exit does not wait longer.
    StopIdleWatches(hwnd, 1000);
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
        if (wParam == START_ALL_MAILBOXES)
            StartAllMailboxes(hwnd);
        else
            StartCheckRun(hwnd, (int)wParam);
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
        ShowServerAlert(MailboxOfCheck((int)wParam), (const char *)lParam);
        return 0;
    case WM_NETWORKCHANGED:
        OnNetworkChanged(hwnd, mailboxRecords[0].check.timerArmed);
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
