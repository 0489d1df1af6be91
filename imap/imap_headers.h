// The IMAP side of the notice's headers, read without changing the mailbox.
#ifndef TOLVARAN_IMAP_HEADERS_H
#define TOLVARAN_IMAP_HEADERS_H

#include "imap/imap_session.h"

// EXAMINE, UID SEARCH for the new unread messages and UID FETCH of their
// headers with BODY.PEEK, when the window wants them. Returns 0 when the
// server no longer listens (no LOGOUT then).
int FetchImapSummary(CheckRun *run, ImapState *imap);

#endif
