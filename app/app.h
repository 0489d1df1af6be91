// Start-up, the hidden main window and the tray controller.
#ifndef TOLVARAN_APP_H
#define TOLVARAN_APP_H

#include <windows.h>
#include <shellapi.h>

#include "checkrun/check_limits.h"
#include "notice/mail_summary.h"
#include "settings/settings.h"

// Bytes of the tooltip in the first layout of NOTIFYICONDATAA: 63 and NUL.
#define TRAY_TIP_SIZE 64
// Bytes of that first layout: 88 on 32-bit Windows, 104 on 64-bit Windows.
#define TRAY_RECORD_V1_SIZE (sizeof(void *) == 8 ? 104 : 88)

// What the window keeps of one mailbox's checks (app/tray.cpp).
struct CheckState {
    int timerArmed;  // the schedule's one-shot timer is counting down
    // One check runs at a time, from its connect until its socket is
    // closed; a start asked meanwhile brings one check after the close.
    int running;
    int wanted;
    int number;  // of the check last started
    int shown;   // of the newest report shown
    // The newest report shown: whether there is one, its status and text.
    int reported;
    int status;
    char text[TOOLTIP_BUFFER_SIZE];
};

// The new-mail notice's memory of one mailbox (app/new_mail_notice.cpp).
struct NoticeState {
    int lastMailCount;  // of the last successful check; the first counts up from 0
    // The last successful IMAP check's INBOX, if the last success was one.
    int haveLastMailbox;
    DWORD lastUidValidity;
    DWORD lastUidNext;
    // A notice that waits for the check's summary, the number of that
    // check, and what it needs to find the new messages.
    int pending;
    int pendingNumber;
    NoticeRequest pendingRequest;
    char pendingCountText[TOOLTIP_BUFFER_SIZE];
};

// One mailbox's IDLE watch as the window runs it (app/idle_watch.cpp).
struct WatchState {
    HANDLE thread;  // the running watch's thread, NULL when none
    HANDLE stop;    // its stop event
    LPARAM number;  // messages from any other watch are old news
    DWORD startTick;
    DWORD endTick;
    DWORD waitBeforeMs;
    int refused;  // the server answered EXAMINE or IDLE with NO or BAD
    int changeTimerArmed;
    int startTimerArmed;
};

// Everything the window keeps of one mailbox; record i is the settings'
// mailbox i. The table is fixed: nothing grows per check
// (app/mailbox_records.cpp).
struct MailboxRecord {
    CheckState check;
    NoticeState notice;
    WatchState watch;
};
extern MailboxRecord mailboxRecords[MAILBOX_LIMIT];

// How many mailboxes the window runs: the settings', and mailbox 1 always.
int MailboxCount(void);
// Mailbox index's label in UTF-16: MAIL_NAME as set, else the host part of
// its server; cut to capacity units with the NUL.
void MailboxLabel(int index, WCHAR *label, int capacity);

// The one tray icon and tooltip for every mailbox (app/tray_summary.cpp):
// mailbox index has just shown a report of status and text (NULL keeps its
// last text).
void ShowMailboxesInTray(int index, int status, const char *text);
// Shows the mailboxes there are now, after one was removed.
void RefreshTray(void);
// The tooltip of count mailboxes, one line "label: text" per mailbox that
// has reported, into tip of capacity units; labels shortened before texts.
void FormatMailboxesTip(int count, WCHAR *tip, int capacity);
// The icon of count mailboxes: new mail in any, else a refused log-in in
// any, else a failure in any, else no mail; the application's icon until
// every one has reported.
int MailboxesIcon(int count);

// A timer of mailbox index: each kind has its base identifier (mailbox 1's),
// and the others count down from it in steps of 16.
#define MAILBOX_TIMER(base, index) ((base) - 16 * (index))
// The mailbox whose timer of that base id is, or -1.
int MailboxOfTimer(UINT_PTR id, int base);

extern HINSTANCE hInstance;
extern NOTIFYICONDATAA trayData;
// "TolvaranClass": the main window's class and the single-instance guard.
extern const char mainClassName[];

