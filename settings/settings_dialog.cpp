// Placeholder until the settings dialog lands.
#include "settings/settings_dialog.h"

INT_PTR CALLBACK SettingsDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

int RunSettingsDialog(HWND)
{
    return 1;
}
