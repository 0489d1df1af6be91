// Placeholder until the POP3 check lands: reports a failure at once.
#include "mailcheck/mailcheck.h"

#include "resources/resource.h"

void __cdecl MailCheckThread(void *hwnd)
{
    SendMessageA((HWND)hwnd, WM_CHECKRESULT, CHECK_FAILED, 0);
}
