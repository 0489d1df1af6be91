// hold_mutex PROGRAM: takes the mutex "TolvaranClass" as any other program
// could, runs PROGRAM and returns its exit code (99 if it still runs after
// 20 seconds, when it is ended).
#include <windows.h>

#include <string.h>

int main()
{
    const char *line = GetCommandLineA();
    // Skip this program's own name, quoted or not.
    if (*line == '"') {
        line = strchr(line + 1, '"');
        line = line ? line + 1 : "";
    } else {
        while (*line && *line != ' ')
            ++line;
    }
    while (*line == ' ')
        ++line;

    HANDLE mutex = CreateMutexA(NULL, FALSE, "TolvaranClass");
    if (mutex == NULL)
        return 98;
    char command[MAX_PATH * 2];
    lstrcpynA(command, line, sizeof command);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    DWORD code = 97;
    if (CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &code);
        } else {
            TerminateProcess(process.hProcess, 1);
            code = 99;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(mutex);
    return (int)code;
}
