// The window's fixed table of mailbox records, and the timers that carry
// a mailbox in their identifiers.
#include "app/app.h"

MailboxRecord mailboxRecords[MAILBOX_LIMIT];

// The mailbox whose timer of that base id is, or -1.
int MailboxOfTimer(UINT_PTR id, int base)
{
    for (int index = 0; index < MAILBOX_LIMIT; index++)
        if (id == (UINT_PTR)MAILBOX_TIMER(base, index))
            return index;
    return -1;
}
