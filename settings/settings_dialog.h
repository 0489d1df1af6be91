// The modal settings dialog.
#ifndef TOLVARAN_SETTINGS_DIALOG_H
#define TOLVARAN_SETTINGS_DIALOG_H

#include <windows.h>

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// What RunSettingsDialog comes back with.
#define SETTINGS_ALREADY_OPEN 0
#define SETTINGS_ENDED        1
#define SETTINGS_NOT_SAVED    2

// Runs the settings dialog from the resources of instance, owned by owner.
// Returns SETTINGS_ENDED when it has ended, SETTINGS_NOT_SAVED when it
// ended with OK but the INI file could not be written (the new values are
// in effect all the same); if one is open already it is brought to the
// front and SETTINGS_ALREADY_OPEN comes back at once.
int RunSettingsDialog(HINSTANCE instance, HWND owner);

// The message box, owned by owner, saying the settings could not be saved
// to path.
void ShowSaveFailure(HWND owner, const char *path);

#endif
