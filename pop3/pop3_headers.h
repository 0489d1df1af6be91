// The POP3 side of the notice's headers, read without changing the mailbox.
#ifndef TOLVARAN_POP3_HEADERS_H
#define TOLVARAN_POP3_HEADERS_H

#include "checkrun/check_run.h"

// UIDL (or the count) for the new messages and TOP n 0 for the newest of
// them, when the window wants them; count is STAT's.
void FetchPop3Summary(CheckRun *run, int count);

#endif
