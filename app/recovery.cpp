// The checks that come back by themselves: one after a resume from sleep,
// and one when the network returns after a failure it may have caused or
// changes under a running IDLE watch.
#include "app/app.h"

#include <string.h>

#include "checkrun/check_messages.h"
#include "checkrun/check_texts.h"
#include "resources/resource.h"

// Long enough for a wired or Wi-Fi link to come back after a resume; a
// slower network is caught by the watch on the network instead.
UINT resumeCheckDelayMs = 20000;
// A change rarely comes alone: the check waits for the burst to end.
UINT networkSettleMs = 5000;
// The network may flap; it starts no more than one check in this time.
DWORD networkCheckGapMs = 60000;
// Resume messages this close together, with no suspend between them, are
// one resume.
static const DWORD sameResumeMs = 120000;

// The last report failed for a reason a network change may cure.
static int networkMayCure;
static int resumeCheckPending;
static int suspendedSinceResume = 1;
static DWORD lastResumeTick;
static int networkChecked;
// A network change stopped the IDLE watch: its connection came from an
// address that may be gone. The check that follows starts a new one.
static int watchLostToNetwork;
static DWORD lastNetworkCheckTick;

// The failures that may go away with the network: never a refused log-in,
// a refused command or a certificate, which a retry would not mend.
static int CuredByNetwork(WPARAM status, const char *text)
{
    static const char *const curable[] = {textNetworkUnusable, textServerNotFound,
                                          textCannotConnect, textNoAnswer, textTlsFailed};
    if (status != CHECK_FAILED || text == NULL)
        return 0;
    for (const char *known : curable)
        if (strcmp(text, known) == 0)
            return 1;
    return 0;
}

// Remembers whether the report just shown leaves a failure the network may cure.
void NoteReportForRecovery(WPARAM status, const char *text)
{
    if (status >= CHECK_NO_MAIL && status <= CHECK_AUTH_FAILED)
        networkMayCure = CuredByNetwork(status, text);
}

// A resume arms one check after the grace delay; the messages of the same
// resume (automatic, then with the user present) arm nothing more.
void OnResume(HWND hwnd)
{
    DWORD now = GetTickCount();
    if (!suspendedSinceResume && now - lastResumeTick < sameResumeMs)
        return;
    suspendedSinceResume = 0;
    lastResumeTick = now;
    resumeCheckPending = 1;
    SetTimer(hwnd, ID_RESUME_TIMER, resumeCheckDelayMs, NULL);
}

// The machine is going to sleep: its next resume counts as a new one, and
// the IDLE watch ends; the resume's check starts it again.
void OnSuspend(HWND hwnd)
{
    suspendedSinceResume = 1;
    StopIdleWatches(hwnd, 0);
}

// Whether a network change should bring a check: a curable failure and no
// timed or resume check already coming, or an IDLE watch to bring back.
static int NetworkCheckWanted(int timedCheckComing)
{
    return watchLostToNetwork || (networkMayCure && !timedCheckComing && !resumeCheckPending);
}

// A change of addresses or interfaces: ends the IDLE watch, or the wait
// for its start, and (re)starts the wait for the burst's end.
void OnNetworkChanged(HWND hwnd, int timedCheckComing)
{
    if (StopIdleWatches(hwnd, 0))
        watchLostToNetwork = 1;
    if (NetworkCheckWanted(timedCheckComing))
        SetTimer(hwnd, ID_NETWORK_TIMER, networkSettleMs, NULL);
}

// The burst is over: checks, unless one from this cause came too recently,
// in which case the wait goes on until the gap has passed.
static void OnNetworkSettled(HWND hwnd, int timedCheckComing)
{
    KillTimer(hwnd, ID_NETWORK_TIMER);
    if (!NetworkCheckWanted(timedCheckComing))
        return;
    DWORD now = GetTickCount();
    if (networkChecked && now - lastNetworkCheckTick < networkCheckGapMs) {
        SetTimer(hwnd, ID_NETWORK_TIMER, networkCheckGapMs - (now - lastNetworkCheckTick), NULL);
        return;
    }
    networkChecked = 1;
    lastNetworkCheckTick = now;
    watchLostToNetwork = 0;
    SendMessageA(hwnd, WM_STARTCHECK, START_ALL_MAILBOXES, 0);
}

// The timers of this file; returns 0 for any other.
int OnRecoveryTimer(HWND hwnd, UINT_PTR timer, int timedCheckComing)
{
    if (timer == ID_RESUME_TIMER) {
        KillTimer(hwnd, ID_RESUME_TIMER);
        resumeCheckPending = 0;
        SendMessageA(hwnd, WM_STARTCHECK, START_ALL_MAILBOXES, 0);
        return 1;
    }
    if (timer == ID_NETWORK_TIMER) {
        OnNetworkSettled(hwnd, timedCheckComing);
        return 1;
    }
    return 0;
}

// Stops both timers when the window closes.
void StopRecoveryTimers(HWND hwnd)
{
    KillTimer(hwnd, ID_RESUME_TIMER);
    KillTimer(hwnd, ID_NETWORK_TIMER);
    resumeCheckPending = 0;
}
