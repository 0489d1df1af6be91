// One POP3 mailbox check, run on a worker thread of its own.
#ifndef TOLVARAN_MAILCHECK_H
#define TOLVARAN_MAILCHECK_H

#include <windows.h>

#include "settings/settings.h"

#define COMMAND_BUFFER_SIZE  1024
#define TOOLTIP_BUFFER_SIZE  256
// How long a receive waits for the first byte before the server counts as
// silent.
#define CHECK_TIMEOUT_MS     30000

// Thread routine started with _beginthread; the argument is the main
// window's handle, which receives exactly one WM_CHECKRESULT.
void __cdecl MailCheckThread(void *hwnd);

// The whole check against the given credentials, each receive giving up
// after timeoutMs without data; sends exactly one WM_CHECKRESULT to window.
void RunMailCheck(HWND window, const MailCredentials *credentials, int timeoutMs);

// The count of a positive STAT reply of the given length: the second field
// of the reply split on single-byte spaces, read as atoi reads it and
// saturated at the int range; 0 when there is no second field.
int ParseStatCount(const char *reply, int length);

#endif
