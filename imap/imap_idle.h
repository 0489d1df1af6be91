// The IDLE watch: a session of its own, logged in as the check is, that
// idles on INBOX and tells the main window the moment INBOX changes. The
// window alone decides what follows; the watch never reports a check.
#ifndef TOLVARAN_IMAP_IDLE_H
#define TOLVARAN_IMAP_IDLE_H

#include <windows.h>

#include "settings/settings.h"

// How long the watch idles before it renews IDLE: well inside the 10
// minutes after which some servers and NAT boxes drop a quiet connection.
// A variable, so that the tests can shorten it.
extern DWORD idleRefreshMs;

// What a watch thread starts with; allocated by the starter with HeapAlloc
// on the process heap, and freed, with its stop handle closed, by the
// thread.
struct IdleWatchStart {
    HWND window;
    HANDLE stop;  // set when the watch must end: DONE and LOGOUT, no message
    LPARAM number;
    int mailbox;  // the settings' mailbox to watch, 0 for mailbox 1
};

// Thread routine (_beginthreadex): runs the watch with a copy of the
// settings taken under their lock, wiped when it ends.
unsigned __stdcall IdleWatchThread(void *start);

// The whole watch: log in, EXAMINE INBOX, IDLE, renewed every
// idleRefreshMs; posts WM_IDLEWATCH to window with number for each change
// and, unless stop was set, once when it ends. Each receive waits at most
// timeoutMs, and so does the answer to DONE.
void RunIdleWatch(HWND window, HANDLE stop, LPARAM number, const MailCredentials *credentials,
                  int timeoutMs);

#endif
