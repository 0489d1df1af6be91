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
#define IDM_ADD_MAILBOX 40004
// The entries of the "設定" sub-menu that two mailboxes or more bring: one
// per mailbox, this identifier plus the mailbox's index.
#define IDM_MAILBOX_SETTINGS 40100

// Texts the program shows beside the menu and the dialog.
#define IDS_SETTINGS_MENU   130
#define IDS_REMOVE_MAILBOX  131

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
// Starts a check of the mailbox in wParam (0 for mailbox 1), or of every
// mailbox with START_ALL_MAILBOXES.
#define WM_STARTCHECK   1026
#define START_ALL_MAILBOXES 0xFFFF
// Posted by the network watcher when addresses or interfaces change.
#define WM_NETWORKCHANGED 1027
// The messages of the check runs and the IDLE watch are in
// checkrun/check_messages.h.

#endif
