// The settings record and its store: one INI section per Windows login name.
#include "settings/settings.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "settings/base64.h"

MailSettings mailSettings;
char *loginName;
char *iniPath;

static SRWLOCK settingsLock = SRWLOCK_INIT;

static const char iniFileName[] = "\\Tolvaran.ini";

// Takes the lock around the fields check runs read.
void LockSettings(void)
{
    AcquireSRWLockExclusive(&settingsLock);
}

// Releases the lock taken by LockSettings.
void UnlockSettings(void)
{
    ReleaseSRWLockExclusive(&settingsLock);
}

// Copies a mailbox's server, user and password in one piece, so a check
// run never sees a value half replaced by the settings dialog.
void CopyCredentials(int index, MailCredentials *copy)
{
    LockSettings();
    const MailboxSettings *box = &mailSettings.mailbox[index];
    memcpy(copy->serverName, box->serverName, sizeof copy->serverName);
    memcpy(copy->userName, box->userName, sizeof copy->userName);
    memcpy(copy->password, box->password, sizeof copy->password);
    UnlockSettings();
}

// Minutes text to milliseconds; strtol reads exactly what atoi reads and
// saturates where atoi would overflow.
int MinutesTextToMs(const char *text)
{
    long minutes = strtol(text, NULL, 10);
    if (minutes > INT_MAX / MS_PER_MINUTE)
        minutes = INT_MAX / MS_PER_MINUTE;
    if (minutes < INT_MIN / MS_PER_MINUTE)
        minutes = INT_MIN / MS_PER_MINUTE;
    return (int)minutes * MS_PER_MINUTE;
}

// Whether text reads as the number 0 (blanks, sign and at least one digit,
// as atoi reads them); an empty or non-numeric text does not.
static int NumberIsZero(const char *text)
{
    char *end;
    long number = strtol(text, &end, 10);
    return end != text && number == 0;
}

// MAIL_NOTIFY's value: 0 and 2 as written, anything else the default.
static int NoticeKind(const char *text)
{
    char *end;
    long number = strtol(text, &end, 10);
    if (end != text && (number == NOTICE_NONE || number == NOTICE_COUNT_ONLY))
        return (int)number;
    return NOTICE_WHO_AND_WHAT;
}

// Reads the Windows login name into a block kept for the whole run.
char *ReadLoginName(void)
{
    char *name = (char *)LocalAlloc(LPTR, LOGIN_NAME_SIZE);
    if (name == NULL)
        return NULL;
    DWORD size = LOGIN_NAME_SIZE;
    if (!GetUserNameA(name, &size)) {
        LocalFree(name);
        return NULL;
    }
    return name;
}

// Builds the path of Tolvaran.ini in the directory of the running program.
char *MakeIniPath(HINSTANCE instance)
{
    char *path = (char *)LocalAlloc(LPTR, INI_PATH_SIZE);
    if (path == NULL)
        return NULL;

    DWORD length = GetModuleFileNameA(instance, path, INI_PATH_SIZE - 1);
    if (length == 0 || length >= INI_PATH_SIZE - 1) {
        // No path, or one the buffer had to cut: a file beside it is unknowable.
        LocalFree(path);
        return NULL;
    }

    // The second byte of a double-byte character may be 0x5C, the code of
    // the backslash, so the scan steps over each such character whole.
    char *lastSeparator = NULL;
    char *p = path;
    while (*p != 0) {
        if (IsDBCSLeadByte((BYTE)*p)) {
            if (p[1] == 0)
                break;
            p += 2;
            continue;
        }
        if (*p == '\\')
            lastSeparator = p;
        p++;
    }
    if (lastSeparator == NULL) {
        LocalFree(path);
        return NULL;
    }

    size_t directoryLength = (size_t)(lastSeparator - path);
    if (directoryLength + sizeof iniFileName > INI_PATH_SIZE) {
        LocalFree(path);
        return NULL;
    }
    memcpy(lastSeparator, iniFileName, sizeof iniFileName);
    return path;
}

// The keys of one mailbox, without its number.
static const char *const mailboxKeys[] = {"MAIL_SERV", "MAIL_USER", "MAIL_PASS", "MAIL_TIME",
                                          "MAIL_APPA", "MAIL_APPP", "MAIL_NAME"};

