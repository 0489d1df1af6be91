#include "report_window.h"

#include <mutex>

#include "checkrun/check_messages.h"
#include "mailcheck/mailcheck.h"
#include "resources/resource.h"

namespace {

const char className[] = "TolvaranTestReportWindow";

std::string Utf8(const WCHAR *text)
{
    char bytes[1024];
    return WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr) > 0 ? bytes : "?";
}

std::string SummaryText(const MailSummary *summary)
{
    if (summary->outcome == SUMMARY_NONE_NEW)
        return "none new";
    if (summary->outcome != SUMMARY_LISTED)
        return "failed";
    std::string text = "new=" + std::to_string(summary->newCount);
    for (int i = 0; i < summary->listed && i < SUMMARY_MESSAGES; i++)
        text += std::string(i > 0 ? " | " : " ") + Utf8(summary->sender[i]) + " / " + Utf8(summary->subject[i]);
    return text;
}

LRESULT CALLBACK ReportWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHECKRESULT || message == WM_MAILBOXREPORT) {
        ReportLog *log = (ReportLog *)GetWindowLongPtrA(window, GWLP_USERDATA);
        if (log != nullptr) {
            const char *text = (const char *)lParam;
            log->mailbox.clear();
            if (message == WM_MAILBOXREPORT) {
                const MailboxReport *mailbox = (const MailboxReport *)lParam;
                text = mailbox->text;
                log->mailbox = "validity=" + std::to_string(mailbox->uidValidity) +
                               " next=" + std::to_string(mailbox->uidNext) +
                               " idle=" + std::to_string(mailbox->canIdle);
            }
            log->count++;
            log->status = (int)wParam;
            log->textGiven = text != nullptr;
            log->text = text != nullptr ? std::string(text) : std::string();
            log->textAddress = text;
            log->thread = GetCurrentThreadId();
            if (log->duringReport)
                log->duringReport();
        }
        return 0;
    }
    if (message == WM_NOTICEWANTED || message == WM_MAILSUMMARY) {
        ReportLog *log = (ReportLog *)GetWindowLongPtrA(window, GWLP_USERDATA);
        if (log != nullptr && message == WM_NOTICEWANTED)
            *(NoticeRequest *)lParam = log->notice;
        if (log != nullptr && message == WM_MAILSUMMARY)
            log->summary = SummaryText((const MailSummary *)lParam);
        return 0;
    }
    if (message == WM_IDLEWATCH) {
        static const char *const names[] = {"?", "changed", "ended", "login-refused", "refused", "server-left"};
        ReportLog *log = (ReportLog *)GetWindowLongPtrA(window, GWLP_USERDATA);
        if (log != nullptr)
            log->idleEvents += std::string(log->idleEvents.empty() ? "" : " ") + names[wParam < 6 ? wParam : 0];
        return 0;
    }
    if (message == WM_SERVERALERT) {
        ReportLog *log = (ReportLog *)GetWindowLongPtrA(window, GWLP_USERDATA);
        if (log != nullptr)
            log->alerts += std::string((const char *)lParam) + "|";
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

HWND CreateReportWindow(ReportLog *log)
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ReportWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = className;
        RegisterClassA(&windowClass);
    });
    HWND window = CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (window != nullptr)
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)log);
    return window;
}

bool PumpMessagesUntil(const std::function<bool()> &done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}
