// Reads back the notice the shell shows: notice_probe SECONDS waits up to
// SECONDS for a visible balloon tooltip and prints its text as "text=HEX",
// the hex of its UTF-8 bytes, and its box as "box=LEFT,TOP,RIGHT,BOTTOM". The balloon belongs to the shell's process,
// so the tool record and the buffer the tooltip fills are placed in that
// process's memory. (Wine's tooltip has no TTM_GETTITLE: the title cannot
// be read back this way.)
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>

struct Balloon {
    HWND window;
};

// Takes the first visible balloon-style tooltip.
static BOOL CALLBACK FindBalloon(HWND window, LPARAM found)
{
    char name[32];
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, TOOLTIPS_CLASSA) == 0 && IsWindowVisible(window) &&
        (GetWindowLongA(window, GWL_STYLE) & TTS_BALLOON) != 0) {
        ((Balloon *)found)->window = window;
        return FALSE;
    }
    return TRUE;
}

// Prints label=HEX for a UTF-16 text.
static void PrintHex(const char *label, const WCHAR *text)
{
    char utf8[2048];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    printf("%s=", label);
    for (int i = 0; i + 1 < length; i++)
        printf("%02x", (unsigned char)utf8[i]);
    printf("\n");
}

// Reads the first tool's text of a tooltip in another process.
static int ReadBalloon(HWND window, WCHAR *text, int capacity)
{
    DWORD processId;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == NULL)
        return 0;
    SIZE_T textBytes = (SIZE_T)capacity * sizeof(WCHAR);
    char *remote = (char *)VirtualAllocEx(process, NULL, sizeof(TTTOOLINFOW) + textBytes, MEM_COMMIT,
                                          PAGE_READWRITE);
    int read = 0;
    if (remote != NULL) {
        WCHAR *remoteText = (WCHAR *)(remote + sizeof(TTTOOLINFOW));
        TTTOOLINFOW tool;
        ZeroMemory(&tool, sizeof tool);
        tool.cbSize = sizeof tool;
        WriteProcessMemory(process, remote, &tool, sizeof tool, NULL);
        // The tool's window and id first, then its text into the buffer.
        if (SendMessageW(window, TTM_ENUMTOOLSW, 0, (LPARAM)remote) &&
            ReadProcessMemory(process, remote, &tool, sizeof tool, NULL)) {
            tool.lpszText = remoteText;
            WriteProcessMemory(process, remote, &tool, sizeof tool, NULL);
            SendMessageW(window, TTM_GETTEXTW, (WPARAM)capacity, (LPARAM)remote);
            read = ReadProcessMemory(process, remoteText, text, textBytes, NULL);
            text[capacity - 1] = 0;
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return read && text[0] != 0;
}

int main(int argc, char **argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 20;
    DWORD start = GetTickCount();
    do {
        Balloon found = {NULL};
        EnumWindows(FindBalloon, (LPARAM)&found);
        WCHAR text[512];
        ZeroMemory(text, sizeof text);
        if (found.window != NULL && ReadBalloon(found.window, text, 512)) {
            PrintHex("text", text);
            RECT box;
            GetWindowRect(found.window, &box);
            printf("box=%ld,%ld,%ld,%ld\n", box.left, box.top, box.right, box.bottom);
            return 0;
        }
        Sleep(100);
    } while (GetTickCount() - start < (DWORD)seconds * 1000);
    return 1;
}
