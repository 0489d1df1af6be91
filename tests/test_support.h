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
// Runs a program to its end and returns its exit code (-1 if it cannot start).
int RunProgram(const std::string &commandLine, DWORD timeoutMs);

#endif
