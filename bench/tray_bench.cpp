// Talks to a running Tolvaran from outside, as another program would:
//   tray_bench checks N   sends "新着チェック" N times (each starts a check run)
//   tray_bench ping N     times N SendMessageTimeout(WM_NULL) round trips and
//                         prints "ping COUNT FAILED MEDIAN_MS MAX_MS"
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

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

static int Ping(HWND window, int count)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        LARGE_INTEGER before, after;
        DWORD_PTR result = 0;
        QueryPerformanceCounter(&before);
        LRESULT ok = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
        QueryPerformanceCounter(&after);
        if (!ok)
            ++failed;
        times.push_back(1000.0 * (double)(after.QuadPart - before.QuadPart) /
                        (double)frequency.QuadPart);
        Sleep(10);
    }
    std::sort(times.begin(), times.end());
    printf("ping %d %d %.3f %.3f\n", count, failed, times[times.size() / 2], times.back());
    return failed ? 1 : 0;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: tray_bench checks|ping N\n");
        return 2;
    }
    HWND window = FindTolvaran();
    if (window == NULL) {
        fprintf(stderr, "no Tolvaran window\n");
        return 3;
    }
    int count = atoi(argv[2]);
    if (strcmp(argv[1], "checks") == 0)
        return StartChecks(window, count);
    if (strcmp(argv[1], "ping") == 0 && count > 0)
        return Ping(window, count);
    return 2;
}
