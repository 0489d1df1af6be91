// The modal settings dialog.
#ifndef TOLVARAN_SETTINGS_DIALOG_H
#define TOLVARAN_SETTINGS_DIALOG_H

#include <windows.h>

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// What RunSettingsDialog comes back with.
#define SETTINGS_ALREADY_OPEN    0
#define SETTINGS_ENDED           1
#define SETTINGS_NOT_SAVED       2
#define SETTINGS_ADDED           3
#define SETTINGS_ADDED_NOT_SAVED 4
#define SETTINGS_REMOVE          5

// Runs the settings dialog of mailbox index (0 for mailbox 1; the count of
// mailboxes for a new one) from the resources of instance, owned by owner.
// Returns SETTINGS_ENDED when it has ended (OK, or Cancel, which adds or
// changes nothing), SETTINGS_NOT_SAVED when it ended with OK but the INI
// file could not be written (the new values are in effect all the same),
// SETTINGS_ADDED (or SETTINGS_ADDED_NOT_SAVED) when a new mailbox was added
// to the table, and SETTINGS_REMOVE when the user emptied the server of a
// mailbox after the first and said yes to removing it, which the caller
// does. If one is open already it is brought to the front and
// SETTINGS_ALREADY_OPEN comes back at once.
int RunSettingsDialog(HINSTANCE instance, HWND owner, int index);

// The message box, owned by owner, saying the settings could not be saved
// to path.
void ShowSaveFailure(HWND owner, const char *path);

#endif
