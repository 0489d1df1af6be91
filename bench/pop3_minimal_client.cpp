// The least a blocking POP3 client can do, for comparison with the check
// run: same exchange, one recv per reply, inline on the main thread.
// Prints the median per check in microseconds. With "thread" each check
// runs on a thread of its own, as the program's checks do.
//   pop3_minimal_client SERVER USER PASSWORD COUNT [thread]
#include <winsock.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

static char reply[51200];

static int Exchange(SOCKET s, const char *command)
{
    if (command != NULL)
        send(s, command, (int)strlen(command), 0);
    memset(reply, 0, sizeof reply);
    recv(s, reply, sizeof reply - 1, 0);
    return reply[0] == '+';
}

static int CheckOnce(const char *server, const char *user, const char *password)
{
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0)
        return 0;
    int ok = 0;
    hostent *host = gethostbyname(server);
    SOCKET s = INVALID_SOCKET;
    if (host != NULL) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(110);
        memcpy(&address.sin_addr, host->h_addr_list[0], sizeof address.sin_addr);
        s = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(s, (sockaddr *)&address, sizeof address) == 0) {
            char command[1024];
            Exchange(s, NULL);
            snprintf(command, sizeof command, "USER %s\r\n", user);
            if (Exchange(s, command)) {
                snprintf(command, sizeof command, "PASS %s\r\n", password);
                if (Exchange(s, command) && Exchange(s, "stat\r\n"))
                    ok = atoi(reply + 4) >= 0;
            }
            Exchange(s, "QUIT\r\n");
        }
        closesocket(s);
    }
    WSACleanup();
    return ok;
}

static char **checkArguments;

static DWORD WINAPI CheckThread(void *)
{
    return (DWORD)CheckOnce(checkArguments[1], checkArguments[2], checkArguments[3]);
}

int main(int argc, char **argv)
{
    if (argc != 5 && !(argc == 6 && strcmp(argv[5], "thread") == 0)) {
        fprintf(stderr, "usage: pop3_minimal_client SERVER USER PASSWORD COUNT [thread]\n");
        return 2;
    }
    bool onThread = argc == 6;
    checkArguments = argv;
    int count = atoi(argv[4]);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < count; i++) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        int ok;
        if (onThread) {
            HANDLE thread = CreateThread(NULL, 0, CheckThread, NULL, 0, NULL);
            WaitForSingleObject(thread, INFINITE);
            DWORD code = 0;
            GetExitCodeThread(thread, &code);
            CloseHandle(thread);
            ok = (int)code;
        } else {
            ok = CheckOnce(argv[1], argv[2], argv[3]);
        }
        if (!ok) {
            fprintf(stderr, "check %d failed\n", i);
            return 1;
        }
        QueryPerformanceCounter(&end);
        times.push_back((double)(end.QuadPart - start.QuadPart) * 1e6 / (double)frequency.QuadPart);
    }
    std::sort(times.begin(), times.end());
    printf("%.0f\n", times[times.size() / 2]);
    return 0;
}
