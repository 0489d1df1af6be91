// The IDLE watch as the main window runs it: started after an IMAP check
// that succeeded, a change in INBOX brings the ordinary check, a watch that
// ends brings one check, and watches that keep dying wait longer each time.
#include "app/app.h"

#include <process.h>

#include "checkrun/check_messages.h"
#include "imap/imap_idle.h"
#include "resources/resource.h"
#include "settings/settings.h"

// A burst of changes gives one check, this long after its first change.
// The changes of one event on the server come within milliseconds of one
// another (Dovecot gathers its own for half a second before it tells), and
// every millisecond more is a millisecond later on screen.
UINT idleChangeSettleMs = 300;
// A watch that lived less than this doubles the wait before the next one.
DWORD idleShortLifeMs = 60000;
DWORD idleFirstWaitMs = 30000;
// After a BYE that ended the watch, the server is most likely restarting:
// the check waits this long and up to as long again, so that the clients of
// one server do not all come back in the same second.
UINT idleByeWaitMs = 5000;
static const DWORD idleLongestWaitMs = 15 * 60000;
// The watch's thread routine; a variable, so that the tests can watch starts.
unsigned(__stdcall *idleWatchRoutine)(void *) = IdleWatchThread;

// The number of the watch last started, of any mailbox: each message a
// watch posts finds its mailbox by it.
static LPARAM lastWatchNumber;

// Starts mailbox index's watch now; a thread that cannot start leaves none.
static void StartWatchNow(HWND hwnd, int index)
{
    WatchState *watch = &mailboxRecords[index].watch;
    IdleWatchStart *start = (IdleWatchStart *)HeapAlloc(GetProcessHeap(), 0, sizeof *start);
    HANDLE stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE threadStop = NULL;
    if (start == NULL || stop == NULL ||
        !DuplicateHandle(GetCurrentProcess(), stop, GetCurrentProcess(), &threadStop, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        if (start != NULL)
            HeapFree(GetProcessHeap(), 0, start);
        if (stop != NULL)
            CloseHandle(stop);
        return;
    }
    start->window = hwnd;
    start->stop = threadStop;
    start->number = ++lastWatchNumber;
    start->mailbox = index;
    HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, idleWatchRoutine, start, 0, NULL);
    if (thread == NULL) {
        HeapFree(GetProcessHeap(), 0, start);
        CloseHandle(threadStop);
        CloseHandle(stop);
        return;
    }
    watch->number = start->number;
    watch->thread = thread;
    watch->stop = stop;
    watch->startTick = GetTickCount();
}

// Starts mailbox index's watch, or arms its start for when the wait after
// the last one that died young is over.
static void StartWatch(HWND hwnd, int index)
{
    WatchState *watch = &mailboxRecords[index].watch;
    DWORD since = GetTickCount() - watch->endTick;
    if (watch->waitBeforeMs > since) {
        SetTimer(hwnd, MAILBOX_TIMER(ID_IDLE_START_TIMER, index), watch->waitBeforeMs - since, NULL);
        watch->startTimerArmed = 1;
    } else {
        StartWatchNow(hwnd, index);
    }
}

// After an IMAP check of mailbox index that succeeded: a watch, if the
// server offers IDLE, IMAP_IDLE allows it and none runs.
void NoteMailboxForIdle(HWND hwnd, int index, const MailboxReport *mailbox)
{
    const WatchState *watch = &mailboxRecords[index].watch;
    if (mailbox->canIdle && mailSettings.imapIdle && !watch->refused && watch->thread == NULL)
        StartWatch(hwnd, index);
}

// Lets go of the watch's handles; the thread ends by itself.
static void ForgetWatch(WatchState *watch)
{
    CloseHandle(watch->thread);
    CloseHandle(watch->stop);
    watch->thread = NULL;
    watch->stop = NULL;
}

// A watch has ended: one that lived less than a minute makes the next wait
// twice as long (30 s, 1 min, 2 min, up to 15 min); a longer life resets it.
static void NoteWatchEnd(WatchState *watch)
{
    watch->endTick = GetTickCount();
    if (watch->endTick - watch->startTick >= idleShortLifeMs)
        watch->waitBeforeMs = 0;
    else if (watch->waitBeforeMs == 0)
        watch->waitBeforeMs = idleFirstWaitMs;
    else
        watch->waitBeforeMs =
            watch->waitBeforeMs * 2 < idleLongestWaitMs ? watch->waitBeforeMs * 2 : idleLongestWaitMs;
    ForgetWatch(watch);
}

