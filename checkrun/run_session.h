// One session with a mail server, from the name lookup to the close, with
// the exchange its caller brings: the check's, or the IDLE watch's.
#ifndef TOLVARAN_RUN_SESSION_H
#define TOLVARAN_RUN_SESSION_H

#include "checkrun/check_run.h"

typedef void (*TalkFunction)(CheckRun *run, const ServerAddress *server, const MailCredentials *credentials);

// Prepares run for its session, reporting to window.
void StartCheckRun(CheckRun *run, HWND window, int timeoutMs, int deadlineMs);

// Starts Windows Sockets, looks the server up, connects, starts TLS where
// the address asks for it and runs talk over the stream; closes and
// releases everything again. A failure before talk is kept in run.
void RunSession(CheckRun *run, const MailCredentials *credentials, TalkFunction talk);

#endif
