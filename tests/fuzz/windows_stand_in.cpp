// MultiByteToWideChar for the native fuzz build: code page 932 only,
// through glibc's iconv, failing as Windows does with MB_ERR_INVALID_CHARS
// when a character has no Unicode form.
#include <windows.h>

#include <iconv.h>
#include <stdlib.h>

// Converts length bytes of code page 932 (length given, never -1 here);
// returns the WCHARs written, 0 on any failure.
int MultiByteToWideChar(UINT codePage, DWORD, const char *bytes, int length, WCHAR *text, int capacity)
{
    static iconv_t cp932 = (iconv_t)-1;
    if (codePage != 932 || length <= 0 || capacity <= 0)
        return 0;
    if (cp932 == (iconv_t)-1) {
        cp932 = iconv_open("UTF-16LE", "CP932");
        if (cp932 == (iconv_t)-1)
            abort();
    }
    iconv(cp932, NULL, NULL, NULL, NULL);
    char *in = (char *)bytes;
    size_t inLeft = (size_t)length;
    char *outBytes = (char *)text;
    size_t outLeft = (size_t)capacity * sizeof(WCHAR);
    if (iconv(cp932, &in, &inLeft, &outBytes, &outLeft) == (size_t)-1 || inLeft != 0)
        return 0;
    return (int)(((size_t)capacity * sizeof(WCHAR) - outLeft) / sizeof(WCHAR));
}