// Arms mailbox index's one check after a BYE, a few seconds on.
static void ArmByeCheck(HWND hwnd, int index)
{
    UINT jitter = GetTickCount() % (idleByeWaitMs + 1);
    SetTimer(hwnd, MAILBOX_TIMER(ID_IDLE_BYE_TIMER, index), idleByeWaitMs + jitter, NULL);
}

// The mailbox whose running watch has that number, or -1.
static int MailboxOfWatch(LPARAM number)
{
    for (int index = 0; index < MAILBOX_LIMIT; index++)
        if (mailboxRecords[index].watch.thread != NULL && mailboxRecords[index].watch.number == number)
            return index;
    return -1;
}

// What the running watch tells. A change waits for the rest of its burst;
// a watch that ended by itself brings one check, whose success starts the
// next, and after a BYE that check waits a little; a refused log-in brings
// nothing, and never a retry of its own.
void OnIdleWatch(HWND hwnd, WPARAM event, LPARAM number)
{
    int index = MailboxOfWatch(number);
    if (index < 0)
        return;
    WatchState *watch = &mailboxRecords[index].watch;
    if (event == IDLE_CHANGED) {
        if (!watch->changeTimerArmed) {
            watch->changeTimerArmed = 1;
            SetTimer(hwnd, MAILBOX_TIMER(ID_IDLE_CHANGE_TIMER, index), idleChangeSettleMs, NULL);
        }
        return;
    }
    NoteWatchEnd(watch);
    if (event == IDLE_REFUSED)
        watch->refused = 1;
    else if (event == IDLE_ENDED)
        SendMessageA(hwnd, WM_STARTCHECK, (WPARAM)index, 0);
    else if (event == IDLE_SERVER_LEFT)
        ArmByeCheck(hwnd, index);
}

// The timers of the watches; returns 0 for any other.
int OnIdleTimer(HWND hwnd, UINT_PTR timer)
{
    int index = MailboxOfTimer(timer, ID_IDLE_CHANGE_TIMER);
    if (index >= 0) {
        KillTimer(hwnd, timer);
        mailboxRecords[index].watch.changeTimerArmed = 0;
        SendMessageA(hwnd, WM_STARTCHECK, (WPARAM)index, 0);
        return 1;
    }
    index = MailboxOfTimer(timer, ID_IDLE_START_TIMER);
    if (index >= 0) {
        KillTimer(hwnd, timer);
        mailboxRecords[index].watch.startTimerArmed = 0;
        if (mailboxRecords[index].watch.thread == NULL)
            StartWatchNow(hwnd, index);
        return 1;
    }
    index = MailboxOfTimer(timer, ID_IDLE_BYE_TIMER);
    if (index >= 0) {
        KillTimer(hwnd, timer);
        SendMessageA(hwnd, WM_STARTCHECK, (WPARAM)index, 0);
        return 1;
    }
    return 0;
}

// Stops mailbox index's watch, if one runs, and a start that waits; gives
// its DONE and LOGOUT up to waitMs. Returns whether a watch was running or
// waiting to start.
static int StopIdleWatch(HWND hwnd, int index, DWORD waitMs)
{
    WatchState *watch = &mailboxRecords[index].watch;
    int waiting = watch->startTimerArmed;
    KillTimer(hwnd, MAILBOX_TIMER(ID_IDLE_START_TIMER, index));
    watch->startTimerArmed = 0;
    if (watch->thread == NULL)
        return waiting;
    SetEvent(watch->stop);
    if (waitMs > 0)
        WaitForSingleObject(watch->thread, waitMs);
    ForgetWatch(watch);
    return 1;
}

// Stops every mailbox's watch, each given up to waitMs for DONE and
// LOGOUT; returns whether one ran or waited to start.
int StopIdleWatches(HWND hwnd, DWORD waitMs)
{
    int stopped = 0;
    for (int index = 0; index < MAILBOX_LIMIT; index++)
        stopped |= StopIdleWatch(hwnd, index, waitMs);
    return stopped;
}

// Stops the watches of mailbox index and those after it.
void StopMailboxWatches(HWND hwnd, int index)
{
    for (int i = index; i < MAILBOX_LIMIT; i++)
        StopIdleWatch(hwnd, i, 0);
}

// Mailbox index's settings have changed: its next check starts a watch
// afresh, whatever the server said to the old ones. The other mailboxes'
// watches go on.
void OnSettingsChangedForIdle(HWND hwnd, int index)
{
    StopIdleWatch(hwnd, index, 0);
    mailboxRecords[index].watch.refused = 0;
    mailboxRecords[index].watch.waitBeforeMs = 0;
}
