// The window's fixed table of mailbox records, and the timers that carry
// a mailbox in their identifiers.
#include "app/app.h"

#include <string.h>

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

// Mailbox index's label: MAIL_NAME as set, else the host part of its
// server ("imaps://imap.example.jp:993" gives "imap.example.jp").
void MailboxLabel(int index, WCHAR *label, int capacity)
{
    const MailboxSettings *box = &mailSettings.mailbox[index];
    char host[SERVER_NAME_SIZE];
    const char *text = box->label;
    if (text[0] == '\0') {
        const char *start = strstr(box->serverName, "://");
        start = start != NULL ? start + 3 : box->serverName;
        size_t length = strcspn(start, ":/");
        memcpy(host, start, length);
        host[length] = '\0';
        text = host;
    }
    WCHAR wide[MAILBOX_LABEL_SIZE + SERVER_NAME_SIZE];
    if (MultiByteToWideChar(932, 0, text, -1, wide, ARRAYSIZE(wide)) <= 0)
        wide[0] = 0;
    CopyWideCut(label, capacity, wide);
}
