// The IDLE watch: log in, EXAMINE INBOX, IDLE; a change posts a message to
// the main window, and DONE with a new IDLE keeps the connection alive.
#include "imap/imap_idle.h"

#include <string.h>

#include "checkrun/check_messages.h"
#include "checkrun/run_session.h"
#include "imap/imap_session.h"
#include "transport/socket_wait.h"
#include "transport/tls_session.h"

DWORD idleRefreshMs = 9 * 60000;
// TCP keep-alive: a probe after a minute of silence, then every 10 s, so a
// connection that died behind a NAT box or during sleep is noticed.
#define KEEPALIVE_IDLE_MS      60000
#define KEEPALIVE_INTERVAL_MS  10000
// On a stop, DONE and LOGOUT get this long: the program is exiting.
#define STOP_GRACE_MS          1000

// What the watch carries beside its check run.
struct IdleWatch {
    HANDLE stop;
    LPARAM number;
    int ended;  // the watch has told the window why it ended
};

// How a spell of idling ended.
enum IdleSpell {
    SPELL_REFRESH,  // time to renew IDLE
    SPELL_STOPPED,  // the window asked the watch to end
    SPELL_ENDED,    // the connection dropped, or the server left IDLE
    SPELL_BYE       // the server said BYE: it is going down
};

// Whether the window has asked the watch to end.
static int Stopped(const IdleWatch *watch)
{
    return WaitForSingleObject(watch->stop, 0) == WAIT_OBJECT_0;
}

// Posts event to the window, unless the watch was stopped: a stopped watch
// says nothing more.
static void PostIdleEvent(CheckRun *run, IdleEvent event)
{
    IdleWatch *watch = (IdleWatch *)run->owner;
    if (Stopped(watch))
        return;
    if (event != IDLE_CHANGED)
        watch->ended = 1;
    PostMessageA(run->window, WM_IDLEWATCH, (WPARAM)event, watch->number);
}

// Posts one change for the changes counted since the last call.
static void PostChanges(CheckRun *run, ImapState *imap)
{
    if (imap->changes > 0)
        PostIdleEvent(run, IDLE_CHANGED);
    imap->changes = 0;
}

// Gives the session ms more before its deadline, counted from now.
static void AllowMs(CheckRun *run, DWORD ms)
{
    run->connection.deadline = GetTickCount() + ms;
    run->connection.expired = 0;
}

// Whether a whole response, or bytes that may make one, are held already:
// the socket may then stay quiet though there is something to read.
static int ResponseHeld(const CheckRun *run)
{
    const ReplyReader *reader = &run->reader;
    if (memchr(reader->buffer + reader->replyLength, '\n', (size_t)(reader->held - reader->replyLength)) != NULL)
        return 1;
    return run->tls != NULL && (run->tls->plainLength > 0 || run->tls->incomingLength > 0);
}

// Idles until the refresh is due, the window stops the watch or the
// session ends; posts a change for every EXISTS, EXPUNGE or FETCH.
static IdleSpell Idle(CheckRun *run)
{
    IdleWatch *watch = (IdleWatch *)run->owner;
    DWORD refreshAt = GetTickCount() + idleRefreshMs;
    for (;;) {
        int left = (int)(refreshAt - GetTickCount());
        if (Stopped(watch))
            return SPELL_STOPPED;
        if (!ResponseHeld(run)) {
            if (left <= 0)
                return SPELL_REFRESH;
            SocketWait woken = WaitForSocket(run->connection.socket, watch->stop, (DWORD)left);
            if (woken == SOCKET_STOPPED)
                return SPELL_STOPPED;
            if (woken == SOCKET_QUIET)
                return SPELL_REFRESH;
            if (woken != SOCKET_READABLE)
                return SPELL_ENDED;
        }
        // A response under way must come whole within the time-out.
        AllowMs(run, (DWORD)run->timeoutMs);
        ImapResponse response;
        if (ReceiveImapResponse(&run->reader, &response) != IMAP_RECEIVED || run->connection.expired)
            return SPELL_ENDED;
        NoteAlert(run, &response);
        // "* OK Still here" and the like are the server keeping in touch.
        if (response.kind != IMAP_UNTAGGED)
            return SPELL_ENDED;
        if (response.condition == IMAP_BYE)
            return SPELL_BYE;
        if (ImapMailboxChange(&response))
            PostIdleEvent(run, IDLE_CHANGED);
    }
}

