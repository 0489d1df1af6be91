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

// Icons at the sizes of the system's DPI (app/tray_image.cpp).
HICON LoadIconAtSize(HINSTANCE instance, int id, int size);
HICON LoadTrayImage(int iconId);
int TrayImageId(void);

// The tray menu and the double-click launch (app/tray_menu.cpp).
int ShowTrayMenu(HWND hwnd);
void LaunchProgram(HWND hwnd);

#endif
