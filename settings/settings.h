// The settings record, its INI file store and the guard shared with check runs.
#ifndef TOLVARAN_SETTINGS_H
#define TOLVARAN_SETTINGS_H

#include <windows.h>

#include "settings/text.h"

#define SERVER_NAME_SIZE   256
#define USER_NAME_SIZE     256
#define PASSWORD_SIZE      256
#define LAUNCH_FIELD_SIZE  260
#define LOGIN_NAME_SIZE    255
#define INI_PATH_SIZE      260
#define PROFILE_READ_SIZE  1024
#define MS_PER_MINUTE      60000

// What the new-mail notice shows (MAIL_NOTIFY): nothing, the sender and
// subject of the newest messages (the default), or only their count.
#define NOTICE_NONE          0
#define NOTICE_WHO_AND_WHAT  1
#define NOTICE_COUNT_ONLY    2

// The mailboxes a user may have; mailbox 1's keys carry no number, those
// of mailbox k from 2 on carry k (MAIL_SERV2 ...).
#define MAILBOX_LIMIT      8
#define MAILBOX_LABEL_SIZE 64

// One mailbox's settings.
struct MailboxSettings {
    int number;  // the number its keys carry in the file, 1 to MAILBOX_LIMIT
    char serverName[SERVER_NAME_SIZE];
    char userName[USER_NAME_SIZE];
    char password[PASSWORD_SIZE];
    char launchProgram[LAUNCH_FIELD_SIZE];
    char launchParameters[LAUNCH_FIELD_SIZE];
    int intervalMs;
    // MAIL_NAME: a short label set by hand; empty means the server's host.
    // The dialog does not show it, and saving leaves the key as it is.
    char label[MAILBOX_LABEL_SIZE];
};

struct MailSettings {
    // Mailbox 1 always, then those whose server key the file has, in
    // number order: mailboxCount of them.
    MailboxSettings mailbox[MAILBOX_LIMIT];
    int mailboxCount;
    // MAIL_NOTIFY, one of the NOTICE_ values, for every mailbox. The dialog
    // does not show it, and saving leaves the key as it is in the file.
    int notifyNewMail;
    // IMAP_IDLE: 0 turns the IDLE watch off; read like MAIL_NOTIFY.
    int imapIdle;
};

// What a check run needs of the settings, copied in one piece under the lock.
struct MailCredentials {
    char serverName[SERVER_NAME_SIZE];
    char userName[USER_NAME_SIZE];
    char password[PASSWORD_SIZE];
};

extern MailSettings mailSettings;
extern char *loginName;
extern char *iniPath;

char *ReadLoginName(void);
char *MakeIniPath(HINSTANCE instance);
// Reads every mailbox of the section: mailbox 1, then each number from 2
// to MAILBOX_LIMIT whose server key is there, gaps passed over.
int LoadSettings(const char *path, const char *section);
// Writes the six keys the dialog edits of mailbox index (0 for mailbox 1);
// returns 1 when all were written, 0 when any write failed.
int SaveSettings(const char *path, const char *section, int index);
// Takes mailbox index (1 or more) out of the file and the record: the keys
// of the mailboxes after it move down one number, so the numbers stay
// without a new gap. Every key and comment it does not own stays. Returns
// 1 when every write succeeded.
int RemoveMailbox(const char *path, const char *section, int index);
// The number a new mailbox's keys get: the lowest one from 2 that no
// mailbox has, or 0 when there are MAILBOX_LIMIT already.
int FreeMailboxNumber(void);
// Takes a new mailbox into the table, after the others, with the given
// fields; returns its index, or -1 when the table is full.
int AddMailbox(const MailboxSettings *fields);
// Mailbox index's label in code page 932: MAIL_NAME as set, else the host
// part of its server ("imaps://imap.example.jp:993" gives imap.example.jp).
void MailboxLabelText(int index, char *label, size_t capacity);

// The lock around serverName, userName and password: taken by every writer
// once check runs may exist, and by every reader on another thread.
void LockSettings(void);
void UnlockSettings(void);
void CopyCredentials(int index, MailCredentials *copy);

// Minutes text to milliseconds: leading blanks, sign and digits as atoi
// reads them, saturated instead of overflowing, capped at the largest whole
// minutes that fit an int.
int MinutesTextToMs(const char *text);

#endif
