// Times sequential checks through the program's own path: one worker thread
// per check running MailCheckThread, reporting to a hidden window, until the
// thread has logged out and ended. Prints the median per check in
// microseconds. With "inline" the check core runs on the main thread instead
// (no worker thread; the report is a plain call of the window procedure),
// which shows what the thread itself costs.
//   mailcheck_bench SERVER USER PASSWORD COUNT [inline]
#include <windows.h>
#include <process.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "checkrun/check_limits.h"
#include "checkrun/check_messages.h"
#include "mailcheck/mailcheck.h"
#include "resources/resource.h"

static int reports;
static int lastStatus;

static LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHECKRESULT || message == WM_MAILBOXREPORT) {
        reports++;
        lastStatus = (int)wParam;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int main(int argc, char **argv)
{
    if (argc != 5 && !(argc == 6 && strcmp(argv[5], "inline") == 0)) {
        fprintf(stderr, "usage: mailcheck_bench SERVER USER PASSWORD COUNT [inline]\n");
        return 2;
    }
    CopyTextCut(mailSettings.mailbox[0].serverName, sizeof mailSettings.mailbox[0].serverName, argv[1]);
    CopyTextCut(mailSettings.mailbox[0].userName, sizeof mailSettings.mailbox[0].userName, argv[2]);
    CopyTextCut(mailSettings.mailbox[0].password, sizeof mailSettings.mailbox[0].password, argv[3]);
    int count = atoi(argv[4]);
    bool onMainThread = argc == 6;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = BenchWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "TolvaranBench";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "TolvaranBench", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                  GetModuleHandleA(NULL), NULL);
    if (window == NULL) {
        fprintf(stderr, "no window\n");
        return 1;
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < count; i++) {
        int before = reports;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        if (onMainThread) {
            MailCredentials credentials;
            CopyCredentials(0, &credentials);
            RunMailCheck(window, &credentials, CHECK_TIMEOUT_MS, CHECK_DEADLINE_MS);
        } else {
            uintptr_t thread = _beginthread(MailCheckThread, 0, window);
            // The worker cannot end before this thread takes its report, so
            // the handle is still open here.
            HANDLE ended = NULL;
            DuplicateHandle(GetCurrentProcess(), (HANDLE)thread, GetCurrentProcess(), &ended, SYNCHRONIZE, FALSE,
                            0);
            // Take the report (sent from the worker) and wait for the worker
            // to log out and end.
            for (;;) {
                DWORD woke = MsgWaitForMultipleObjects(1, &ended, FALSE, INFINITE, QS_ALLINPUT);
                MSG message;
                while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
                    DispatchMessageA(&message);
                if (woke == WAIT_OBJECT_0)
                    break;
            }
            CloseHandle(ended);
        }
        QueryPerformanceCounter(&end);
        if (reports != before + 1) {
            fprintf(stderr, "check %d gave %d reports\n", i, reports - before);
            return 1;
        }
        if (lastStatus != CHECK_NEW_MAIL && lastStatus != CHECK_NO_MAIL) {
            fprintf(stderr, "check %d failed with status %d\n", i, lastStatus);
            return 1;
        }
        times.push_back((double)(end.QuadPart - start.QuadPart) * 1e6 / (double)frequency.QuadPart);
    }
    std::sort(times.begin(), times.end());
    printf("%.0f\n", times[times.size() / 2]);
    return 0;
}
