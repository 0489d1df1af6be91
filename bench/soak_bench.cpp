// Runs the check COUNT times in a row the way the program does, one worker
// thread per check reporting to a hidden window, and prints what the
// process holds at the start, after every EVERY checks and at the end.
// Every 10th check goes to the hostile server (silent after the greeting,
// reset, greeting cut short in turn), the others to the instant one; each
// receive gives up after TIMEOUT_MS, so a silent server costs that long,
// and the whole session after three times that.
//   soak_bench INSTANT_ADDR HOSTILE_ADDR COUNT EVERY TIMEOUT_MS
#include <windows.h>
#include <process.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench/process_counts.h"
#include "checkrun/check_limits.h"
#include "checkrun/check_messages.h"
#include "mailcheck/mailcheck.h"
#include "resources/resource.h"

static int reports;
static int statusCounts[4];
static int checkTimeoutMs;

static LRESULT CALLBACK SoakWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHECKRESULT) {
        reports++;
        if (wParam >= CHECK_NO_MAIL && wParam <= CHECK_AUTH_FAILED)
            statusCounts[wParam - CHECK_NO_MAIL]++;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// MailCheckThread with the soak's receive time-out, and the session deadline
// in the program's proportion to it.
static unsigned __stdcall SoakCheckThread(void *window)
{
    MailCredentials credentials;
    CopyCredentials(0, &credentials);
    RunMailCheck((HWND)window, &credentials, checkTimeoutMs,
                 checkTimeoutMs * (CHECK_DEADLINE_MS / CHECK_TIMEOUT_MS));
    SecureZeroMemory(&credentials, sizeof credentials);
    return 0;
}

// Starts one check run and takes its report until its thread has ended.
static int RunOneCheck(HWND window)
{
    HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, SoakCheckThread, window, 0, NULL);
    if (thread == NULL)
        return 0;
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (woke == WAIT_OBJECT_0)
            break;
    }
    CloseHandle(thread);
    return 1;
}

static void PrintRow(int checks)
{
    ProcessCounts counts;
    if (!ReadProcessCounts(GetCurrentProcessId(), &counts)) {
        printf("%6d  (no counts)\n", checks);
        return;
    }
    printf("%6d %8lu %8d %8d %14llu %6lu %6lu\n", checks, counts.handleCount, counts.tableHandles,
           counts.threads, counts.privateBytes, counts.gdiObjects, counts.userObjects);
    fflush(stdout);
}

int main(int argc, char **argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: soak_bench INSTANT_ADDR HOSTILE_ADDR COUNT EVERY TIMEOUT_MS\n");
        return 2;
    }
    const char *instant = argv[1];
    const char *hostile = argv[2];
    int count = atoi(argv[3]);
    int every = atoi(argv[4]);
    checkTimeoutMs = atoi(argv[5]);
    CopyTextCut(mailSettings.mailbox[0].userName, sizeof mailSettings.mailbox[0].userName, "soak");
    CopyTextCut(mailSettings.mailbox[0].password, sizeof mailSettings.mailbox[0].password, "soakpass");

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = SoakWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "TolvaranSoak";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "TolvaranSoak", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                  GetModuleHandleA(NULL), NULL);
    if (window == NULL) {
        fprintf(stderr, "no window\n");
        return 1;
    }

    printf("%6s %8s %8s %8s %14s %6s %6s\n", "checks", "handles", "table", "threads",
           "private bytes", "GDI", "USER");
    PrintRow(0);
    int wrongReports = 0;
    for (int i = 0; i < count; i++) {
        const char *server = i % 10 == 9 ? hostile : instant;
        LockSettings();
        CopyTextCut(mailSettings.mailbox[0].serverName, sizeof mailSettings.mailbox[0].serverName, server);
        UnlockSettings();
        int before = reports;
        if (!RunOneCheck(window)) {
            fprintf(stderr, "check %d: no thread\n", i);
            return 1;
        }
        if (reports != before + 1)
            wrongReports++;
        if ((i + 1) % every == 0 && i + 1 != count)
            PrintRow(i + 1);
    }
    PrintRow(count);
    printf("reports: %d for %d checks (%d checks without exactly one); no mail %d, new mail %d, "
           "failed %d, refused %d\n",
           reports, count, wrongReports, statusCounts[0], statusCounts[1], statusCounts[2],
           statusCounts[3]);
    return wrongReports == 0 ? 0 : 1;
}
