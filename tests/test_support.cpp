// Helpers shared by the test programs.
#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "settings/settings.h"

int Patience(int ms)
{
    static const double factor = [] {
        char text[32] = "";
        GetEnvironmentVariableA("TOLVARAN_WAIT_FACTOR", text, sizeof text);
        double value = atof(text);
        return value > 0 ? value : 1.0;
    }();
    return (int)(ms * factor);
}

std::string MakeScratchDirectory(const char *tag)
{
    static LONG counter;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%stolvaran-%s-%lu-%ld", temp, tag, GetCurrentProcessId(),
             InterlockedIncrement(&counter));
    CreateDirectoryA(path, NULL);
    return path;
}

std::string ReadFileBytes(const std::string &path)
{
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, NULL) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(file);
}

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Cp932ToUtf8(const std::string &bytes)
{
    int wide = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), (int)bytes.size(), NULL, 0);
    if (wide <= 0)
        return "<invalid cp932>";
    std::wstring w(wide, L'\0');
    MultiByteToWideChar(932, 0, bytes.data(), (int)bytes.size(), &w[0], wide);
    int narrow = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, NULL, 0, NULL, NULL);
    std::string out(narrow, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &out[0], narrow, NULL, NULL);
    return out;
}

int RunProgram(const std::string &commandLine, DWORD timeoutMs)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}

void FillSettings(const char *server, const char *user, const char *password, const char *program,
                  const char *parameters, int intervalMs)
{
    strcpy(mailSettings.mailbox[0].serverName, server);
    strcpy(mailSettings.mailbox[0].userName, user);
    strcpy(mailSettings.mailbox[0].password, password);
    strcpy(mailSettings.mailbox[0].launchProgram, program);
    strcpy(mailSettings.mailbox[0].launchParameters, parameters);
    mailSettings.mailbox[0].intervalMs = intervalMs;
}

// Whether the file opens for writing just now.
static bool OpensForWriting(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool SetImmutable(const std::string &path, bool immutable)
{
    typedef char *(CDECL * UnixNameProc)(const WCHAR *);
    UnixNameProc unixName =
        (UnixNameProc)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (unixName == NULL)
        return false;
    WCHAR wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0)
        return false;
    char *unixPath = unixName(wide);
    if (unixPath == NULL)
        return false;
    std::string line = std::string("/usr/bin/chattr ") + (immutable ? "+i" : "-i") + " \"" +
                       unixPath + "\"";
    HeapFree(GetProcessHeap(), 0, unixPath);

    // Wine starts a Linux program but gives no handle to wait on, so the
    // change is awaited where it shows: whether the file opens for writing.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    if (process.hThread != NULL)
        CloseHandle(process.hThread);
    if (process.hProcess != NULL)
        CloseHandle(process.hProcess);
    DWORD start = GetTickCount();
    while (OpensForWriting(path) == immutable) {
        if (GetTickCount() - start > 10000)
            return false;
        Sleep(10);
    }
    return true;
}

// How deep below the caller ClearStackBelow reaches, and how much of that
// LeavesOnStack searches: far deeper than any call the tests make goes.
#define CLEARED_STACK 262144
#define SEARCHED_STACK 245760

// Commits and zeroes the stack below the caller, so nothing earlier calls
// left there counts.
static void ClearStackBelow()
{
    volatile char pages[CLEARED_STACK];
    SecureZeroMemory((void *)pages, sizeof pages);
}

// Calls fn a page below the caller, so the caller's own later calls do not
// write over what fn left.
static void CallBelow(void (*fn)())
{
    volatile char pad[4096];
    pad[0] = 0;
    fn();
    pad[1] = pad[0];
}

bool LeavesOnStack(void (*fn)(), const std::string &bytes)
{
    volatile char top = 0;
    ClearStackBelow();
    // As a number: the span lies outside every object the compiler knows.
    const char *high = (const char *)(uintptr_t)&top;
    const char *low = (const char *)((uintptr_t)&top - SEARCHED_STACK);
    CallBelow(fn);
    return std::search(low, high, bytes.begin(), bytes.end()) != high;
}

std::string IconPixels(HICON icon, int *width)
{
    *width = 0;
    ICONINFO info = {};
    if (icon == NULL || !GetIconInfo(icon, &info))
        return std::string();
    std::string pixels;
    BITMAP bitmap = {};
    if (info.hbmColor != NULL && GetObjectA(info.hbmColor, sizeof bitmap, &bitmap)) {
        BITMAPINFO format = {};
        format.bmiHeader.biSize = sizeof format.bmiHeader;
        format.bmiHeader.biWidth = bitmap.bmWidth;
        format.bmiHeader.biHeight = -bitmap.bmHeight;  // top-down
        format.bmiHeader.biPlanes = 1;
        format.bmiHeader.biBitCount = 32;
        format.bmiHeader.biCompression = BI_RGB;
        pixels.resize((size_t)bitmap.bmWidth * bitmap.bmHeight * 4);
        HDC screen = GetDC(NULL);
        if (GetDIBits(screen, info.hbmColor, 0, bitmap.bmHeight, &pixels[0], &format,
                      DIB_RGB_COLORS) == bitmap.bmHeight)
            *width = bitmap.bmWidth;
        else
            pixels.clear();
        ReleaseDC(NULL, screen);
    }
    DeleteObject(info.hbmMask);
    if (info.hbmColor != NULL)
        DeleteObject(info.hbmColor);
    return pixels;
}
