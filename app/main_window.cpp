// The class and the creation of the hidden main window.
#include "app/app.h"

#include "resources/resource.h"

const char mainClassName[] = "TolvaranClass";

static const char mainWindowTitle[] = "Tolvaran";

// Registers the main window's class; returns its atom, 0 on failure.
ATOM RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconAtSize(instance, IDI_APP, GetSystemMetrics(SM_CXICON));
    windowClass.hCursor = NULL;
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = mainClassName;
    windowClass.hIconSm = LoadIconAtSize(instance, IDI_APP, GetSystemMetrics(SM_CXSMICON));
    return RegisterClassExA(&windowClass);
}

// Creates the main window, which stays hidden, and shows it with showCommand.
int CreateMainWindow(HINSTANCE instance, int showCommand)
{
    HWND hwnd = CreateWindowExA(0, mainClassName, mainWindowTitle, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, NULL, NULL, instance, NULL);
    if (hwnd == NULL)
        return 0;
    ShowWindow(hwnd, showCommand);
    UpdateWindow(hwnd);
    return 1;
}
