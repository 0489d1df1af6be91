// Looks at the settings dialog of a running Tolvaran.exe from outside, the
// way another program on the same desktop can, and writes what it finds:
//
//   dialog_probe.exe OUTFILE [WAIT_MS [CAPTION]]
//
// CAPTION (the settings dialog's 設定 by default) names the dialog to look
// for, for example the caption of a message box.
//
// OUTFILE gets "key=value" lines: work (the work area), count (dialogs with
// the caption), window, rect.<id> (screen rectangles), text.<id> (the
// control's text as hex of its code page 932 bytes), focus (id of the
// focused control), foreground (1 if the dialog is the foreground window),
// sel (selection of the server name), limit (text limit of the minutes
// field), passchar, message (the text of the first static numbered 0xFFFF,
// a message box's text, as hex), client (the client area on the screen),
// children (how many) and child.<n> (the n-th child in template order: its
// style in hex and its screen rectangle). Exit code 0 when a dialog was
// found, 1 if not. The first line, "started=1", is on disk before the
// probe looks at anything: a file without it means Wine never ran main.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "checkrun/check_messages.h"
#include "resources/resource.h"

namespace {

const char settingsCaption[] = "\x90\xdd\x92\xe8";  // 設定
const char *caption = settingsCaption;

struct Search {
    HWND first;
    int count;
};

BOOL CALLBACK CountDialogs(HWND window, LPARAM param)
{
    Search *search = (Search *)param;
    // Left empty when the window is gone between the listing and the reads.
    char className[16] = "", title[16] = "";
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (strcmp(className, "#32770") == 0 && strcmp(title, caption) == 0 && IsWindowVisible(window)) {
        if (search->first == NULL)
            search->first = window;
        search->count++;
    }
    return TRUE;
}

void PrintRect(FILE *out, const char *key, const RECT &r)
{
    fprintf(out, "%s=%ld %ld %ld %ld\n", key, r.left, r.top, r.right, r.bottom);
}

// A message to a window of the program, answered within two seconds, or 0.
// The dialog may be going away while it is read: under Wine a message sent
// to a control destroyed meanwhile has been seen never to get its answer, and
// a plain SendMessage would then wait for ever.
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &answer))
        return 0;
    return (LRESULT)answer;
}

// "key=" and the code page 932 bytes of the window's text as hex.
void PrintText(FILE *out, const char *key, HWND window)
{
    // GetWindowText would not ask a window of another process; the
    // message itself is carried across by the system.
    char text[1024];
    int length = (int)Ask(window, WM_GETTEXT, sizeof text, (LPARAM)text);
    fprintf(out, "%s=", key);
    for (int i = 0; i < length; i++)
        fprintf(out, "%02x", (unsigned char)text[i]);
    fprintf(out, "\n");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    DWORD wait = argc > 2 ? (DWORD)atoi(argv[2]) : 10000;
    if (argc > 3)
        caption = argv[3];
    FILE *out = fopen(argv[1], "w");
    if (out == NULL)
        return 2;
    fprintf(out, "started=1\n");
    fflush(out);

    Search search = {};
    DWORD start = GetTickCount();
    for (;;) {
        search = Search();
        EnumWindows(CountDialogs, (LPARAM)&search);
        if (search.first != NULL || GetTickCount() - start >= wait)
            break;
        Sleep(100);
    }

    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    PrintRect(out, "work", work);
    fprintf(out, "count=%d\n", search.count);
    HWND dialog = search.first;
    if (dialog == NULL) {
        fclose(out);
        return 1;
    }

    RECT r;
    GetWindowRect(dialog, &r);
    PrintRect(out, "window", r);
    const int ids[] = {IDOK, IDCANCEL, IDC_SERVER, IDC_USER, IDC_PASSWORD, IDC_INTERVAL,
                       IDC_LAUNCH_PROGRAM, IDC_LAUNCH_PARAMETERS};
    for (int id : ids) {
        char key[32];
        HWND control = GetDlgItem(dialog, id);
        GetWindowRect(control, &r);
        snprintf(key, sizeof key, "rect.%d", id);
        PrintRect(out, key, r);
        if (id == IDOK || id == IDCANCEL)
            continue;
        snprintf(key, sizeof key, "text.%d", id);
        PrintText(out, key, control);
    }
    PrintText(out, "message", GetDlgItem(dialog, 0xFFFF));

    GetClientRect(dialog, &r);
    MapWindowPoints(dialog, NULL, (POINT *)&r, 2);
    PrintRect(out, "client", r);
    int children = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != NULL;
         child = GetWindow(child, GW_HWNDNEXT), children++) {
        char key[32];
        GetWindowRect(child, &r);
        snprintf(key, sizeof key, "child.%d", children);
        fprintf(out, "%s=%lx %ld %ld %ld %ld\n", key, (unsigned long)GetWindowLongA(child, GWL_STYLE),
                r.left, r.top, r.right, r.bottom);
    }
    fprintf(out, "children=%d\n", children);

    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    int focus = 0;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info) && info.hwndFocus != NULL &&
        GetParent(info.hwndFocus) == dialog)
        focus = GetDlgCtrlID(info.hwndFocus);
    fprintf(out, "focus=%d\n", focus);
    fprintf(out, "foreground=%d\n", GetForegroundWindow() == dialog ? 1 : 0);
    DWORD sel = (DWORD)Ask(GetDlgItem(dialog, IDC_SERVER), EM_GETSEL, 0, 0);
    fprintf(out, "sel=%u %u\n", LOWORD(sel), HIWORD(sel));
    fprintf(out, "limit=%ld\n", (long)Ask(GetDlgItem(dialog, IDC_INTERVAL), EM_GETLIMITTEXT, 0, 0));
    fprintf(out, "passchar=%ld\n", (long)Ask(GetDlgItem(dialog, IDC_PASSWORD), EM_GETPASSWORDCHAR, 0, 0));
    fclose(out);
    return 0;
}