// A mailbox's key: the base, and the number from 2 on ("MAIL_SERV3").
static void MailboxKey(char *key, size_t capacity, const char *base, int number)
{
    if (number > 1)
        snprintf(key, capacity, "%s%d", base, number);
    else
        snprintf(key, capacity, "%s", base);
}

// Reads one key of the section into buffer (PROFILE_READ_SIZE bytes).
static void ReadProfileValue(const char *path, const char *section, const char *key, char *buffer)
{
    GetPrivateProfileStringA(section, key, "", buffer, PROFILE_READ_SIZE, path);
}

// Reads mailbox number's key into buffer; returns 0 when the key is absent.
static int ReadMailboxValue(const char *path, const char *section, const char *base, int number,
                            char *buffer)
{
    // A default no value can hold tells an absent key from an empty one.
    static const char absent[] = "\x01";
    char key[32];
    MailboxKey(key, sizeof key, base, number);
    GetPrivateProfileStringA(section, key, absent, buffer, PROFILE_READ_SIZE, path);
    if (strcmp(buffer, absent) != 0)
        return 1;
    buffer[0] = 0;
    return 0;
}

// Fills box from the keys of mailbox number.
static void LoadMailbox(const char *path, const char *section, int number, MailboxSettings *box)
{
    char value[PROFILE_READ_SIZE];
    char decoded[PROFILE_READ_SIZE];

    box->number = number;
    ReadMailboxValue(path, section, "MAIL_SERV", number, value);
    CopyTextCut(box->serverName, sizeof box->serverName, value);

    ReadMailboxValue(path, section, "MAIL_USER", number, value);
    CopyTextCut(box->userName, sizeof box->userName, value);

    // Both buffers held the password, one as Base64 text: later reads would
    // write over only the start of value.
    ReadMailboxValue(path, section, "MAIL_PASS", number, value);
    DecodeBase64(value, decoded, sizeof decoded);
    CopyTextCut(box->password, sizeof box->password, decoded);
    SecureZeroMemory(decoded, sizeof decoded);
    SecureZeroMemory(value, sizeof value);

    ReadMailboxValue(path, section, "MAIL_APPA", number, value);
    CopyTextCut(box->launchProgram, sizeof box->launchProgram, value);

    ReadMailboxValue(path, section, "MAIL_APPP", number, value);
    CopyTextCut(box->launchParameters, sizeof box->launchParameters, value);

    ReadMailboxValue(path, section, "MAIL_TIME", number, value);
    int interval = MinutesTextToMs(value);
    box->intervalMs = interval > 0 ? interval : MS_PER_MINUTE;

    ReadMailboxValue(path, section, "MAIL_NAME", number, value);
    CopyTextCut(box->label, sizeof box->label, value);
}

// Fills mailSettings from the user's section of the INI file: mailbox 1,
// then every later number whose server key is there.
int LoadSettings(const char *path, const char *section)
{
    char value[PROFILE_READ_SIZE];

    LockSettings();
    mailSettings.mailboxCount = 0;
    for (int number = 1; number <= MAILBOX_LIMIT; number++) {
        if (number > 1 && !ReadMailboxValue(path, section, "MAIL_SERV", number, value))
            continue;
        LoadMailbox(path, section, number, &mailSettings.mailbox[mailSettings.mailboxCount++]);
    }
    UnlockSettings();

    ReadProfileValue(path, section, "MAIL_NOTIFY", value);
    mailSettings.notifyNewMail = NoticeKind(value);

    ReadProfileValue(path, section, "IMAP_IDLE", value);
    mailSettings.imapIdle = !NumberIsZero(value);
    return 1;
}

// Writes one key of the section (NULL deletes it); returns 0 when the
// platform could not.
static int WriteProfileValue(const char *path, const char *section, const char *key,
                             const char *value)
{
    return WritePrivateProfileStringA(section, key, value, path) != FALSE;
}

// Writes one key of mailbox number.
static int WriteMailboxValue(const char *path, const char *section, const char *base, int number,
                             const char *value)
{
    char key[32];
    MailboxKey(key, sizeof key, base, number);
    return WriteProfileValue(path, section, key, value);
}

