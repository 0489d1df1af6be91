// Start-up, the hidden main window and the tray controller.
#ifndef TOLVARAN_APP_H
#define TOLVARAN_APP_H

#include <windows.h>
#include <shellapi.h>

// Bytes of the tooltip in the first layout of NOTIFYICONDATAA: 63 and NUL.
#define TRAY_TIP_SIZE 64
// Bytes of that first layout: 88 on 32-bit Windows, 104 on 64-bit Windows.
#define TRAY_RECORD_V1_SIZE (sizeof(void *) == 8 ? 104 : 88)

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
void RestoreTrayIcon(void);
void RemoveTrayIcon(void);
void ShowTrayNotice(const WCHAR *title, const WCHAR *text, DWORD flags);

// Whether the check schedule's timer is counting down (app/tray.cpp). The
// check's thread routine is a variable so that the tests can hold checks;
// it takes a CheckStart.
int CheckTimerArmed(void);
extern void(__cdecl *checkThreadRoutine)(void *);

// A server's [ALERT] as a notice, once per text in a run of the program
// (app/server_alert.cpp).
void ShowServerAlert(const char *text);

// The notice when new mail arrives (app/new_mail_notice.cpp); mailbox is
// the IMAP check's record, NULL after a POP3 check.
struct MailboxReport;
void NoteMailCount(WPARAM status, const char *text, const MailboxReport *mailbox, int number);
// The check's question after its report, and the summary that follows.
struct NoticeRequest;
struct MailSummary;
void OnNoticeWanted(int number, NoticeRequest *request);
void OnMailSummary(int number, const MailSummary *summary);
void NoteCheckEndedForNotice(int number);

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
void NoteMailboxForIdle(HWND hwnd, const MailboxReport *mailbox);
void OnIdleWatch(HWND hwnd, WPARAM event, LPARAM number);
int OnIdleTimer(HWND hwnd, UINT_PTR timer);
int StopIdleWatch(HWND hwnd, DWORD waitMs);
void OnSettingsChangedForIdle(HWND hwnd);

// Icons at the sizes of the system's DPI (app/tray_image.cpp).
HICON LoadIconAtSize(HINSTANCE instance, int id, int size);
HICON LoadTrayImage(HINSTANCE instance, int iconId);
int TrayImageId(void);

// The tray menu and the double-click launch (app/tray_menu.cpp).
int ShowTrayMenu(HWND hwnd);
void LaunchProgram(HWND hwnd);

#endif
