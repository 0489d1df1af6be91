// The tray controller with its real hidden window, real tray entry and real
// timer. A watcher wrapped around the window procedure records what the
// window receives; the schedule is observed through the WM_TIMER messages
// that actually arrive. Check runs started by the window are real too: they
// go to an address where nothing listens and report a failure.
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <functional>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/app.h"
#include "checkrun/check_texts.h"
#include "imap/imap_idle.h"
#include "mailcheck/import_hook.h"
#include "notice/mail_summary.h"
#include "checkrun/check_messages.h"
#include "mailcheck/mailcheck.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "test_support.h"

namespace {

// Nothing listens on port 110 here, so a real check run fails at connect.
const char deadServer[] = "127.0.0.149";

// cp932 report texts; each decodes to the text in its comment (checked below).
const char newMailText[] =
    " 3 \x8c\x8f\x82\xcc\x90\x56\x92\x85\x83\x81\x81\x5b\x83\x8b\x82\xaa\x82\xa0\x82\xe8\x82\xdc"
    "\x82\xb7 ";  // " 3 件の新着メールがあります "
const char noMailText[] =
    " \x90\x56\x92\x85\x83\x81\x81\x5b\x83\x8b\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1 ";
// " 新着メールはありません "
const char connectFailedText[] =
    " \x83\x54\x81\x5b\x83\x6f\x82\xc9\x90\xda\x91\xb1\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1 ";
// " サーバに接続できません "
const char wrongUserText[] =
    " \x83\x86\x81\x5b\x83\x55\x96\xbc\x82\xaa\x88\xe1\x82\xa2\x82\xdc\x82\xb7 ";
// " ユーザ名が違います "
const char kanjiHyou[] = "\x95\x5c";  // 表: its second byte is 0x5C

TEST(TrayTestData, Cp932TextsDecodeToTheirText)
{
    EXPECT_EQ(Cp932ToUtf8(newMailText),
              u8" 3 \u4ef6\u306e\u65b0\u7740\u30e1\u30fc\u30eb\u304c\u3042\u308a\u307e\u3059 ");
    EXPECT_EQ(Cp932ToUtf8(noMailText),
              u8" \u65b0\u7740\u30e1\u30fc\u30eb\u306f\u3042\u308a\u307e\u305b\u3093 ");
    EXPECT_EQ(Cp932ToUtf8(connectFailedText),
              u8" \u30b5\u30fc\u30d0\u306b\u63a5\u7d9a\u3067\u304d\u307e\u305b\u3093 ");
    EXPECT_EQ(Cp932ToUtf8(wrongUserText), u8" \u30e6\u30fc\u30b6\u540d\u304c\u9055\u3044\u307e\u3059 ");
    EXPECT_EQ(Cp932ToUtf8(kanjiHyou), u8"\u8868");
}

// ---- The watcher around the real window procedure ----

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD tick;
    bool fromOtherThread;
};

std::vector<Seen> seen;
HWND window;
bool quitSeen;
WPARAM quitCode;
// Filled when the menu opens: the pop-up the user sees.
std::vector<UINT> menuIds;  // 0 for a separator or a sub-menu
std::vector<UINT> menuStates;
std::vector<int> menuSubItems;  // the entries of each sub-menu
// Whether the shell still had the entry when WM_DESTROY arrived.
int entryAtDestroy = -1;

// A modal dialog of the window as it stood idle: owner, caption and the
// message text (a message box's static 0xFFFF), and how many messages the
// watcher had seen by then.
struct IdleDialog {
    HWND dialog;
    HWND owner;
    std::string caption, text;
    size_t seenBefore;
};
std::vector<IdleDialog> idleDialogs;
// The button each idle dialog gets, as a user would press it.
WPARAM idleButton = IDCANCEL;

void RecordIdleDialog(HWND dialog)
{
    for (const IdleDialog &known : idleDialogs)
        if (known.dialog == dialog)
            return;
    char caption[64], text[1024];
    GetWindowTextA(dialog, caption, sizeof caption);
    GetDlgItemTextA(dialog, 0xFFFF, text, sizeof text);
    idleDialogs.push_back({dialog, GetWindow(dialog, GW_OWNER), caption, text, seen.size()});
}

BOOL CALLBACK CloseShownDialogProc(HWND window, LPARAM)
{
    char className[16];
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") == 0 && IsWindowVisible(window)) {
        size_t before = idleDialogs.size();
        RecordIdleDialog(window);
        if (idleDialogs.size() > before)
            PostMessageA(window, WM_COMMAND, idleButton, 0);
    }
    return TRUE;
}

// Wine's message box sends its owner no idle message; a thread timer, which
// the box's modal loop dispatches, finds it instead.
void CALLBACK CloseShownDialogsTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), CloseShownDialogProc, 0);
}

// Asks the shell whether it still has the entry, changing nothing.
bool TrayEntryExists()
{
    NOTIFYICONDATAA probe = trayData;
    probe.uFlags = 0;
    return Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
}

void RecordMenu(HMENU popup)
{
    menuIds.clear();
    menuStates.clear();
    menuSubItems.clear();
    int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_SUBMENU;
        GetMenuItemInfoW(popup, i, TRUE, &item);
        bool separator = item.fType & MFT_SEPARATOR;
        menuIds.push_back(separator || item.hSubMenu ? 0 : item.wID);
        menuStates.push_back(separator ? 0 : item.fState);
        menuSubItems.push_back(item.hSubMenu ? GetMenuItemCount(item.hSubMenu) : 0);
    }
}

LRESULT CALLBACK Watcher(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CHECKRESULT:
        // The status, without the run number in the high word.
        seen.push_back({message, LOWORD(wParam), lParam, GetTickCount(), InSendMessage() != FALSE});
        break;
    case WM_TIMER:
    case WM_STARTCHECK:
    case WM_NULL:
    case WM_COMMAND:
        seen.push_back({message, wParam, lParam, GetTickCount(), InSendMessage() != FALSE});
        break;
    case WM_INITMENUPOPUP:
        seen.push_back({message, wParam, lParam, GetTickCount(), false});
        RecordMenu((HMENU)wParam);
        // Closes the menu as soon as its loop runs.
        PostMessageA(hwnd, WM_CANCELMODE, 0, 0);
        break;
    case WM_ENTERIDLE:
        // A modal dialog of this window is idle: close it as a user would.
        if (wParam == MSGF_DIALOGBOX) {
            RecordIdleDialog((HWND)lParam);
            PostMessageA((HWND)lParam, WM_COMMAND, idleButton, 0);
        }
        break;
    case WM_DESTROY:
        entryAtDestroy = TrayEntryExists() ? 1 : 0;
        break;
    }
    return MainWindowProc(hwnd, message, wParam, lParam);
}

