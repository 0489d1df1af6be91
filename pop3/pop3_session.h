// The POP3 check's exchange, on a connected stream bound to run->reader.
#ifndef TOLVARAN_POP3_SESSION_H
#define TOLVARAN_POP3_SESSION_H

#include "checkrun/check_run.h"

// Greeting, USER, PASS and STAT; reports the count and logs out, or keeps
// the failure in run for the caller to report after the clean-up.
void TalkPop3(CheckRun *run, const MailCredentials *credentials);

#endif
