// The modal settings dialog.
#ifndef TOLVARAN_SETTINGS_DIALOG_H
#define TOLVARAN_SETTINGS_DIALOG_H

#include <windows.h>

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the settings dialog owned by owner and returns 1 when it has ended;
// if one is open already it is brought to the front and 0 comes back at once.
int RunSettingsDialog(HWND owner);

#endif
