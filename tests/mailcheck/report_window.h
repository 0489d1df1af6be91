// Hidden windows that stand in for the main window: they record every
// report a check run sends them, WM_CHECKRESULT or WM_MAILBOXREPORT.
#ifndef TOLVARAN_TEST_REPORT_WINDOW_H
#define TOLVARAN_TEST_REPORT_WINDOW_H

#include <windows.h>

#include <functional>
#include <string>

#include "notice/mail_summary.h"

struct ReportLog {
    int count = 0;          // reports received
    int status = 0;         // wParam of the last one
    bool textGiven = false; // lParam was not 0
    std::string text;       // its bytes, copied while the send was under way
    const char *textAddress = nullptr;  // where they were: the check's own text
    // WM_MAILBOXREPORT's record as "validity=V next=N idle=I"; empty after
    // a WM_CHECKRESULT.
    std::string mailbox;
    DWORD thread = 0;       // thread the window procedure ran on
    std::string idleEvents; // WM_IDLEWATCH events, as "changed ended ..."
    // The answer to WM_NOTICEWANTED, and the WM_MAILSUMMARY that followed
    // as "new=N sender / subject | ...", "none new" or "failed".
    NoticeRequest notice = {};
    std::string summary;
    std::string alerts;     // WM_SERVERALERT texts, each followed by "|"
    // Runs inside the window procedure, while the check run waits in its send.
    std::function<void()> duringReport;
};

// A message-only window on the calling thread that logs into log.
HWND CreateReportWindow(ReportLog *log);

// Dispatches this thread's messages until done() or the time runs out;
// returns done().
bool PumpMessagesUntil(const std::function<bool()> &done, DWORD timeoutMs);

#endif