// Dispatches messages until done() holds or timeoutMs has passed.
template <class Done>
bool PumpUntil(Done done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quitSeen = true;
                quitCode = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

int CountSeen(UINT message)
{
    int count = 0;
    for (const Seen &s : seen)
        count += s.message == message;
    return count;
}

// Index of the first message after index `from`, or -1.
int FindSeen(UINT message, size_t from = 0)
{
    for (size_t i = from; i < seen.size(); ++i)
        if (seen[i].message == message)
            return (int)i;
    return -1;
}

// Waits for the next message of this kind after index `from`.
int WaitSeen(UINT message, size_t from, DWORD timeoutMs)
{
    PumpUntil([&] { return FindSeen(message, from) >= 0; }, timeoutMs);
    return FindSeen(message, from);
}

// Whether the tray shows icon resource id, loaded at the small-icon size.
bool ShowsIcon(int id)
{
    int shown = 0, fresh = 0;
    HICON icon = LoadIconAtSize(hInstance, id, GetSystemMetrics(SM_CXSMICON));
    bool same = IconPixels(trayData.hIcon, &shown) == IconPixels(icon, &fresh) &&
                shown == GetSystemMetrics(SM_CXSMICON) && fresh == shown;
    DestroyIcon(icon);
    return same;
}

// The tray record's calls, watched through the import table: every one
// keeps its first layout, and none is a notice.
BOOL(WINAPI *realNotifyIcon)(DWORD, NOTIFYICONDATAA *);

BOOL WINAPI WatchNotifyIcon(DWORD command, NOTIFYICONDATAA *data)
{
    EXPECT_EQ(data->cbSize, (DWORD)TRAY_RECORD_V1_SIZE);
    EXPECT_EQ(data->uFlags & NIF_INFO, 0u);
    return realNotifyIcon(command, data);
}

// The notices go as UTF-16, and so does the tooltip of several mailboxes;
// the icon's own record never does.
std::vector<NOTIFYICONDATAW> wideNotices, wideTips;
BOOL(WINAPI *realNotifyIconW)(DWORD, NOTIFYICONDATAW *);

BOOL WINAPI WatchNotifyIconW(DWORD command, NOTIFYICONDATAW *data)
{
    EXPECT_TRUE(command == NIM_MODIFY && (data->uFlags == NIF_INFO || data->uFlags == (NIF_ICON | NIF_TIP)));
    (data->uFlags == NIF_INFO ? wideNotices : wideTips).push_back(*data);
    return realNotifyIconW(command, data);
}

std::string Utf8(const WCHAR *text)
{
    char bytes[1024];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
    return length > 0 ? std::string(bytes) : "<invalid UTF-16>";
}

std::wstring Wide(const std::string &utf8)
{
    WCHAR text[512];
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, text, 512);
    return length > 0 ? std::wstring(text) : L"";
}

// The new-mail text for count, as a check run formats it.
std::string MailText(int count)
{
    char text[TOOLTIP_BUFFER_SIZE];
    FormatNewMailText(text, sizeof text, count);
    return text;
}

void Report(WPARAM status, const char *text)
{
    SendMessageA(window, WM_CHECKRESULT, status, (LPARAM)text);
}

// An IMAP check's success report, with its INBOX's UIDVALIDITY and UIDNEXT.
void ReportMailbox(WPARAM status, const char *text, std::pair<DWORD, DWORD> uids)
{
    MailboxReport mailbox = {text, uids.first, uids.second, 0};
    SendMessageA(window, WM_MAILBOXREPORT, status, (LPARAM)&mailbox);
}

// Stands in for the IDLE watch's thread: counts the watches started and
// those stopped, and keeps the number of the last one.
std::atomic<int> watchStarts, watchStops;
std::atomic<LPARAM> lastWatch;

unsigned __stdcall StubWatch(void *argument)
{
    IdleWatchStart start = *(IdleWatchStart *)argument;
    HeapFree(GetProcessHeap(), 0, argument);
    lastWatch = start.number;
    watchStarts++;
    if (WaitForSingleObject(start.stop, 10000) == WAIT_OBJECT_0)
        watchStops++;
    CloseHandle(start.stop);
    return 0;
}

// Stands in for a check's thread: waits while checkGate is reset, then
// reports a failure with its number, waits while closeGate is reset (its
// log-out and close), and tells that it has ended. Counts the checks
// started and the most that ran at once.
std::atomic<int> checkStarts, checksRunning, mostChecksRunning, lastCheck;
HANDLE checkGate, closeGate;

void __cdecl StubCheck(void *argument)
{
    CheckStart start = *(CheckStart *)argument;
    HeapFree(GetProcessHeap(), 0, argument);
    lastCheck = start.number;
    checkStarts++;
    int running = ++checksRunning, most = mostChecksRunning;
    while (running > most && !mostChecksRunning.compare_exchange_weak(most, running)) {
    }
    WaitForSingleObject(checkGate, 10000);
    SendMessageA(start.window, WM_CHECKRESULT, MAKEWPARAM(CHECK_FAILED, start.number), (LPARAM)connectFailedText);
    WaitForSingleObject(closeGate, 10000);
    checksRunning--;
    SendMessageA(start.window, WM_CHECKENDED, (WPARAM)start.number, 0);
}

// The waits the window arms before a watch's start.
std::vector<UINT> watchWaits;
UINT_PTR(WINAPI *realSetTimer)(HWND, UINT_PTR, UINT, TIMERPROC);

UINT_PTR WINAPI WatchSetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc)
{
    if (id == ID_IDLE_START_TIMER)
        watchWaits.push_back(ms);
    return realSetTimer(hwnd, id, ms, proc);
}

class Tray : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        hInstance = GetModuleHandleA(NULL);
        ASSERT_NE(RegisterMainClass(hInstance), 0);
        ASSERT_TRUE(HookImport("shell32.dll", "Shell_NotifyIconA", (void *)WatchNotifyIcon,
                               (void **)&realNotifyIcon));
        ASSERT_TRUE(HookImport("shell32.dll", "Shell_NotifyIconW", (void *)WatchNotifyIconW,
                               (void **)&realNotifyIconW));
        ASSERT_TRUE(HookImport("user32.dll", "SetTimer", (void *)WatchSetTimer, (void **)&realSetTimer));
    }

    void SetUp() override
    {
        seen.clear();
        quitSeen = false;
        entryAtDestroy = -1;
        idleDialogs.clear();
        idleButton = IDCANCEL;
        ZeroMemory(&mailSettings, sizeof mailSettings);
        strcpy(mailSettings.mailbox[0].serverName, deadServer);
        strcpy(mailSettings.mailbox[0].userName, "tray");
        mailSettings.mailbox[0].intervalMs = 60000;
        ZeroMemory(&trayData, sizeof trayData);
        ASSERT_EQ(CreateMainWindow(hInstance, SW_HIDE), 1);
        window = trayData.hWnd;
        ASSERT_TRUE(IsWindow(window));
        SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)Watcher);
    }

    void TearDown() override
    {
        if (IsWindow(window))
            SendMessageA(window, WM_CLOSE, 0, 0);
        PumpUntil([] { return quitSeen; }, 2000);
    }

    // Lets the first timed check run and fail: the schedule is then Halted.
    void WaitForFirstFailure()
    {
        int report = WaitSeen(WM_CHECKRESULT, 0, 10000);
        ASSERT_GE(report, 0) << "the first timed check never reported";
        ASSERT_EQ(seen[report].wParam, (WPARAM)CHECK_FAILED);
        seen.clear();
    }
};

