// Every number Tolvaran shares between its code and its resource script:
// resources, menu commands, dialog controls, window messages, timer, status.
#ifndef TOLVARAN_RESOURCE_H
#define TOLVARAN_RESOURCE_H

// Icons.
#define IDI_APP          100
#define IDI_NO_MAIL      101
#define IDI_NEW_MAIL     102
#define IDI_CHECK_ERROR  103
#define IDI_AUTH_ERROR   104

// Settings dialog and its controls.
#define IDD_SETTINGS           110
#define IDC_SERVER             111
#define IDC_USER               112
#define IDC_PASSWORD           113
#define IDC_INTERVAL           114
#define IDC_LAUNCH_PROGRAM     115
#define IDC_LAUNCH_PARAMETERS  116

// Tray menu and its commands.
#define IDR_TRAY_MENU   120
#define IDM_CHECK_NOW   40001
#define IDM_SETTINGS    40002
#define IDM_EXIT        40003

// Tray entry identifier and the timers of the main window: the check
// schedule, the check after a resume and the check after a network change.
#define TRAY_ICON_UID     100
#define ID_CHECK_TIMER    32767
#define ID_RESUME_TIMER   32766
#define ID_NETWORK_TIMER  32765
// The IDLE watch's: the end of a burst of changes, and a watch's delayed start.
#define ID_IDLE_CHANGE_TIMER 32764
#define ID_IDLE_START_TIMER  32763
// The pause after a server closed the watch with BYE, before the one check.
#define ID_IDLE_BYE_TIMER    32762

// Messages of the main window (WM_USER is 0x0400).
#define WM_TRAYNOTIFY   1024
// A check run's report: its CheckStatus in the low word of wParam and its
// run number in the high word (0 for a run the window did not number), the
// text in lParam.
#define WM_CHECKRESULT  1025
#define WM_STARTCHECK   1026
// Posted by the network watcher when addresses or interfaces change.
#define WM_NETWORKCHANGED 1027
// Sent by an IMAP check that succeeded, in place of WM_CHECKRESULT: wParam
// as WM_CHECKRESULT's, a MailboxReport in lParam.
#define WM_MAILBOXREPORT 1028
// Posted by the IDLE watch: an IdleEvent in wParam, the watch's number in
// lParam.
#define WM_IDLEWATCH 1029
// Sent by a check right after its successful report: its number in wParam
// and a NoticeRequest in lParam for the window to fill. Then, if the window
// wanted one, the number again and a MailSummary in lParam.
#define WM_NOTICEWANTED 1040
#define WM_MAILSUMMARY  1041
// Sent by a numbered check once its session is over, log-out and close
// included, after its report: the number in wParam.
#define WM_CHECKENDED 1042
// Sent by a check run or the IDLE watch when the server gave an [ALERT]: its
// text in lParam, UTF-8 without control bytes, at most ALERT_TEXT_SIZE bytes
// with the NUL.
#define WM_SERVERALERT 1030

#ifndef RC_INVOKED
// Outcome of one check run, carried in wParam of WM_CHECKRESULT.
enum CheckStatus {
    CHECK_NO_MAIL = 100,
    CHECK_NEW_MAIL = 101,
    CHECK_FAILED = 102,
    CHECK_AUTH_FAILED = 103
};

// What the IDLE watch tells the main window.
enum IdleEvent {
    IDLE_CHANGED = 1,     // INBOX changed: a message came, went or changed flags
    IDLE_ENDED,           // the watch ended by itself: dropped, BYE, refresh failed
    IDLE_LOGIN_REFUSED,   // the server refused the watch's log-in
    IDLE_REFUSED,         // the server would not EXAMINE INBOX or IDLE
    IDLE_SERVER_LEFT      // BYE while idling: the server is going down
};
#endif

#endif
