// The Windows Sockets calls of a check run around its report: start-up,
// name lookup, close and release, each path in the order it must keep; and
// no heap allocation on the way. The calls of the test's own thread are
// watched through the import table; the scripted server runs on another
// thread and is not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_pop3_server.h"
#include "import_hook.h"
#include "imap/imap_idle.h"
#include "checkrun/check_limits.h"
#include "checkrun/check_messages.h"
#include "mailcheck/mailcheck.h"
#include "resources/resource.h"
#include "test_support.h"

namespace {

DWORD watchedThread;
std::vector<std::string> calls;
int testCodeDepth;  // > 0 while the test's own code runs on the watched thread
int allocations;
bool failStartup;
bool failLookup;
const char *lookupAnswer;  // dotted address the lookup yields instead

typedef int(WINAPI *StartupFunction)(WORD, WSADATA *);
typedef int(WINAPI *CleanupFunction)(void);
typedef hostent *(WINAPI *LookupFunction)(const char *);
typedef int(WINAPI *CloseFunction)(SOCKET);
typedef int(WINAPI *ConnectFunction)(SOCKET, const sockaddr *, int);
typedef int(WINAPI *SetOptionFunction)(SOCKET, int, int, const char *, int);
// WSAIoctl, as Windows Sockets 2 declares it; this file keeps to version
// 1.1's header, as the check run's own calls do.
typedef int(WINAPI *IoctlFunction)(SOCKET, DWORD, void *, DWORD, void *, DWORD, DWORD *, void *, void *);
const DWORD keepAliveValues = 0x98000004;  // SIO_KEEPALIVE_VALS

StartupFunction realStartup;
CleanupFunction realCleanup;
LookupFunction realLookup;
CloseFunction realClose;
ConnectFunction realConnect;
SetOptionFunction realSetOption;
IoctlFunction realIoctl;
bool sendTimeoutSet;

bool Watched()
{
    return GetCurrentThreadId() == watchedThread;
}

// Marks the test's own code on the watched thread, whose allocations do not
// count.
struct TestCode {
    TestCode() { testCodeDepth++; }
    ~TestCode() { testCodeDepth--; }
};

void Note(const std::string &call)
{
    calls.push_back(call);
}

void CountAllocation()
{
    if (Watched() && testCodeDepth == 0)
        allocations++;
}

typedef void *(__cdecl *MallocFunction)(size_t);
typedef void *(__cdecl *CallocFunction)(size_t, size_t);
typedef void *(__cdecl *ReallocFunction)(void *, size_t);
typedef LPVOID(WINAPI *HeapAllocFunction)(HANDLE, DWORD, SIZE_T);
typedef HLOCAL(WINAPI *LocalAllocFunction)(UINT, SIZE_T);
typedef HGLOBAL(WINAPI *GlobalAllocFunction)(UINT, SIZE_T);
MallocFunction realMalloc;
CallocFunction realCalloc;
ReallocFunction realRealloc;
HeapAllocFunction realHeapAlloc;
LocalAllocFunction realLocalAlloc;
GlobalAllocFunction realGlobalAlloc;

void *__cdecl WatchMalloc(size_t size)
{
    CountAllocation();
    return realMalloc(size);
}

void *__cdecl WatchCalloc(size_t count, size_t size)
{
    CountAllocation();
    return realCalloc(count, size);
}

void *__cdecl WatchRealloc(void *block, size_t size)
{
    CountAllocation();
    return realRealloc(block, size);
}

LPVOID WINAPI WatchHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    CountAllocation();
    return realHeapAlloc(heap, flags, size);
}

HLOCAL WINAPI WatchLocalAlloc(UINT flags, SIZE_T size)
{
    CountAllocation();
    return realLocalAlloc(flags, size);
}

HGLOBAL WINAPI WatchGlobalAlloc(UINT flags, SIZE_T size)
{
    CountAllocation();
    return realGlobalAlloc(flags, size);
}

int WINAPI WatchStartup(WORD version, WSADATA *data)
{
    TestCode guard;
    if (!Watched())
        return realStartup(version, data);
    Note("WSAStartup " + std::to_string(version));
    if (failStartup)
        return WSASYSNOTREADY;
    return realStartup(version, data);
}

int WINAPI WatchCleanup(void)
{
    TestCode guard;
    if (Watched())
        Note("WSACleanup");
    return realCleanup();
}

hostent *WINAPI WatchLookup(const char *name)
{
    TestCode guard;
    if (!Watched())
        return realLookup(name);
    Note("gethostbyname '" + std::string(name) + "'");
    if (failLookup)
        return nullptr;
    return realLookup(lookupAnswer != nullptr ? lookupAnswer : name);
}

int WINAPI WatchClose(SOCKET socket)
{
    TestCode guard;
    if (Watched())
        Note("closesocket");
    return realClose(socket);
}

