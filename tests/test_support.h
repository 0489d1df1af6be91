// Small helpers the test programs share: scratch files and raw file bytes.
#ifndef TOLVARAN_TEST_SUPPORT_H
#define TOLVARAN_TEST_SUPPORT_H

#include <windows.h>

#include <string>

// A new empty directory under the temporary folder, unique to this call.
std::string MakeScratchDirectory(const char *tag);
// Whole file as bytes; empty when it does not exist.
std::string ReadFileBytes(const std::string &path);
// Replaces the file with exactly these bytes.
void WriteFileBytes(const std::string &path, const std::string &bytes);
bool FileExists(const std::string &path);
// UTF-8 text of code page 932 bytes, for comparing with the intended text.
std::string Cp932ToUtf8(const std::string &bytes);
// Sets every field of mailSettings at once.
void FillSettings(const char *server, const char *user, const char *password, const char *program,
                  const char *parameters, int intervalMs);
// Sets or clears the Linux immutable flag of a file (chattr), the one way
// to make a write fail when the tests run as root; returns once the file's
// writability shows the change, false if it never does.
bool SetImmutable(const std::string &path, bool immutable);
// Keeps a file immutable while it lives (when asked to), so that the flag
// goes again however the test ends.
struct ImmutableFile {
    ImmutableFile(const std::string &file, bool immutable)
        : path(file), wanted(immutable), set(immutable && SetImmutable(file, true))
    {
    }
    ~ImmutableFile()
    {
        if (wanted)
            SetImmutable(path, false);
    }
    std::string path;
    bool wanted;
    bool set;
};
// Runs fn, then says whether bytes are left anywhere in the stack it used:
// the frames of fn and of everything it called.
bool LeavesOnStack(void (*fn)(), const std::string &bytes);
// A wait the tests choose, in milliseconds on a native machine, times the
// one factor TOLVARAN_WAIT_FACTOR gives (as for the end-to-end harness): 1
// natively, more on an emulated machine, where everything takes several
// times as long. Time-outs that the tests hand to the check run and the
// pauses that go with them grow together, so each row still tells the same
// story.
int Patience(int ms);
// Runs a program to its end and returns its exit code (-1 if it cannot start).
int RunProgram(const std::string &commandLine, DWORD timeoutMs);
// The colour pixels of an icon as 32-bit BGRA rows, top row first, and its
// width; empty (width 0) when it has none to read.
std::string IconPixels(HICON icon, int *width);

#endif
