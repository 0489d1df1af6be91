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

// Copies server, user and password in one piece, so a check run never sees
// a value half replaced by the settings dialog.
void CopyCredentials(MailCredentials *copy)
{
    LockSettings();
    memcpy(copy->serverName, mailSettings.serverName, sizeof copy->serverName);
    memcpy(copy->userName, mailSettings.userName, sizeof copy->userName);
    memcpy(copy->password, mailSettings.password, sizeof copy->password);
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

// Reads one key of the section into buffer (PROFILE_READ_SIZE bytes).
static void ReadProfileValue(const char *path, const char *section, const char *key, char *buffer)
{
    GetPrivateProfileStringA(section, key, "", buffer, PROFILE_READ_SIZE, path);
}

// Fills mailSettings from the user's section of the INI file.
int LoadSettings(const char *path, const char *section)
{
    char value[PROFILE_READ_SIZE];
    char decoded[PROFILE_READ_SIZE];

    LockSettings();
    ReadProfileValue(path, section, "MAIL_SERV", value);
    CopyTextCut(mailSettings.serverName, sizeof mailSettings.serverName, value);

    ReadProfileValue(path, section, "MAIL_USER", value);
    CopyTextCut(mailSettings.userName, sizeof mailSettings.userName, value);

    // Both buffers held the password, one as Base64 text: later reads would
    // write over only the start of value.
    ReadProfileValue(path, section, "MAIL_PASS", value);
    DecodeBase64(value, decoded, sizeof decoded);
    CopyTextCut(mailSettings.password, sizeof mailSettings.password, decoded);
    SecureZeroMemory(decoded, sizeof decoded);
    SecureZeroMemory(value, sizeof value);
    UnlockSettings();

    ReadProfileValue(path, section, "MAIL_APPA", value);
    CopyTextCut(mailSettings.launchProgram, sizeof mailSettings.launchProgram, value);

    ReadProfileValue(path, section, "MAIL_APPP", value);
    CopyTextCut(mailSettings.launchParameters, sizeof mailSettings.launchParameters, value);

    ReadProfileValue(path, section, "MAIL_TIME", value);
    int interval = MinutesTextToMs(value);
    mailSettings.intervalMs = interval > 0 ? interval : MS_PER_MINUTE;

    ReadProfileValue(path, section, "MAIL_NOTIFY", value);
    mailSettings.notifyNewMail = NoticeKind(value);

    ReadProfileValue(path, section, "IMAP_IDLE", value);
    mailSettings.imapIdle = !NumberIsZero(value);
    return 1;
}

// Writes one key of the section; returns 0 when the platform could not.
static int WriteProfileValue(const char *path, const char *section, const char *key,
                             const char *value)
{
    return WritePrivateProfileStringA(section, key, value, path) != FALSE;
}

// Writes all six keys of the user's section from mailSettings; returns 0
// when any of them could not be written. The record keeps its values.
int SaveSettings(const char *path, const char *section)
{
    char encoded[PROFILE_READ_SIZE];
    char minutes[16];
    int saved = 1;

    // Every key is tried even after a failure, so one that can be written is.
    saved &= WriteProfileValue(path, section, "MAIL_SERV", mailSettings.serverName);
    saved &= WriteProfileValue(path, section, "MAIL_USER", mailSettings.userName);
    EncodeBase64(mailSettings.password, encoded);
    saved &= WriteProfileValue(path, section, "MAIL_PASS", encoded);
    SecureZeroMemory(encoded, sizeof encoded);
    saved &= WriteProfileValue(path, section, "MAIL_APPA", mailSettings.launchProgram);
    saved &= WriteProfileValue(path, section, "MAIL_APPP", mailSettings.launchParameters);
    snprintf(minutes, sizeof minutes, "%d", mailSettings.intervalMs / MS_PER_MINUTE);
    saved &= WriteProfileValue(path, section, "MAIL_TIME", minutes);
    return saved;
}