int WINAPI WatchConnect(SOCKET socket, const sockaddr *address, int length)
{
    TestCode guard;
    if (Watched())
        Note("connect");
    return realConnect(socket, address, length);
}

// Notes the first send time-out set: without one, a server that stops
// reading could hold a send past the deadline.
int WINAPI WatchSetOption(SOCKET socket, int level, int name, const char *value, int length)
{
    TestCode guard;
    if (Watched() && level == SOL_SOCKET && name == SO_SNDTIMEO && !sendTimeoutSet) {
        sendTimeoutSet = true;
        Note("setsockopt SO_SNDTIMEO");
    }
    return realSetOption(socket, level, name, value, length);
}

// Notes the TCP keep-alive a long-lived connection asks for.
int WINAPI WatchIoctl(SOCKET socket, DWORD code, void *in, DWORD inLength, void *out, DWORD outLength,
                      DWORD *returned, void *overlapped, void *routine)
{
    TestCode guard;
    if (Watched() && code == keepAliveValues)
        Note("WSAIoctl SIO_KEEPALIVE_VALS");
    return realIoctl(socket, code, in, inLength, out, outLength, returned, overlapped, routine);
}

int reports;
int reportedStatus;
std::string reportedText;

// The window the check run reports to; its own work is test code.
LRESULT CALLBACK ReportProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_CHECKRESULT)
        return DefWindowProcA(window, message, wParam, lParam);
    TestCode guard;
    reports++;
    reportedStatus = (int)wParam;
    reportedText = lParam != 0 ? (const char *)lParam : "";
    Note("report " + std::to_string(reportedStatus));
    return 0;
}

HWND CreateWatchedReportWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ReportProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TolvaranTestSocketCalls";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

class SocketCalls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Swap("WSAStartup", (void *)WatchStartup, (void **)&realStartup));
        ASSERT_TRUE(Swap("WSACleanup", (void *)WatchCleanup, (void **)&realCleanup));
        ASSERT_TRUE(Swap("gethostbyname", (void *)WatchLookup, (void **)&realLookup));
        ASSERT_TRUE(Swap("closesocket", (void *)WatchClose, (void **)&realClose));
        ASSERT_TRUE(Swap("connect", (void *)WatchConnect, (void **)&realConnect));
        ASSERT_TRUE(Swap("setsockopt", (void *)WatchSetOption, (void **)&realSetOption));
        ASSERT_TRUE(SwapIfImported("ws2_32.dll", "WSAIoctl", (void *)WatchIoctl, (void **)&realIoctl));
        // An allocator this program does not import is one the check run
        // cannot call.
        SwapIfImported("msvcrt.dll", "malloc", (void *)WatchMalloc, (void **)&realMalloc);
        SwapIfImported("msvcrt.dll", "calloc", (void *)WatchCalloc, (void **)&realCalloc);
        SwapIfImported("msvcrt.dll", "realloc", (void *)WatchRealloc, (void **)&realRealloc);
        SwapIfImported("kernel32.dll", "HeapAlloc", (void *)WatchHeapAlloc, (void **)&realHeapAlloc);
        SwapIfImported("kernel32.dll", "LocalAlloc", (void *)WatchLocalAlloc, (void **)&realLocalAlloc);
        SwapIfImported("kernel32.dll", "GlobalAlloc", (void *)WatchGlobalAlloc, (void **)&realGlobalAlloc);
    }
    void TearDown() override
    {
        void *ignored;
        for (const Swapped &swapped : restore)
            HookImport(swapped.dll, swapped.function, swapped.original, &ignored);
        watchedThread = 0;
    }
    bool Swap(const char *function, void *replacement, void **original)
    {
        return SwapIfImported("wsock32.dll", function, replacement, original);
    }
    bool SwapIfImported(const char *dll, const char *function, void *replacement, void **original)
    {
        if (!HookImport(dll, function, replacement, original))
            return false;
        restore.push_back({dll, function, *original});
        return true;
    }
    struct Swapped {
        const char *dll;
        const char *function;
        void *original;
    };
    std::vector<Swapped> restore;
};

