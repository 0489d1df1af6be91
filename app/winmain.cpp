// Start-up: the single-instance guard, the hidden main window, the settings
// and the message loop.
#include "app/app.h"

#include <commctrl.h>

#include "settings/settings.h"

// Held for the whole run; the guard ends with the process.
static HANDLE instanceGuard;

// Takes the named guard; returns 0 when another instance already holds it.
static int TakeInstanceGuard(void)
{
    HANDLE other = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mainClassName);
    if (other != NULL) {
        CloseHandle(other);
        return 0;
    }
    // Two starts at the same instant can both miss the test above; the one
    // that creates the mutex second is told so here.
    instanceGuard = CreateMutexA(NULL, FALSE, mainClassName);
    if (instanceGuard != NULL && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(instanceGuard);
        instanceGuard = NULL;
        return 0;
    }
    return 1;
}

// Dispatches messages until WM_QUIT; returns the quit code.
static int RunMessageLoop(void)
{
    MSG message = {};
    BOOL got;
    while ((got = GetMessageA(&message, NULL, 0, 0)) != 0) {
        // An error result leaves nothing to dispatch but does not end the loop.
        if (got == -1)
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}

// Loads the common controls the manifest asks for (version 6, which draws
// the dialog's buttons and edit boxes in the current theme).
static void StartCommonControls(void)
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    // Without it the dialog still works, in the classic look.
    InitCommonControlsEx(&controls);
}

// The program: every start-up failure ends it quietly with exit code 0.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    hInstance = instance;
    StartCommonControls();
    if (!TakeInstanceGuard())
        return 0;
    if (!RegisterMainClass(instance))
        return 0;
    if (!CreateMainWindow(instance, SW_HIDE))
        return 0;
    loginName = ReadLoginName();
    if (loginName == NULL)
        return 0;
    iniPath = MakeIniPath(instance);
    if (iniPath == NULL)
        return 0;
    LoadSettings(iniPath, loginName);
    return RunMessageLoop();
}