TEST_F(Tray, StartsWithClockIconThenChecksAtOnceAndHaltsAfterTimedFailure)
{
    // Right after creation, before the loop runs.
    EXPECT_EQ(trayData.cbSize, sizeof(void *) == 8 ? 104u : 88u);
    EXPECT_EQ(trayData.hWnd, window);
    EXPECT_EQ(trayData.uID, (UINT)TRAY_ICON_UID);
    EXPECT_EQ(trayData.uFlags, (UINT)(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(trayData.uCallbackMessage, (UINT)WM_TRAYNOTIFY);
    EXPECT_TRUE(ShowsIcon(IDI_APP));
    EXPECT_EQ(std::string(trayData.szTip), "Tolvaran");
    EXPECT_TRUE(TrayEntryExists());
    EXPECT_FALSE(IsWindowVisible(window));
    // The class icons at the large and small sizes of the system's DPI.
    int large = 0, small = 0;
    IconPixels((HICON)GetClassLongPtrA(window, GCLP_HICON), &large);
    IconPixels((HICON)GetClassLongPtrA(window, GCLP_HICONSM), &small);
    EXPECT_EQ(large, GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(small, GetSystemMetrics(SM_CXSMICON));

    // The 0 ms timer fires once the loop runs and starts a real check run,
    // whose report comes from the worker thread.
    mailSettings.mailbox[0].intervalMs = 100;
    int timer = WaitSeen(WM_TIMER, 0, 5000);
    ASSERT_GE(timer, 0);
    EXPECT_EQ(seen[timer].wParam, (WPARAM)ID_CHECK_TIMER);
    int start = FindSeen(WM_STARTCHECK, timer);
    EXPECT_EQ(start, timer + 1) << "WM_TIMER sends WM_STARTCHECK at once";
    int report = WaitSeen(WM_CHECKRESULT, timer, 10000);
    ASSERT_GE(report, 0);
    EXPECT_TRUE(seen[report].fromOtherThread);
    EXPECT_EQ(seen[report].wParam, (WPARAM)CHECK_FAILED);
    EXPECT_TRUE(ShowsIcon(IDI_CHECK_ERROR));

    // A failed timed check stops automatic checks, short as the interval is.
    PumpFor(1000);
    EXPECT_EQ(CountSeen(WM_TIMER), 1);
    EXPECT_EQ(CountSeen(WM_STARTCHECK), 1);

    // "新着チェック" starts one at once.
    size_t before = seen.size();
    SendMessageA(window, WM_COMMAND, IDM_CHECK_NOW, 0);
    EXPECT_GE(FindSeen(WM_STARTCHECK, before), 0);
    EXPECT_GE(WaitSeen(WM_CHECKRESULT, before, 10000), 0);
    PumpFor(500);
    EXPECT_EQ(CountSeen(WM_TIMER), 1);
}

TEST_F(Tray, EachReportSetsIconTooltipAndSchedule)
{
    WaitForFirstFailure();
    struct Case {
        WPARAM status;
        const char *text;
        int icon;  // 0: the icon stays as it was
        bool rearms;
    } cases[] = {
        {CHECK_NO_MAIL, noMailText, IDI_NO_MAIL, true},
        {CHECK_NEW_MAIL, newMailText, IDI_NEW_MAIL, true},
        {CHECK_FAILED, connectFailedText, IDI_CHECK_ERROR, false},
        {CHECK_AUTH_FAILED, wrongUserText, IDI_AUTH_ERROR, false},
        // A refusal that passes, and a server's own reason: the schedule goes on.
        {CHECK_FAILED, textServerBusy, IDI_CHECK_ERROR, true},
        {CHECK_FAILED, textServerDeclined, IDI_CHECK_ERROR, true},
        {CHECK_FAILED, textCommandFailed, IDI_CHECK_ERROR, false},
        {99, "unknown", 0, false},
        {104, "also unknown", 0, false},
    };
    const int interval = 300;
    for (const Case &c : cases) {
        SCOPED_TRACE("status " + std::to_string(c.status));
        // Start from the Halted state with a known icon.
        SetTrayIcon(IDI_APP);
        mailSettings.mailbox[0].intervalMs = interval;
        seen.clear();
        DWORD sent = GetTickCount();
        Report(c.status, c.text);
        EXPECT_TRUE(ShowsIcon(c.icon ? c.icon : IDI_APP));
        EXPECT_EQ(std::string(trayData.szTip), c.text);
        EXPECT_TRUE(TrayEntryExists());

        int timer = WaitSeen(WM_TIMER, 0, c.rearms ? 5000 : 1000);
        if (c.rearms) {
            ASSERT_GE(timer, 0) << "success re-arms the timer";
            EXPECT_GE(seen[timer].tick - sent, (DWORD)interval - 20);
            EXPECT_EQ(seen[timer].wParam, (WPARAM)ID_CHECK_TIMER);
            // The timed check that follows fails and halts the schedule.
            ASSERT_GE(WaitSeen(WM_CHECKRESULT, timer, 10000), 0);
            PumpFor(2 * interval);
            EXPECT_EQ(CountSeen(WM_TIMER), 1) << "the timer is one-shot";
        } else {
            EXPECT_EQ(timer, -1) << "a failure or unknown status leaves the timer off";
        }
    }
}

TEST_F(Tray, ArmingUsesTheIntervalOfTheMomentAndReplacesTheCountdown)
{
    WaitForFirstFailure();
    mailSettings.mailbox[0].intervalMs = 60000;
    Report(CHECK_NO_MAIL, noMailText);
    PumpFor(700);
    EXPECT_EQ(CountSeen(WM_TIMER), 0);

    // A negative interval is the longest delay, not a short wrapped one.
    mailSettings.mailbox[0].intervalMs = -60000;
    Report(CHECK_NO_MAIL, noMailText);
    PumpFor(700);
    EXPECT_EQ(CountSeen(WM_TIMER), 0);

    mailSettings.mailbox[0].intervalMs = 200;
    DWORD sent = GetTickCount();
    Report(CHECK_NEW_MAIL, newMailText);
    int timer = WaitSeen(WM_TIMER, 0, 5000);
    ASSERT_GE(timer, 0) << "the new interval replaces the running countdown";
    EXPECT_GE(seen[timer].tick - sent, 180u);
}

TEST_F(Tray, ManualFailureLeavesARunningCountdownAlone)
{
    WaitForFirstFailure();
    mailSettings.mailbox[0].intervalMs = 1500;
    DWORD armed = GetTickCount();
    Report(CHECK_NO_MAIL, noMailText);
    seen.clear();

    // A manual check that fails during the countdown.
    SendMessageA(window, WM_COMMAND, IDM_CHECK_NOW, 0);
    int report = WaitSeen(WM_CHECKRESULT, 0, 10000);
    ASSERT_GE(report, 0);
    EXPECT_TRUE(seen[report].fromOtherThread);
    EXPECT_EQ(seen[report].wParam, (WPARAM)CHECK_FAILED);
    EXPECT_TRUE(ShowsIcon(IDI_CHECK_ERROR));
    EXPECT_EQ(FindSeen(WM_TIMER), -1);

    int timer = WaitSeen(WM_TIMER, 0, 8000);
    ASSERT_GE(timer, 0) << "the timed check still comes";
    EXPECT_GE(seen[timer].tick - armed, 1480u);
}

TEST_F(Tray, NullTextKeepsTheTooltip)
{
    WaitForFirstFailure();
    Report(CHECK_NO_MAIL, noMailText);
    Report(CHECK_NEW_MAIL, NULL);
    EXPECT_TRUE(ShowsIcon(IDI_NEW_MAIL));
    EXPECT_EQ(std::string(trayData.szTip), noMailText);
    Report(77, NULL);
    EXPECT_TRUE(ShowsIcon(IDI_NEW_MAIL));
    EXPECT_EQ(std::string(trayData.szTip), noMailText);
}

TEST_F(Tray, LongTooltipIsCutAt63BytesOnACharacterBoundary)
{
    WaitForFirstFailure();
    const std::string a61(61, 'a'), a62(62, 'a'), a63(63, 'a');
    struct Case {
        std::string text;
        std::string shown;
    } cases[] = {
        {a63, a63},
        {a63 + "b", a63},
        {a61 + kanjiHyou, a61 + kanjiHyou},           // ends exactly at byte 63
        {a62 + kanjiHyou, a62},                        // would straddle: cut before it
        {a61 + kanjiHyou + "c", a61 + kanjiHyou},
        {std::string(41, ' ') + newMailText, (std::string(41, ' ') + newMailText).substr(0, 62)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        memset(trayData.szTip, 'x', sizeof trayData.szTip);
        Report(CHECK_FAILED, c.text.c_str());
        EXPECT_EQ(std::string(trayData.szTip), c.shown);
        // Nothing is written past the 64 bytes of the first record layout.
        EXPECT_EQ(trayData.szTip[64], 'x');
    }
    // The last case's cut falls inside a double-byte character, one byte early.
    std::string shown = trayData.szTip;
    EXPECT_EQ(shown.size(), 62u);
    EXPECT_NE(Cp932ToUtf8(shown), "<invalid cp932>");
}

TEST_F(Tray, OnlyRightReleaseOpensTheMenuAndOnlyDoubleClickLaunches)
{
    WaitForFirstFailure();
    std::string dir = MakeScratchDirectory("tray-launch");
    std::string program = dir + "\\launch_marker.exe";
    ASSERT_TRUE(CopyFileA(LAUNCH_MARKER, program.c_str(), FALSE));
    std::string marker = dir + "\\launched.txt";
    strcpy(mailSettings.mailbox[0].launchProgram, program.c_str());
    strcpy(mailSettings.mailbox[0].launchParameters, ("\"" + marker + "\" one two").c_str());

    struct Case {
        WPARAM id;
        LPARAM mouse;
        bool menu;
        bool launch;
    } cases[] = {
        {TRAY_ICON_UID, WM_LBUTTONDOWN, false, false},
        {TRAY_ICON_UID, WM_LBUTTONUP, false, false},
        {TRAY_ICON_UID, WM_RBUTTONDOWN, false, false},
        {TRAY_ICON_UID, WM_RBUTTONDBLCLK, false, false},
        {TRAY_ICON_UID, WM_MOUSEMOVE, false, false},
        {TRAY_ICON_UID + 1, WM_RBUTTONUP, false, false},
        {TRAY_ICON_UID + 1, WM_LBUTTONDBLCLK, false, false},
        {TRAY_ICON_UID, WM_RBUTTONUP, true, false},
        {TRAY_ICON_UID, NIN_BALLOONTIMEOUT, false, false},
        {TRAY_ICON_UID, WM_LBUTTONDBLCLK, false, true},
        {TRAY_ICON_UID, NIN_BALLOONUSERCLICK, false, true},  // a click on the new-mail notice
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("id " + std::to_string(c.id) + " mouse " + std::to_string(c.mouse));
        DeleteFileA(marker.c_str());
        seen.clear();
        menuIds.clear();
        SendMessageA(window, WM_TRAYNOTIFY, c.id, c.mouse);
        PumpUntil([&] { return FileExists(marker); }, c.launch ? 10000 : 300);
        EXPECT_EQ(FindSeen(WM_INITMENUPOPUP) >= 0, c.menu);
        EXPECT_EQ(FileExists(marker), c.launch);
        if (c.menu) {
            // The pop-up's entries, never its title, in order and plain.
            EXPECT_EQ(menuIds, (std::vector<UINT>{IDM_CHECK_NOW, IDM_SETTINGS, IDM_ADD_MAILBOX, 0, IDM_EXIT}));
            for (UINT state : menuStates)
                EXPECT_EQ(state & (MFS_DEFAULT | MFS_CHECKED | MFS_GRAYED), 0u);
            // The WM_NULL posted after the menu reaches the window.
            EXPECT_GE(FindSeen(WM_NULL, FindSeen(WM_INITMENUPOPUP)), 0);
            EXPECT_EQ(FindSeen(WM_COMMAND), -1) << "a cancelled menu chooses nothing";
        }
        if (c.launch) {
            PumpUntil([&] { return ReadFileBytes(marker) == "one two"; }, 5000);
            EXPECT_EQ(ReadFileBytes(marker), "one two");
        }
    }
    DeleteFileA(marker.c_str());
    DeleteFileA(program.c_str());
    RemoveDirectoryA(dir.c_str());
    // Eight mailboxes: "設定" is a sub-menu that lists them, and adding one
    // more is greyed out.
    mailSettings.mailboxCount = 8;
    for (int i = 1; i < 8; i++)
        sprintf(mailSettings.mailbox[i].serverName, "pop%d.example.jp", i);
    seen.clear();
    SendMessageA(window, WM_TRAYNOTIFY, TRAY_ICON_UID, WM_RBUTTONUP);
    PumpUntil([] { return FindSeen(WM_INITMENUPOPUP) >= 0; }, 2000);
    EXPECT_EQ(menuIds, (std::vector<UINT>{IDM_CHECK_NOW, 0, IDM_ADD_MAILBOX, 0, IDM_EXIT}));
    EXPECT_EQ(menuSubItems, (std::vector<int>{0, 8, 0, 0, 0}));
    EXPECT_NE(menuStates.size() > 2 ? menuStates[2] & MFS_GRAYED : 0u, 0u);
    mailSettings.mailboxCount = 1;
}

TEST_F(Tray, SettingsCommandStartsACheckWhenTheDialogCloses)
{
    WaitForFirstFailure();
    SendMessageA(window, WM_COMMAND, IDM_SETTINGS, 0);
    EXPECT_GE(FindSeen(WM_STARTCHECK), 0) << "closing the dialog, even by Cancel, starts a check";
    EXPECT_EQ(idleDialogs.size(), 1u) << "a message box came after Cancel";
    EXPECT_GE(WaitSeen(WM_CHECKRESULT, 0, 10000), 0);
    SendMessageA(window, WM_COMMAND, 40999, 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_CHECK_NOW, 1), 0);
    EXPECT_EQ(CountSeen(WM_STARTCHECK), 2) << "only the low word names the command";
}

TEST_F(Tray, FirstStartWithoutAServerOpensTheSettingsAndTheirCloseStartsTheCheck)
{
    // Loaded as start-up loads them, from an INI file that does not exist.
    std::string directory = MakeScratchDirectory("tray-first");
    ASSERT_EQ(LoadSettings((directory + "\\Tolvaran.ini").c_str(), "tray"), 1);
    RemoveDirectoryA(directory.c_str());
    ASSERT_STREQ(mailSettings.mailbox[0].serverName, "");
    int start = WaitSeen(WM_STARTCHECK, 0, 10000);
    ASSERT_GE(start, 0) << "Cancel did not start a check";
    ASSERT_EQ(idleDialogs.size(), 1u) << "no settings dialog instead of the first check";
    EXPECT_EQ(Cp932ToUtf8(idleDialogs[0].caption), u8"\u8a2d\u5b9a");  // 設定
    EXPECT_LE(idleDialogs[0].seenBefore, (size_t)start) << "the check came before the dialog";
    EXPECT_GE(WaitSeen(WM_CHECKRESULT, start, 10000), 0);
}

TEST_F(Tray, ResumeAndReturningNetworkEachBringOneCheckWhereTheyMay)
{
    WaitForFirstFailure();
    resumeCheckDelayMs = 300;
    networkSettleMs = 100;
    networkCheckGapMs = 0;
    const std::pair<UINT, WPARAM> resume = {WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC},
                                  present = {WM_POWERBROADCAST, PBT_APMRESUMESUSPEND},
                                  network = {WM_NETWORKCHANGED, 0};
    struct Case {
        WPARAM status;  // the last report before the events
        const char *text;
        std::vector<std::pair<UINT, WPARAM>> events;
        int checks;
        DWORD delay;
        DWORD gap = 0;  // the least time between two network checks
    } cases[] = {
        {CHECK_AUTH_FAILED, textWrongPassword, {resume}, 1, 300},
        {CHECK_FAILED, textCannotConnect, {resume, present}, 1, 300},
        {CHECK_FAILED, textCannotConnect, {network}, 1, 100},
        {CHECK_FAILED, textNoAnswer, {network, network, network}, 1, 100},
        {CHECK_FAILED, textTlsFailed, {network}, 1, 100},
        {CHECK_FAILED, textTlsFailed, {network}, 0, 0, 60000},  // one network check a minute
        {CHECK_AUTH_FAILED, textWrongPassword, {network}, 0, 0},
        {CHECK_FAILED, textCommandFailed, {network}, 0, 0},
        {CHECK_FAILED, textCertificateRejected, {network}, 0, 0},
        {CHECK_NO_MAIL, noMailText, {network}, 0, 0},  // last: leaves a countdown running
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(Cp932ToUtf8(c.text) + " events " + std::to_string(c.events.size()));
        networkCheckGapMs = c.gap;
        SendMessageA(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        Report(c.status, c.text);
        seen.clear();
        DWORD sent = GetTickCount();
        for (const auto &event : c.events)
            PostMessageA(window, event.first, event.second, 0);
        PumpFor(1500);
        ASSERT_EQ(CountSeen(WM_STARTCHECK), c.checks);
        if (c.checks) {
            EXPECT_GE(seen[FindSeen(WM_STARTCHECK)].tick - sent, c.delay - 20);
            ASSERT_GE(WaitSeen(WM_CHECKRESULT, FindSeen(WM_STARTCHECK), 10000), 0);
        }
    }
}

TEST_F(Tray, IdleWatchFollowsImapSuccessAndEndsWithSleepNetworkAndExit)
{
    WaitForFirstFailure();
    idleWatchRoutine = StubWatch;
    idleChangeSettleMs = 100;
    networkSettleMs = 100;
    networkCheckGapMs = 0;
    mailSettings.imapIdle = 1;
    watchStarts = watchStops = 0;
    watchWaits.clear();
    checkGate = CreateEventA(NULL, TRUE, TRUE, NULL);
    closeGate = CreateEventA(NULL, TRUE, TRUE, NULL);
    checkThreadRoutine = StubCheck;
    checkStarts = mostChecksRunning = 0;
    MailboxReport canIdle = {noMailText, 1, 1, 1};
    auto success = [&] { SendMessageA(window, WM_MAILBOXREPORT, CHECK_NO_MAIL, (LPARAM)&canIdle); };
    auto started = [](int count) { PumpUntil([=] { return watchStarts == count; }, Patience(2000)); };
    auto timerStarts = [&](int count) { SendMessageA(window, WM_TIMER, ID_IDLE_START_TIMER, 0), started(count); };
    auto tell = [](WPARAM event) { SendMessageA(window, WM_IDLEWATCH, event, lastWatch); };
    auto post = [](UINT message, WPARAM wParam) { return [=] { PostMessageA(window, message, wParam, 0); }; };
    auto report = [](WPARAM status, int number, const char *text) {
        SendMessageA(window, WM_CHECKRESULT, MAKEWPARAM(status, number), (LPARAM)text);
    };
    auto checksStarted = [](int count) { PumpUntil([=] { return checkStarts == count; }, Patience(2000)); };
    struct Step {
        const char *name;
        std::function<void()> act;
        int starts, stops, checks;  // watches started and stopped so far; checks of the step
        int runs = -1;              // check threads the step started, where counted
        const char *tip = nullptr;  // the tooltip after the step, where looked at
    } steps[] = {
        {"an IMAP success with IDLE starts a watch", success, 1, 0, 0},
        {"a second success starts none", success, 1, 0, 0},
        {"three changes in a burst bring one check", [&] { tell(IDLE_CHANGED), tell(IDLE_CHANGED), tell(IDLE_CHANGED); }, 1, 0, 1},
        {"a change after that check brings one more", [&] { tell(IDLE_CHANGED); }, 1, 0, 1},
        {"a change during a running check brings one check after it, never two at once",
         [&] {
             int before = checkStarts;
             ResetEvent(checkGate);
             tell(IDLE_CHANGED), checksStarted(before + 1);
             tell(IDLE_CHANGED), PumpUntil([] { return CountSeen(WM_STARTCHECK) == 2; }, Patience(2000));
             // Room for a second check that must not start yet.
             PumpUntil([=] { return checkStarts == before + 2; }, 2 * idleChangeSettleMs);
             SetEvent(checkGate), checksStarted(before + 2);
         },
         1, 0, 2, 2},
        {"a change after a check's report, while it logs out, brings one check after its close",
         [&] {
             int before = checkStarts;
             ResetEvent(closeGate);
             tell(IDLE_CHANGED), PumpUntil([] { return CountSeen(WM_CHECKRESULT) == 1; }, Patience(2000));
             tell(IDLE_CHANGED), PumpUntil([] { return CountSeen(WM_STARTCHECK) == 2; }, Patience(2000));
             // Room for a second check that must not start before the close.
             PumpUntil([=] { return checkStarts == before + 2; }, 2 * idleChangeSettleMs);
             SetEvent(closeGate), checksStarted(before + 2);
         },
         1, 0, 2, 2},
        {"an older check's report coming last is dropped",
         [&] { report(CHECK_NEW_MAIL, lastCheck, newMailText), report(CHECK_NO_MAIL, lastCheck - 1, noMailText); },
         1, 0, 0, 0, newMailText},
        {"sleep stops it", post(WM_POWERBROADCAST, PBT_APMSUSPEND), 1, 1, 0},
        {"the next success starts one", success, 2, 1, 0},
        {"a network change stops it and brings one check", post(WM_NETWORKCHANGED, 0), 2, 2, 1},
        {"closed settings stop it", [&] { success(), started(3), OnSettingsChangedForIdle(window, 0); }, 3, 3, 0},
        {"IMAP_IDLE=0: none", [&] { mailSettings.imapIdle = 0, success(), mailSettings.imapIdle = 1; }, 3, 3, 0},
        {"NO to IDLE brings no check", [&] { success(), started(4), tell(IDLE_REFUSED); }, 4, 3, 0},
        {"and no watch after the next success", success, 4, 3, 0},
        {"until the settings change", [&] { OnSettingsChangedForIdle(window, 0), success(); }, 5, 3, 0},
        {"a refused log-in brings no check", [&] { started(5), tell(IDLE_LOGIN_REFUSED); }, 5, 3, 0},
        {"the next success waits 30 s for its watch", success, 5, 3, 0},
        {"a network change while it waits brings one check, whose success waits the rest",
         [&] { post(WM_NETWORKCHANGED, 0)(), PumpUntil([] { return CountSeen(WM_STARTCHECK) == 1; }, Patience(2000)), success(); },
         5, 3, 1},
        // Watches the server closes at once: each brings one check, and the
        // next waits twice as long.
        {"closed 1", [&] { timerStarts(6), tell(IDLE_ENDED), success(); }, 6, 3, 1},
        {"closed 2", [&] { timerStarts(7), tell(IDLE_ENDED), success(); }, 7, 3, 1},
        {"closed 3", [&] { timerStarts(8), tell(IDLE_ENDED), success(); }, 8, 3, 1},
        {"closed 4", [&] { timerStarts(9), tell(IDLE_ENDED), success(); }, 9, 3, 1},
        {"exit stops the watch", [&] { timerStarts(10), SendMessageA(window, WM_CLOSE, 0, 0); }, 10, 4, 0},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        seen.clear();
        int runsBefore = checkStarts;
        step.act();
        PumpUntil([&] { return watchStops == step.stops && CountSeen(WM_STARTCHECK) >= step.checks; },
                  Patience(2000));
        PumpFor(2 * idleChangeSettleMs);  // room for a check too many
        EXPECT_EQ(watchStarts, step.starts);
        EXPECT_EQ(watchStops, step.stops);
        EXPECT_EQ(CountSeen(WM_STARTCHECK), step.checks);
        if (step.runs >= 0) {
            EXPECT_EQ(checkStarts - runsBefore, step.runs);
        }
        if (step.tip != nullptr) {
            EXPECT_STREQ(trayData.szTip, step.tip);
        }
        EXPECT_LE(mostChecksRunning, 1);
    }
    // Each wait is counted from the end of the last watch, a moment before;
    // the network change's check left the first wait counting.
    const UINT waits[] = {30000, 30000, 60000, 120000, 240000, 480000};
    ASSERT_EQ(watchWaits.size(), 6u);
    for (size_t i = 0; i < 6; i++)
        EXPECT_TRUE(watchWaits[i] <= waits[i] && watchWaits[i] > waits[i] - Patience(2000)) << watchWaits[i];
    idleWatchRoutine = IdleWatchThread;
    checkThreadRoutine = NumberedCheckThread;
    CloseHandle(checkGate);
    CloseHandle(closeGate);
}

TEST_F(Tray, NoticeOnlyWhenNewMailArrived)
{
    WaitForFirstFailure();
    struct Case {
        int notify;
        std::vector<int> counts;  // success reports; -1 a failure between them
        std::string notice;       // empty: none after the last report
        // IMAP reports: each count's UIDVALIDITY and UIDNEXT. The first after
        // a POP3 report counts as the first since start.
        std::vector<std::pair<DWORD, DWORD>> uids = {};
    } cases[] = {
        {2, {0, 3}, MailText(3)}, {2, {3, 5}, MailText(5)}, {2, {3, 3}, ""},
        {2, {5, 2}, ""},          {2, {3, -1, 3}, ""},      {0, {0, 3}, ""},
        {2, {2}, MailText(2), {{7, 10}}},
        {2, {2, 2}, MailText(2), {{7, 10}, {7, 11}}},  // one read, one arrived
        {2, {2, 2}, "", {{7, 11}, {7, 11}}},
        {2, {2, 3}, "", {{7, 11}, {8, 20}}},  // the mailbox was renumbered
        {2, {2, 3}, MailText(3), {{7, 0}, {7, 0}}},  // no UIDNEXT: the count rose
    };
    for (const Case &c : cases) {
        mailSettings.notifyNewMail = c.notify;
        for (size_t i = 0; i < c.counts.size(); i++) {
            int count = c.counts[i];
            wideNotices.clear();
            std::string text = count > 0 ? MailText(count) : noMailText;
            WPARAM status = count < 0 ? CHECK_FAILED : count ? CHECK_NEW_MAIL : CHECK_NO_MAIL;
            if (c.uids.empty())
                Report(status, count < 0 ? connectFailedText : text.c_str());
            else
                ReportMailbox(status, text.c_str(), c.uids[i]);
        }
        SCOPED_TRACE(Cp932ToUtf8(c.notice));
        ASSERT_EQ(wideNotices.size(), c.notice.empty() ? 0u : 1u);
        for (const NOTIFYICONDATAW &n : wideNotices) {
            // 0x80: quiet time and Focus Assist are respected.
            EXPECT_EQ(std::make_tuple(n.cbSize, n.hWnd, n.uID, n.uFlags, n.dwInfoFlags, n.hBalloonIcon),
                      std::make_tuple((DWORD)sizeof n, window, (UINT)TRAY_ICON_UID, (UINT)NIF_INFO,
                                      (DWORD)(NIIF_USER | NIIF_LARGE_ICON | 0x80),
                                      LoadIconA(hInstance, MAKEINTRESOURCEA(IDI_NEW_MAIL))));
            EXPECT_EQ(Utf8(n.szInfoTitle) + "|" + Utf8(n.szInfo), "Tolvaran|" + Cp932ToUtf8(c.notice));
        }
    }
}

TEST_F(Tray, NoticeNamesTheNewestMessagesOrFallsBackToTheCount)
{
    WaitForFirstFailure();
    // 山田 太郎 / 会議の件, and an emoji outside code page 932.
    const std::string yamada = u8"\u5c71\u7530 \u592a\u90ce", meeting = u8"\u4f1a\u8b70\u306e\u4ef6";
    const std::string smile = u8"\U0001f600", dash = u8" \u2014 ";
    const std::string count = u8"3 \u4ef6\u306e\u65b0\u7740\u30e1\u30fc\u30eb\u304c\u3042\u308a\u307e\u3059";
    // The emoji stands on the cut of an 84-unit line: it goes whole.
    const std::string longSubject = std::string(78, 'a') + smile + std::string(40, 'b');
    const std::string cutLine = "s" + dash + std::string(78, 'a') + u8"\u2026";
    // What comes between the check's question and its summary.
    enum Between { NOTHING, LATER_REPORT, CHECK_ENDED_INSTEAD };
    struct Case {
        int notify;
        SummaryOutcome outcome;
        int newCount;
        std::vector<std::pair<std::string, std::string>> messages;  // sender, subject
        std::string notice;  // title "|" text, UTF-8; empty: none
        Between between = NOTHING;
    } cases[] = {
        {1, SUMMARY_LISTED, 2, {{yamada, meeting}, {"bob@example.com", "Hello " + smile}},
         count + "|" + yamada + dash + meeting + "\nbob@example.com" + dash + "Hello " + smile},
        {1, SUMMARY_LISTED, 8, {{"a", "1"}, {"b", "2"}, {"", "3"}},
         count + "|a" + dash + "1\nb" + dash + "2\n3\n" + u8"\u4ed6 5 \u901a"},  // 他 5 通
        {1, SUMMARY_LISTED, 4, {{"a", "1"}, {"b", "2"}, {"c", "3"}},
         count + "|a" + dash + "1\nb" + dash + "2\nc" + dash + "3\n" + u8"\u4ed6 1 \u901a"},
        // A report of the same count meanwhile leaves the notice to its check.
        {1, SUMMARY_LISTED, 1, {{"a", "1"}}, count + "|a" + dash + "1", LATER_REPORT},
        // The check's session ended (its header reads ran out of time) first.
        {1, SUMMARY_LISTED, 1, {{"a", "1"}}, "Tolvaran|" + Cp932ToUtf8(newMailText), CHECK_ENDED_INSTEAD},
        {1, SUMMARY_LISTED, 3, {{"s", longSubject}, {"s", longSubject}, {"s", longSubject}},
         count + "|" + cutLine + "\n" + cutLine + "\n" + cutLine},
        {1, SUMMARY_FAILED, 0, {}, "Tolvaran|" + Cp932ToUtf8(newMailText)},
        {1, SUMMARY_NONE_NEW, 0, {}, ""},
        {2, SUMMARY_LISTED, 1, {{"a", "1"}}, "Tolvaran|" + Cp932ToUtf8(newMailText)},
        {0, SUMMARY_LISTED, 1, {{"a", "1"}}, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.notice);
        mailSettings.notifyNewMail = c.notify;
        Report(CHECK_NO_MAIL, noMailText);
        wideNotices.clear();
        Report(CHECK_NEW_MAIL, newMailText);
        // As a check asks after its report, then hands in what it found.
        NoticeRequest request = {};
        SendMessageA(window, WM_NOTICEWANTED, 0, (LPARAM)&request);
        EXPECT_EQ(std::make_tuple(request.wanted, request.firstCheck, request.oldCount),
                  std::make_tuple(c.notify == 1 ? 1 : 0, 0, 0));
        if (c.between == LATER_REPORT)
            Report(CHECK_NEW_MAIL, newMailText);
        if (c.between == CHECK_ENDED_INSTEAD)
            SendMessageA(window, WM_CHECKENDED, 0, 0);
        MailSummary summary = {};
        summary.outcome = c.outcome;
        summary.newCount = c.newCount;
        summary.listed = (int)c.messages.size();
        for (size_t i = 0; i < c.messages.size(); i++) {
            wcscpy(summary.sender[i], Wide(c.messages[i].first).c_str());
            wcscpy(summary.subject[i], Wide(c.messages[i].second).c_str());
        }
        SendMessageA(window, WM_MAILSUMMARY, 0, (LPARAM)&summary);
        ASSERT_EQ(wideNotices.size(), c.notice.empty() ? 0u : 1u);
        for (const NOTIFYICONDATAW &n : wideNotices)
            EXPECT_EQ(Utf8(n.szInfoTitle) + "|" + Utf8(n.szInfo), c.notice);
    }
}

TEST_F(Tray, SeveralMailboxesShareOneIconByPriorityAndATooltipLineEach)
{
    WaitForFirstFailure();
    const int none = 0;  // no report yet
    // A report's text as a tooltip line has it: UTF-8, without its blanks.
    auto line = [](const std::string &cp932) { return Cp932ToUtf8(cp932.substr(1, cp932.size() - 2)); };
    const std::string noMail = line(noMailText), failed = line(connectFailedText), three = line(MailText(3));
    struct Case {
        std::vector<int> statuses;  // per mailbox
        int icon;
        std::string tip;  // UTF-8, lines joined by "\n"
    } cases[] = {
        {{CHECK_NO_MAIL, none, CHECK_NEW_MAIL}, IDI_APP, "one: " + noMail + "\nthree: " + three},
        {{CHECK_FAILED, CHECK_AUTH_FAILED, CHECK_NEW_MAIL}, IDI_NEW_MAIL, ""},
        {{CHECK_FAILED, CHECK_AUTH_FAILED, CHECK_NO_MAIL}, IDI_AUTH_ERROR, ""},
        {{CHECK_NO_MAIL, CHECK_FAILED, CHECK_NO_MAIL}, IDI_CHECK_ERROR,
         "one: " + noMail + "\ntwo.example.jp: " + failed + "\nthree: " + noMail},
        {{CHECK_NO_MAIL, CHECK_NO_MAIL, CHECK_NO_MAIL}, IDI_NO_MAIL, ""},
        // Eight lines leave 15 units each: the labels go before the texts.
        {std::vector<int>(8, CHECK_NO_MAIL), IDI_NO_MAIL, ""},
    };
    for (const Case &c : cases) {
        int count = (int)c.statuses.size();
        SCOPED_TRACE(c.tip + " of " + std::to_string(count));
        mailSettings.mailboxCount = count;
        for (int i = 0; i < count; i++) {
            MailboxSettings &box = mailSettings.mailbox[i];
            strcpy(box.serverName, i == 1 ? "imaps://two.example.jp:993" : "pop.example.jp");
            strcpy(box.label, i == 0 ? "one" : i == 2 ? "three" : i == 1 ? "" : "mailbox");
            CheckState &check = mailboxRecords[i].check;
            check.reported = c.statuses[i] != none;
            check.status = c.statuses[i];
            strcpy(check.text, c.statuses[i] == CHECK_NEW_MAIL ? MailText(3).c_str()
                               : c.statuses[i] == CHECK_NO_MAIL ? noMailText
                                                                : connectFailedText);
        }
        EXPECT_EQ(MailboxesIcon(count), c.icon);
        WCHAR tip[128];
        FormatMailboxesTip(count, tip, 128);
        if (!c.tip.empty()) {
            EXPECT_EQ(Utf8(tip), c.tip);
        }
        EXPECT_LE(wcslen(tip), 127u);
        if (count == 8) {
            EXPECT_EQ(Utf8(tip), noMail + "\n" + noMail + "\n" + noMail + "\n" + noMail + "\n" + noMail + "\n" +
                                     noMail + "\n" + noMail + "\n" + noMail);
        }
    }
    // Through the window: a report of mailbox 1 among two shows both lines in
    // the UTF-16 record; back to one mailbox, the first record as ever.
    // Its notice is titled with the mailbox.
    mailSettings.mailboxCount = 2;
    mailSettings.notifyNewMail = NOTICE_COUNT_ONLY;
    mailboxRecords[0].notice.lastMailCount = 0;
    wideTips.clear();
    wideNotices.clear();
    Report(CHECK_NEW_MAIL, newMailText);
    ASSERT_EQ(wideTips.size(), 1u);
    EXPECT_EQ(Utf8(wideTips[0].szTip), "one: " + three + "\ntwo.example.jp: " + noMail);
    EXPECT_TRUE(ShowsIcon(IDI_NEW_MAIL));
    ASSERT_EQ(wideNotices.size(), 1u);
    EXPECT_EQ(Utf8(wideNotices[0].szInfoTitle), "one: " + three);
    mailSettings.mailboxCount = 1;
    wideTips.clear();
    Report(CHECK_NO_MAIL, noMailText);
    EXPECT_TRUE(wideTips.empty());
    EXPECT_EQ(trayData.cbSize, sizeof(void *) == 8 ? 104u : 88u);
    EXPECT_STREQ(trayData.szTip, noMailText);
    for (MailboxRecord &record : mailboxRecords)
        record.check.reported = 0;
}

TEST_F(Tray, SettingsThatCannotBeSavedAreToldInOneBoxWhileTheCheckStarts)
{
    WaitForFirstFailure();
    // A folder named 表 that does not exist: the path must come out whole.
    std::string directory = MakeScratchDirectory("tray");
    std::string path = directory + "\\" + kanjiHyou + "\\Tolvaran.ini";
    char pathBuffer[MAX_PATH];
    char login[] = "tray";
    strcpy(pathBuffer, path.c_str());
    iniPath = pathBuffer;
    loginName = login;
    idleButton = IDOK;
    UINT_PTR timer = SetTimer(NULL, 0, 50, CloseShownDialogsTimerProc);
    SendMessageA(window, WM_COMMAND, IDM_SETTINGS, 0);
    KillTimer(NULL, timer);
    iniPath = NULL;
    loginName = NULL;
    RemoveDirectoryA(directory.c_str());

    ASSERT_EQ(idleDialogs.size(), 2u) << "the settings dialog, then one message box";
    const IdleDialog &box = idleDialogs[1];
    EXPECT_EQ(box.owner, window);
    EXPECT_EQ(box.caption, "Tolvaran");
    // "設定を保存できませんでした。", the path, "今回の設定は終了するまで有効です。"
    EXPECT_EQ(Cp932ToUtf8(box.text),
              u8"\u8a2d\u5b9a\u3092\u4fdd\u5b58\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f\u3002\n" +
                  Cp932ToUtf8(path) +
                  u8"\n\u4eca\u56de\u306e\u8a2d\u5b9a\u306f\u7d42\u4e86\u3059\u308b\u307e\u3067\u6709\u52b9"
                  u8"\u3067\u3059\u3002");
    int start = FindSeen(WM_STARTCHECK);
    ASSERT_GE(start, 0) << "no check after the dialog";
    EXPECT_LT((size_t)start, box.seenBefore) << "the check waited for the box";
    EXPECT_GE(WaitSeen(WM_CHECKRESULT, start, 10000), 0);
}

TEST_F(Tray, ExitRemovesTheEntryBeforeTheWindowGoesAndQuitsWithZero)
{
    WaitForFirstFailure();
    mailSettings.mailbox[0].intervalMs = 200;
    Report(CHECK_NO_MAIL, noMailText);
    ASSERT_TRUE(TrayEntryExists());
    SendMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(entryAtDestroy, 0) << "the entry was still there when the window was destroyed";
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(TrayEntryExists());
    PumpUntil([] { return quitSeen; }, 2000);
    EXPECT_TRUE(quitSeen);
    EXPECT_EQ(quitCode, 0u);
}

TEST_F(Tray, ShellRestartAddsTheEntryAgainWithItsCurrentIcon)
{
    WaitForFirstFailure();
    Report(CHECK_NEW_MAIL, newMailText);
    // The shell forgets the entry, as a restarted shell does.
    NOTIFYICONDATAA gone = trayData;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
    ASSERT_FALSE(TrayEntryExists());

    HICON before = trayData.hIcon;
    SendMessageA(window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(TrayEntryExists());
    EXPECT_TRUE(ShowsIcon(IDI_NEW_MAIL));
    // Loaded afresh for the scale the restarted shell has; the old one is gone.
    EXPECT_NE(trayData.hIcon, before);
    ICONINFO info = {};
    EXPECT_FALSE(GetIconInfo(before, &info));
    EXPECT_EQ(std::string(trayData.szTip), newMailText);
    // The entry re-added is the live one: updates reach it.
    Report(CHECK_NO_MAIL, noMailText);
    EXPECT_TRUE(TrayEntryExists());
}

}  // namespace