TEST_F(SocketCalls, EachPathCleansUpAndReportsInItsOwnOrder)
{
    const std::string greeting = "+OK ready\r\n";
    struct {
        const char *name;
        const char *serverName;
        bool failStartup, failLookup;
        const char *lookupAnswer;
        std::vector<ServerAction> script;  // empty: no server
        int status;
        std::string text;
        std::vector<std::string> calls;
        bool watch = false;  // the IDLE watch instead of a check: no report
    } cases[] = {
        {"Windows Sockets cannot start", "127.0.0.88", true, false, nullptr, {}, CHECK_FAILED,
         " ネットワークが使えません ", {"WSAStartup 257", "report 102"}},
        {"name lookup fails", "pop.example.jp", false, true, nullptr, {}, CHECK_FAILED,
         " サーバ名が見つかりません ",
         {"WSAStartup 257", "gethostbyname 'pop.example.jp'", "WSACleanup", "report 102"}},
        {"empty server name goes to the lookup unchanged", "", false, true, nullptr, {}, CHECK_FAILED,
         " サーバ名が見つかりません ", {"WSAStartup 257", "gethostbyname ''", "WSACleanup", "report 102"}},
        {"address that cannot be read is never looked up", "pop.example.jp:0", false, false, nullptr, {},
         CHECK_FAILED, " サーバ名が見つかりません ", {"WSAStartup 257", "WSACleanup", "report 102"}},
        {"connect refused: the socket is closed too", "127.0.0.88", false, false, nullptr, {}, CHECK_FAILED,
         " サーバに接続できません ",
         {"WSAStartup 257", "gethostbyname '127.0.0.88'", "connect", "closesocket", "WSACleanup", "report 102"}},
        {"an empty server name that resolves is checked like any other", "", false, false, "127.0.0.87",
         {Send(greeting), Expect("USER alice\r\n"), Send("+OK\r\n"), Expect("PASS secret\r\n"), Send("+OK\r\n"),
          Expect("stat\r\n"), Send("+OK 3 300\r\n"), Expect("QUIT\r\n"), Send("+OK bye\r\n")},
         CHECK_NEW_MAIL, " 3 件の新着メールがあります ",
         {"WSAStartup 257", "gethostbyname ''", "connect", "setsockopt SO_SNDTIMEO", "report 101", "closesocket",
          "WSACleanup"}},
        {"USER refused: log-out, close and release come first", "127.0.0.86", false, false, nullptr,
         {Send(greeting), Expect("USER alice\r\n"), Send("-ERR\r\n"), Expect("QUIT\r\n"), Send("+OK\r\n")},
         CHECK_AUTH_FAILED, " ユーザ名が違います ",
         {"WSAStartup 257", "gethostbyname '127.0.0.86'", "connect", "setsockopt SO_SNDTIMEO", "closesocket",
          "WSACleanup", "report 103"}},
        {"silent server: close and release come first", "127.0.0.85", false, false, nullptr,
         {Send(greeting), Expect("USER alice\r\n")}, CHECK_FAILED, " サーバから応答がありません ",
         {"WSAStartup 257", "gethostbyname '127.0.0.85'", "connect", "setsockopt SO_SNDTIMEO", "closesocket",
          "WSACleanup", "report 102"}},
        {"the watch's connection gets TCP keep-alive", "imap://127.0.0.84:110", false, false, nullptr,
         {Send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR IDLE] ready\r\n"),
          Expect("A1 AUTHENTICATE PLAIN AGFsaWNlAHNlY3JldA==\r\n"), Send("A1 OK [CAPABILITY IMAP4rev1 IDLE]\r\n"),
          Expect("A2 EXAMINE INBOX\r\n"), Send("A2 OK\r\n"), Expect("A3 IDLE\r\n"), Send("+ idling\r\n"),
          Close()},
         0, "",
         {"WSAStartup 257", "gethostbyname '127.0.0.84'", "connect", "WSAIoctl SIO_KEEPALIVE_VALS",
          "setsockopt SO_SNDTIMEO", "closesocket", "WSACleanup"},
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        calls.clear();
        sendTimeoutSet = false;
        failStartup = c.failStartup;
        failLookup = c.failLookup;
        lookupAnswer = c.lookupAnswer;

        FakePop3Server server;
        if (!c.script.empty()) {
            const char *address = c.lookupAnswer != nullptr ? c.lookupAnswer : c.watch ? "127.0.0.84" : c.serverName;
            ASSERT_TRUE(server.Start(address, c.script)) << ::testing::PrintToString(server.Problems());
        }
        reports = 0;
        reportedStatus = 0;
        reportedText.clear();
        HWND window = CreateWatchedReportWindow();
        ASSERT_NE(window, nullptr);

        MailCredentials credentials = {};
        CopyTextCut(credentials.serverName, sizeof credentials.serverName, c.serverName);
        CopyTextCut(credentials.userName, sizeof credentials.userName, "alice");
        CopyTextCut(credentials.password, sizeof credentials.password, "secret");
        allocations = 0;
        watchedThread = GetCurrentThreadId();
        HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (c.watch)
            RunIdleWatch(window, stop, 1, &credentials, 10000);
        else
            RunMailCheck(window, &credentials, 400, CHECK_DEADLINE_MS);
        watchedThread = 0;
        CloseHandle(stop);
        server.Join();
        DestroyWindow(window);

        EXPECT_EQ(reports, c.watch ? 0 : 1);
        EXPECT_EQ(reportedStatus, c.status);
        EXPECT_EQ(reports == 0 ? "" : Cp932ToUtf8(reportedText), c.text);
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(allocations, 0);
        EXPECT_EQ(server.Transcript(), ExpectedClientBytes(c.script));
        EXPECT_TRUE(server.Problems().empty()) << ::testing::PrintToString(server.Problems());
    }
}

}  // namespace
