// The IMAP check's exchange, on a connected stream bound to run->reader.
#ifndef TOLVARAN_IMAP_CHECK_H
#define TOLVARAN_IMAP_CHECK_H

#include "checkrun/check_run.h"

// Logs in, asks STATUS of INBOX, reports and logs out; a failure is kept in
// run for the caller to report after the clean-up.
void TalkImap(CheckRun *run, const MailCredentials *credentials);

#endif
