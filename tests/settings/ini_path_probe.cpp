// Writes the INI path that the store builds for this program's own location
// into the file named by its one argument, or "(null)" when there is none.
#include <windows.h>

#include <string.h>

#include "settings/settings.h"

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    char *path = MakeIniPath(GetModuleHandleA(NULL));
    const char *text = path != NULL ? path : "(null)";
    HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(file);
    return 0;
}
