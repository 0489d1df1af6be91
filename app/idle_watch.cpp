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

static HANDLE watchThread;  // the running watch's thread, NULL when none
static HANDLE watchStop;    // its stop event
static LPARAM watchNumber;  // messages from any other watch are old news
static DWORD watchStartTick;
static DWORD watchEndTick;
static DWORD waitBeforeWatchMs;
// The server answered EXAMINE or IDLE with NO or BAD: no watch until the
// settings change.
static int idleRefused;
static int changeTimerArmed;
// A watch's start waits for its timer.
static int startTimerArmed;

// Starts a watch now; a thread that cannot start leaves none.
static void StartWatchNow(HWND hwnd)
{
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
    start->number = ++watchNumber;
    HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, idleWatchRoutine, start, 0, NULL);
    if (thread == NULL) {
        HeapFree(GetProcessHeap(), 0, start);
        CloseHandle(threadStop);
        CloseHandle(stop);
        return;
    }
    watchThread = thread;
    watchStop = stop;
    watchStartTick = GetTickCount();
}

// Starts a watch, or arms its start for when the wait after the last one
// that died young is over.
static void StartWatch(HWND hwnd)
{
    DWORD since = GetTickCount() - watchEndTick;
    if (waitBeforeWatchMs > since) {
        SetTimer(hwnd, ID_IDLE_START_TIMER, waitBeforeWatchMs - since, NULL);
        startTimerArmed = 1;
    } else {
        StartWatchNow(hwnd);
    }
}

// After an IMAP check that succeeded: a watch, if the server offers IDLE,
// IMAP_IDLE allows it and none runs.
void NoteMailboxForIdle(HWND hwnd, const MailboxReport *mailbox)
{
    if (mailbox->canIdle && mailSettings.imapIdle && !idleRefused && watchThread == NULL)
        StartWatch(hwnd);
}

// Lets go of the watch's handles; the thread ends by itself.
static void ForgetWatch(void)
{
    CloseHandle(watchThread);
    CloseHandle(watchStop);
    watchThread = NULL;
    watchStop = NULL;
}

// A watch has ended: one that lived less than a minute makes the next wait
// twice as long (30 s, 1 min, 2 min, up to 15 min); a longer life resets it.
static void NoteWatchEnd(void)
{
    watchEndTick = GetTickCount();
    if (watchEndTick - watchStartTick >= idleShortLifeMs)
        waitBeforeWatchMs = 0;
    else if (waitBeforeWatchMs == 0)
        waitBeforeWatchMs = idleFirstWaitMs;
    else
        waitBeforeWatchMs = waitBeforeWatchMs * 2 < idleLongestWaitMs ? waitBeforeWatchMs * 2 : idleLongestWaitMs;
    ForgetWatch();
}

// Arms the one check after a BYE, a few seconds on.
static void ArmByeCheck(HWND hwnd)
{
    UINT jitter = GetTickCount() % (idleByeWaitMs + 1);
    SetTimer(hwnd, ID_IDLE_BYE_TIMER, idleByeWaitMs + jitter, NULL);
}

// What the running watch tells. A change waits for the rest of its burst;
// a watch that ended by itself brings one check, whose success starts the
// next, and after a BYE that check waits a little; a refused log-in brings
// nothing, and never a retry of its own.
void OnIdleWatch(HWND hwnd, WPARAM event, LPARAM number)
{
    if (watchThread == NULL || number != watchNumber)
        return;
    if (event == IDLE_CHANGED) {
        if (!changeTimerArmed) {
            changeTimerArmed = 1;
            SetTimer(hwnd, ID_IDLE_CHANGE_TIMER, idleChangeSettleMs, NULL);
        }
        return;
    }
    NoteWatchEnd();
    if (event == IDLE_REFUSED)
        idleRefused = 1;
    else if (event == IDLE_ENDED)
        SendMessageA(hwnd, WM_STARTCHECK, 0, 0);
    else if (event == IDLE_SERVER_LEFT)
        ArmByeCheck(hwnd);
}

// The timers of the watch; returns 0 for any other.
int OnIdleTimer(HWND hwnd, UINT_PTR timer)
{
    if (timer == ID_IDLE_CHANGE_TIMER) {
        KillTimer(hwnd, ID_IDLE_CHANGE_TIMER);
        changeTimerArmed = 0;
        SendMessageA(hwnd, WM_STARTCHECK, 0, 0);
        return 1;
    }
    if (timer == ID_IDLE_START_TIMER) {
        KillTimer(hwnd, ID_IDLE_START_TIMER);
        startTimerArmed = 0;
        if (watchThread == NULL)
            StartWatchNow(hwnd);
        return 1;
    }
    if (timer == ID_IDLE_BYE_TIMER) {
        KillTimer(hwnd, ID_IDLE_BYE_TIMER);
        SendMessageA(hwnd, WM_STARTCHECK, 0, 0);
        return 1;
    }
    return 0;
}

// Stops the watch, if one runs, and a start that waits; gives its DONE and
// LOGOUT up to waitMs. Returns whether a watch was running or waiting to
// start.
int StopIdleWatch(HWND hwnd, DWORD waitMs)
{
    int waiting = startTimerArmed;
    KillTimer(hwnd, ID_IDLE_START_TIMER);
    startTimerArmed = 0;
    if (watchThread == NULL)
        return waiting;
    SetEvent(watchStop);
    if (waitMs > 0)
        WaitForSingleObject(watchThread, waitMs);
    ForgetWatch();
    return 1;
}

// The settings have changed: the next check starts a watch afresh, whatever
// the server said to the old ones.
void OnSettingsChangedForIdle(HWND hwnd)
{
    StopIdleWatch(hwnd, 0);
    idleRefused = 0;
    waitBeforeWatchMs = 0;
}