// Writes the six keys the dialog edits of mailbox index from mailSettings;
// returns 0 when any of them could not be written. The record keeps its
// values.
int SaveSettings(const char *path, const char *section, int index)
{
    const MailboxSettings *box = &mailSettings.mailbox[index];
    char encoded[PROFILE_READ_SIZE];
    char minutes[16];
    int saved = 1;

    // Every key is tried even after a failure, so one that can be written is.
    saved &= WriteMailboxValue(path, section, "MAIL_SERV", box->number, box->serverName);
    saved &= WriteMailboxValue(path, section, "MAIL_USER", box->number, box->userName);
    EncodeBase64(box->password, encoded);
    saved &= WriteMailboxValue(path, section, "MAIL_PASS", box->number, encoded);
    SecureZeroMemory(encoded, sizeof encoded);
    saved &= WriteMailboxValue(path, section, "MAIL_APPA", box->number, box->launchProgram);
    saved &= WriteMailboxValue(path, section, "MAIL_APPP", box->number, box->launchParameters);
    snprintf(minutes, sizeof minutes, "%d", box->intervalMs / MS_PER_MINUTE);
    saved &= WriteMailboxValue(path, section, "MAIL_TIME", box->number, minutes);
    return saved;
}

// Moves every key of mailbox number from to number to, as the file has
// them: a key the mailbox lacks is lacking at its new number too.
static int MoveMailboxKeys(const char *path, const char *section, int from, int to)
{
    char value[PROFILE_READ_SIZE];
    int moved = 1;
    for (const char *base : mailboxKeys) {
        int present = ReadMailboxValue(path, section, base, from, value);
        moved &= WriteMailboxValue(path, section, base, to, present ? value : NULL);
        moved &= WriteMailboxValue(path, section, base, from, NULL);
    }
    SecureZeroMemory(value, sizeof value);
    return moved;
}

// Takes mailbox index out: its keys go, and each mailbox after it moves
// down one number, keys and record.
int RemoveMailbox(const char *path, const char *section, int index)
{
    if (index < 1 || index >= mailSettings.mailboxCount)
        return 0;
    int removed = 1;
    for (const char *base : mailboxKeys)
        removed &= WriteMailboxValue(path, section, base, mailSettings.mailbox[index].number, NULL);
    LockSettings();
    for (int i = index + 1; i < mailSettings.mailboxCount; i++) {
        MailboxSettings *box = &mailSettings.mailbox[i];
        removed &= MoveMailboxKeys(path, section, box->number, box->number - 1);
        box->number--;
    }
    MailboxSettings *gone = &mailSettings.mailbox[index];
    SecureZeroMemory(gone, sizeof *gone);
    memmove(gone, gone + 1, sizeof *gone * (size_t)(mailSettings.mailboxCount - index - 1));
    mailSettings.mailboxCount--;
    SecureZeroMemory(&mailSettings.mailbox[mailSettings.mailboxCount], sizeof mailSettings.mailbox[0]);
    UnlockSettings();
    return removed;
}

// The lowest number from 2 that no mailbox has; 0 when all are taken.
int FreeMailboxNumber(void)
{
    if (mailSettings.mailboxCount >= MAILBOX_LIMIT)
        return 0;
    for (int number = 2; number <= MAILBOX_LIMIT; number++) {
        int taken = 0;
        for (int i = 0; i < mailSettings.mailboxCount; i++)
            taken |= mailSettings.mailbox[i].number == number;
        if (!taken)
            return number;
    }
    return 0;
}

// Takes a new mailbox into the table, under the number FreeMailboxNumber
// gives.
int AddMailbox(const MailboxSettings *fields)
{
    int number = FreeMailboxNumber();
    if (number == 0)
        return -1;
    LockSettings();
    int index = mailSettings.mailboxCount++;
    mailSettings.mailbox[index] = *fields;
    mailSettings.mailbox[index].number = number;
    UnlockSettings();
    return index;
}

// Mailbox index's label: MAIL_NAME, else the host part of its server.
void MailboxLabelText(int index, char *label, size_t capacity)
{
    const MailboxSettings *box = &mailSettings.mailbox[index];
    if (box->label[0] != '\0') {
        CopyTextCut(label, capacity, box->label);
        return;
    }
    const char *start = strstr(box->serverName, "://");
    start = start != NULL ? start + 3 : box->serverName;
    char host[SERVER_NAME_SIZE];
    size_t length = strcspn(start, ":/");
    memcpy(host, start, length);
    host[length] = '\0';
    CopyTextCut(label, capacity, host);
}
