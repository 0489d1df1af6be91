// One POP3 mailbox check, run on a worker thread of its own.
#ifndef TOLVARAN_MAILCHECK_H
#define TOLVARAN_MAILCHECK_H

#include <windows.h>

// Thread routine started with _beginthread; the argument is the main
// window's handle, which receives exactly one WM_CHECKRESULT.
void __cdecl MailCheckThread(void *hwnd);

#endif