ATOM RegisterMainClass(HINSTANCE instance);
int CreateMainWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The tray entry (app/tray_icon.cpp).
void AddTrayIcon(HWND hwnd, NOTIFYICONDATAA *data);
void SetTrayIcon(int iconId);
void SetTrayTip(const char *text);
void UpdateTrayIcon(void);
// Shows the record's icon with a tooltip of up to 127 UTF-16 units, in the
// record's UTF-16 layout; NULL goes back to the record's own tooltip.
void UpdateTrayIconWide(const WCHAR *tip);
void RestoreTrayIcon(void);
void RemoveTrayIcon(void);
void ShowTrayNotice(const WCHAR *title, const WCHAR *text, DWORD flags);

// The check's thread routine (app/tray.cpp), a variable so that the tests
// can hold checks; it takes a CheckStart.
extern void(__cdecl *checkThreadRoutine)(void *);
// How far apart mailboxes that start together start (app/tray.cpp).
extern UINT mailboxSpacingMs;

// A server's [ALERT] as a notice, once per text in a run of the program
// (app/server_alert.cpp).
void ShowServerAlert(int index, const char *text);

// The notice when new mail arrives (app/new_mail_notice.cpp); mailbox is
// the IMAP check's record, NULL after a POP3 check.
struct MailboxReport;
void NoteMailCount(int index, WPARAM status, const char *text, const MailboxReport *mailbox, int number);
// The check's question after its report, the summary that follows, and
// the end of its session; index is the check's mailbox.
void OnNoticeWanted(int index, int number, NoticeRequest *request);
void OnMailSummary(int index, int number, const MailSummary *summary);
void NoteCheckEndedForNotice(int index, int number);
// The mailbox of the last new-mail notice shown: a click on it starts
// that mailbox's program.
extern int noticeMailbox;

// The notice's UTF-16 text (app/notice_text.cpp).
int CopyWideCut(WCHAR *field, int capacity, const WCHAR *text);
void CountTextToWide(const char *text, WCHAR *field, int capacity);
void FormatSummaryNotice(const MailSummary *summary, WCHAR *text, int capacity);

// The checks after a resume and after a network change (app/recovery.cpp).
// The delays are variables so that the tests can shorten them.
extern UINT resumeCheckDelayMs;
extern UINT networkSettleMs;
extern DWORD networkCheckGapMs;
void NoteReportForRecovery(WPARAM status, const char *text);
void OnResume(HWND hwnd);
void OnSuspend(HWND hwnd);
// timedCheckComing: whether the schedule's timer is counting down.
void OnNetworkChanged(HWND hwnd, int timedCheckComing);
int OnRecoveryTimer(HWND hwnd, UINT_PTR timer, int timedCheckComing);
void StopRecoveryTimers(HWND hwnd);

// The watch on the network (app/network_watch.cpp).
void StartNetworkWatch(HWND hwnd);
void StopNetworkWatch(void);

// The IDLE watch as the window runs it (app/idle_watch.cpp). The times and
// the thread routine are variables so that the tests can shorten and watch
// them.
extern UINT idleChangeSettleMs;
extern DWORD idleShortLifeMs;
extern DWORD idleFirstWaitMs;
extern UINT idleByeWaitMs;
extern unsigned(__stdcall *idleWatchRoutine)(void *);
void NoteMailboxForIdle(HWND hwnd, int index, const MailboxReport *mailbox);
void OnIdleWatch(HWND hwnd, WPARAM event, LPARAM number);
int OnIdleTimer(HWND hwnd, UINT_PTR timer);
// Stops every mailbox's watch; returns whether one ran or waited to start.
int StopIdleWatches(HWND hwnd, DWORD waitMs);
// Stops the watch of mailbox index and those after it, which are about to
// move down one mailbox; their next checks start new ones.
void StopMailboxWatches(HWND hwnd, int index);
void OnSettingsChangedForIdle(HWND hwnd, int index);

// Icons at the sizes of the system's DPI (app/tray_image.cpp).
HICON LoadIconAtSize(HINSTANCE instance, int id, int size);
HICON LoadTrayImage(HINSTANCE instance, int iconId);
int TrayImageId(void);

// The tray menu and the double-click launch (app/tray_menu.cpp).
int ShowTrayMenu(HWND hwnd);
// Starts mailbox index's program, or mailbox 1's where it has none.
void LaunchProgram(HWND hwnd, int index);

#endif
