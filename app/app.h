// Start-up, the hidden main window and the tray controller.
#ifndef TOLVARAN_APP_H
#define TOLVARAN_APP_H

#include <windows.h>
#include <shellapi.h>

extern HINSTANCE hInstance;
extern NOTIFYICONDATAA trayData;

ATOM RegisterMainClass(HINSTANCE instance);
int CreateMainWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void AddTrayIcon(HWND hwnd, NOTIFYICONDATAA *data);
int ShowTrayMenu(HWND hwnd);

#endif
