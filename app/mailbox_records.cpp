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

// How many mailboxes the window runs: the settings', and mailbox 1 always.
int MailboxCount(void)
{
    return mailSettings.mailboxCount > 1 ? mailSettings.mailboxCount : 1;
}

// Mailbox index's label in UTF-16.
void MailboxLabel(int index, WCHAR *label, int capacity)
{
    char text[SERVER_NAME_SIZE];
    MailboxLabelText(index, text, sizeof text);
    WCHAR wide[SERVER_NAME_SIZE];
    if (MultiByteToWideChar(932, 0, text, -1, wide, ARRAYSIZE(wide)) <= 0)
        wide[0] = 0;
    CopyWideCut(label, capacity, wide);
}
