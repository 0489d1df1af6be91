// Stand-in for the user's mail program: launch_marker MARKER [ARGS...]
// writes the rest of its command line into the file MARKER.
#include <windows.h>

#include <string.h>

// Skips one argument of a command line, quoted or not, and the blanks after it.
static const char *SkipArgument(const char *p)
{
    if (*p == '"') {
        p = strchr(p + 1, '"');
        p = p ? p + 1 : "";
    } else {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

int main()
{
    const char *line = SkipArgument(GetCommandLineA());
    const char *rest = SkipArgument(line);
    char marker[MAX_PATH] = "";
    size_t length = (size_t)(rest - line);
    if (length >= sizeof marker)
        return 2;
    memcpy(marker, line, length);
    while (length > 0 && (marker[length - 1] == ' ' || marker[length - 1] == '"'))
        marker[--length] = 0;
    const char *path = marker[0] == '"' ? marker + 1 : marker;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, rest, (DWORD)strlen(rest), &written, NULL);
    CloseHandle(file);
    return 0;
}