// Ends IDLE with DONE and waits for IDLE's tagged reply.
static ImapVerdict EndIdle(CheckRun *run, ImapState *imap)
{
    size_t length = 0;
    AppendCommand(run->command, &length, "DONE\r\n", 6);
    SendCommand(run);
    return AwaitImap(run, imap, 0);
}

// The stop has come: from here the session has the grace time, and its
// receives no longer end on the stop.
static void TakeStop(CheckRun *run)
{
    run->connection.stop = NULL;
    AllowMs(run, STOP_GRACE_MS);
}

// Logs out at once if the window has asked the watch to end; returns
// whether it had.
static int EndIfStopped(CheckRun *run, ImapState *imap)
{
    if (!Stopped((IdleWatch *)run->owner))
        return 0;
    TakeStop(run);
    LogOutImap(run, imap);
    return 1;
}

// The watch's exchange: log in, EXAMINE INBOX, then IDLE until it ends.
// The stop is looked at before every command, and ends every wait.
static void TalkIdle(CheckRun *run, const ServerAddress *server, const MailCredentials *credentials)
{
    if (server->protocol != PROTOCOL_IMAP) {
        PostIdleEvent(run, IDLE_REFUSED);
        return;
    }
    SetKeepAlive(run->connection.socket, KEEPALIVE_IDLE_MS, KEEPALIVE_INTERVAL_MS);
    ImapState imap;
    StartImapState(&imap);
    if (!OpenImapSession(run, &imap, credentials)) {
        if (run->status == CHECK_AUTH_FAILED)
            PostIdleEvent(run, IDLE_LOGIN_REFUSED);
        return;
    }
    if (EndIfStopped(run, &imap))
        return;
    // Read-only: the watch never changes a flag.
    ImapVerdict verdict = ImapCommand(run, &imap, "EXAMINE INBOX", 0);
    // EXAMINE's EXISTS tells the mailbox as it is, not a change.
    imap.changes = 0;
    while (verdict == VERDICT_OK) {
        if (EndIfStopped(run, &imap))
            return;
        verdict = ImapCommand(run, &imap, "IDLE", 1);
        if (verdict != VERDICT_GO_ON)
            break;
        // Exchange has been seen to send EXISTS before the "+".
        PostChanges(run, &imap);
        IdleSpell spell = Idle(run);
        if (spell == SPELL_BYE)
            PostIdleEvent(run, IDLE_SERVER_LEFT);
        if (spell == SPELL_ENDED || spell == SPELL_BYE)
            return;
        if (spell == SPELL_STOPPED)
            TakeStop(run);
        else
            AllowMs(run, (DWORD)run->timeoutMs);
        verdict = EndIdle(run, &imap);
        if (spell == SPELL_STOPPED) {
            if (verdict == VERDICT_OK)
                LogOutImap(run, &imap);
            return;
        }
        PostChanges(run, &imap);
        // The commands that follow get the time a check's would.
        AllowMs(run, (DWORD)run->deadlineMs);
        if (verdict != VERDICT_OK)
            return;
    }
    // EXAMINE or IDLE refused: the server will not be watched, unless the
    // refusal passes; then the watch ends as one that died young.
    if (verdict == VERDICT_NO) {
        LogOutImap(run, &imap);
        if (imap.refusal != REFUSAL_PASSING)
            PostIdleEvent(run, IDLE_REFUSED);
    }
}

// The whole watch; posts its end unless it was stopped.
void RunIdleWatch(HWND window, HANDLE stop, LPARAM number, const MailCredentials *credentials, int timeoutMs)
{
    IdleWatch watch = {stop, number, 0};
    CheckRun run;
    StartCheckRun(&run, window, timeoutMs, 3 * timeoutMs);
    run.owner = &watch;
    run.stop = stop;
    RunSession(&run, credentials, TalkIdle);
    if (!watch.ended)
        PostIdleEvent(&run, IDLE_ENDED);
}

// Thread routine: the watch with a copy of the settings.
unsigned __stdcall IdleWatchThread(void *argument)
{
    IdleWatchStart start = *(IdleWatchStart *)argument;
    HeapFree(GetProcessHeap(), 0, argument);
    MailCredentials credentials;
    CopyCredentials(start.mailbox, &credentials);
    RunIdleWatch(start.window, start.stop, start.number, &credentials, CHECK_TIMEOUT_MS);
    SecureZeroMemory(&credentials, sizeof credentials);
    CloseHandle(start.stop);
    return 0;
}
