// The few Windows names the header decoder uses, for its native fuzz build:
// WCHAR and a MultiByteToWideChar that knows code page 932 through iconv
// (windows_stand_in.cpp).
#ifndef TOLVARAN_FUZZ_WINDOWS_H
#define TOLVARAN_FUZZ_WINDOWS_H

typedef unsigned short WCHAR;
typedef unsigned int UINT;
typedef unsigned long DWORD;

#define MB_ERR_INVALID_CHARS 0x00000008

int MultiByteToWideChar(UINT codePage, DWORD flags, const char *bytes, int length, WCHAR *text, int capacity);

#endif
