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

struct MailSettings {
    char serverName[SERVER_NAME_SIZE];
    char userName[USER_NAME_SIZE];
    char password[PASSWORD_SIZE];
    char launchProgram[LAUNCH_FIELD_SIZE];
    char launchParameters[LAUNCH_FIELD_SIZE];
    int intervalMs;
    // MAIL_NOTIFY, one of the NOTICE_ values. The dialog does not show
    // it, and saving leaves the key as it is in the file.
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
int LoadSettings(const char *path, const char *section);
// Returns 1 when all six keys were written, 0 when any write failed.
int SaveSettings(const char *path, const char *section);

// The lock around serverName, userName and password: taken by every writer
// once check runs may exist, and by every reader on another thread.
void LockSettings(void);
void UnlockSettings(void);
void CopyCredentials(MailCredentials *copy);

// Minutes text to milliseconds: leading blanks, sign and digits as atoi
// reads them, saturated instead of overflowing, capped at the largest whole
// minutes that fit an int.
int MinutesTextToMs(const char *text);

#endif
