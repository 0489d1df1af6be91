// Talks to a running Tolvaran from outside, as another program would:
//   tray_bench checks N   sends "新着チェック" N times (each starts a check run)
//   tray_bench ping N     times N SendMessageTimeout(WM_NULL) round trips and
//                         prints "ping COUNT FAILED MEDIAN_MS MAX_MS"
//   tray_bench counts     prints "counts HANDLES TABLE_HANDLES THREADS" of the
//                         Tolvaran process (GetProcessHandleCount, the system
//                         handle table, toolhelp)
//   tray_bench load N SPREAD_MS SPAN_MS
//                         sends "新着チェック" N times spread evenly over
//                         SPREAD_MS while another thread times WM_NULL round
//                         trips every 10 ms for SPAN_MS and samples the
//                         program's threads every 100 ms; prints
//                         "load SENT PINGS FAILED MEDIAN_MS MAX_MS PEAK_THREADS"
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "bench/process_counts.h"
#include "checkrun/check_messages.h"
#include "resources/resource.h"

static HWND FindTolvaran()
{
    return FindWindowA("TolvaranClass", "Tolvaran");
}

static int StartChecks(HWND window, int count)
{
    for (int i = 0; i < count; ++i)
        SendMessageA(window, WM_COMMAND, IDM_CHECK_NOW, 0);
    printf("checks %d\n", count);
    return 0;
}

// Milliseconds of one SendMessageTimeout(WM_NULL) round trip; *answered
// says whether the window answered within its 5 s.
static double TimePing(HWND window, const LARGE_INTEGER &frequency, int *answered)
{
    LARGE_INTEGER before, after;
    DWORD_PTR result = 0;
    QueryPerformanceCounter(&before);
    *answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
    QueryPerformanceCounter(&after);
    return 1000.0 * (double)(after.QuadPart - before.QuadPart) / (double)frequency.QuadPart;
}

// Handles and threads of the process that owns window.
static int PrintCounts(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    ProcessCounts counts;
    if (!ReadProcessCounts(processId, &counts))
        return 1;
    printf("counts %lu %d %d\n", counts.handleCount, counts.tableHandles, counts.threads);
    return 0;
}

struct LoadPings {
    HWND window;
    DWORD spanMs;
    std::vector<double> times;
    int failed;
    int peakThreads;
};

// Times WM_NULL round trips every 10 ms until the span has passed.
static DWORD WINAPI PingThroughout(void *param)
{
    LoadPings *pings = (LoadPings *)param;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    DWORD processId = 0;
    GetWindowThreadProcessId(pings->window, &processId);
    DWORD start = GetTickCount();
    for (int round = 0; GetTickCount() - start < pings->spanMs; ++round) {
        if (round % 10 == 0)
            pings->peakThreads = std::max(pings->peakThreads, CountThreads(processId));
        int answered;
        double ms = TimePing(pings->window, frequency, &answered);
        if (!answered)
            ++pings->failed;
        else
            pings->times.push_back(ms);
        Sleep(10);
    }
    return 0;
}

// N check commands spread over spreadMs, with WM_NULL timed throughout spanMs.
static int Load(HWND window, int count, DWORD spreadMs, DWORD spanMs)
{
    LoadPings pings = {window, spanMs, {}, 0, 0};
    HANDLE pinger = CreateThread(NULL, 0, PingThroughout, &pings, 0, NULL);
    if (pinger == NULL)
        return 1;
    DWORD start = GetTickCount();
    for (int i = 0; i < count; ++i) {
        DWORD due = (DWORD)((unsigned long long)spreadMs * (unsigned)i / (unsigned)count);
        DWORD now = GetTickCount() - start;
        if (due > now)
            Sleep(due - now);
        SendMessageA(window, WM_COMMAND, IDM_CHECK_NOW, 0);
    }
    WaitForSingleObject(pinger, INFINITE);
    CloseHandle(pinger);
    std::sort(pings.times.begin(), pings.times.end());
    if (pings.times.empty())
        return 1;
    printf("load %d %d %d %.3f %.3f %d\n", count, (int)pings.times.size() + pings.failed,
           pings.failed, pings.times[pings.times.size() / 2], pings.times.back(), pings.peakThreads);
    return pings.failed ? 1 : 0;
}

static int Ping(HWND window, int count)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        int answered;
        times.push_back(TimePing(window, frequency, &answered));
        if (!answered)
            ++failed;
        Sleep(10);
    }
    std::sort(times.begin(), times.end());
    printf("ping %d %d %.3f %.3f\n", count, failed, times[times.size() / 2], times.back());
    return failed ? 1 : 0;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: tray_bench checks N | ping N | counts | load N SPREAD_MS SPAN_MS\n");
        return 2;
    }
    HWND window = FindTolvaran();
    if (window == NULL) {
        fprintf(stderr, "no Tolvaran window\n");
        return 3;
    }
    if (strcmp(argv[1], "counts") == 0)
        return PrintCounts(window);
    if (argc == 5 && strcmp(argv[1], "load") == 0)
        return Load(window, atoi(argv[2]), (DWORD)atoi(argv[3]), (DWORD)atoi(argv[4]));
    if (argc != 3)
        return 2;
    int count = atoi(argv[2]);
    if (strcmp(argv[1], "checks") == 0)
        return StartChecks(window, count);
    if (strcmp(argv[1], "ping") == 0 && count > 0)
        return Ping(window, count);
    return 2;
}
