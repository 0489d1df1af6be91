// The Windows Sockets calls of a check run around its report: start-up,
// name lookup, close and release, each path in the order it must keep. The
// calls of the test's own thread are watched through the import table; the
// scripted server runs on another thread and is not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_pop3_server.h"
#include "import_hook.h"
#include "mailcheck/mailcheck.h"
#include "report_window.h"
#include "resources/resource.h"
#include "test_support.h"

namespace {

DWORD watchedThread;
std::vector<std::string> calls;
bool failStartup;
bool failLookup;
const char *lookupAnswer;  // dotted address the lookup yields instead

typedef int(WINAPI *StartupFunction)(WORD, WSADATA *);
typedef int(WINAPI *CleanupFunction)(void);
typedef hostent *(WINAPI *LookupFunction)(const char *);
typedef int(WINAPI *CloseFunction)(SOCKET);
typedef int(WINAPI *ConnectFunction)(SOCKET, const sockaddr *, int);

StartupFunction realStartup;
CleanupFunction realCleanup;
LookupFunction realLookup;
CloseFunction realClose;
ConnectFunction realConnect;

bool Watched()
{
    return GetCurrentThreadId() == watchedThread;
}

int WINAPI WatchStartup(WORD version, WSADATA *data)
{
    if (!Watched())
        return realStartup(version, data);
    calls.push_back("WSAStartup " + std::to_string(version));
    if (failStartup)
        return WSASYSNOTREADY;
    return realStartup(version, data);
}

int WINAPI WatchCleanup(void)
{
    if (Watched())
        calls.push_back("WSACleanup");
    return realCleanup();
}

hostent *WINAPI WatchLookup(const char *name)
{
    if (!Watched())
        return realLookup(name);
    calls.push_back("gethostbyname '" + std::string(name) + "'");
    if (failLookup)
        return nullptr;
    return realLookup(lookupAnswer != nullptr ? lookupAnswer : name);
}

int WINAPI WatchClose(SOCKET socket)
{
    if (Watched())
        calls.push_back("closesocket");
    return realClose(socket);
}

int WINAPI WatchConnect(SOCKET socket, const sockaddr *address, int length)
{
    if (Watched())
        calls.push_back("connect");
    return realConnect(socket, address, length);
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
    }
    void TearDown() override
    {
        void *ignored;
        for (auto &swapped : restore)
            HookImport("wsock32.dll", swapped.first, swapped.second, &ignored);
        watchedThread = 0;
    }
    bool Swap(const char *function, void *replacement, void **original)
    {
        if (!HookImport("wsock32.dll", function, replacement, original))
            return false;
        restore.push_back({function, *original});
        return true;
    }
    std::vector<std::pair<const char *, void *>> restore;
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
    } cases[] = {
        {"Windows Sockets cannot start", "127.0.0.88", true, false, nullptr, {}, CHECK_FAILED,
         " ネットワークが使えません ", {"WSAStartup 257", "report 102"}},
        {"name lookup fails", "pop.example.jp", false, true, nullptr, {}, CHECK_FAILED,
         " サーバ名が見つかりません ",
         {"WSAStartup 257", "gethostbyname 'pop.example.jp'", "WSACleanup", "report 102"}},
        {"empty server name goes to the lookup unchanged", "", false, true, nullptr, {}, CHECK_FAILED,
         " サーバ名が見つかりません ", {"WSAStartup 257", "gethostbyname ''", "WSACleanup", "report 102"}},
        {"connect refused: the socket is closed too", "127.0.0.88", false, false, nullptr, {}, CHECK_FAILED,
         " サーバに接続できません ",
         {"WSAStartup 257", "gethostbyname '127.0.0.88'", "connect", "closesocket", "WSACleanup", "report 102"}},
        {"an empty server name that resolves is checked like any other", "", false, false, "127.0.0.87",
         {Send(greeting), Expect("USER alice\r\n"), Send("+OK\r\n"), Expect("PASS secret\r\n"), Send("+OK\r\n"),
          Expect("stat\r\n"), Send("+OK 3 300\r\n"), Expect("QUIT\r\n"), Send("+OK bye\r\n")},
         CHECK_NEW_MAIL, " 3 件の新着メールがあります ",
         {"WSAStartup 257", "gethostbyname ''", "connect", "report 101", "closesocket", "WSACleanup"}},
        {"USER refused: log-out, close and release come first", "127.0.0.86", false, false, nullptr,
         {Send(greeting), Expect("USER alice\r\n"), Send("-ERR\r\n"), Expect("QUIT\r\n"), Send("+OK\r\n")},
         CHECK_AUTH_FAILED, " ユーザ名が違います ",
         {"WSAStartup 257", "gethostbyname '127.0.0.86'", "connect", "closesocket", "WSACleanup", "report 103"}},
        {"silent server: close and release come first", "127.0.0.85", false, false, nullptr,
         {Send(greeting), Expect("USER alice\r\n")}, CHECK_FAILED, " サーバから応答がありません ",
         {"WSAStartup 257", "gethostbyname '127.0.0.85'", "connect", "closesocket", "WSACleanup", "report 102"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        calls.clear();
        failStartup = c.failStartup;
        failLookup = c.failLookup;
        lookupAnswer = c.lookupAnswer;

        FakePop3Server server;
        if (!c.script.empty()) {
            const char *address = c.lookupAnswer != nullptr ? c.lookupAnswer : c.serverName;
            ASSERT_TRUE(server.Start(address, c.script));
        }
        ReportLog log;
        log.duringReport = [&] { calls.push_back("report " + std::to_string(log.status)); };
        HWND window = CreateReportWindow(&log);
        ASSERT_NE(window, nullptr);

        MailCredentials credentials = {};
        CopyTextCut(credentials.serverName, sizeof credentials.serverName, c.serverName);
        CopyTextCut(credentials.userName, sizeof credentials.userName, "alice");
        CopyTextCut(credentials.password, sizeof credentials.password, "secret");
        watchedThread = GetCurrentThreadId();
        RunMailCheck(window, &credentials, 400);
        watchedThread = 0;
        server.Join();
        DestroyWindow(window);

        EXPECT_EQ(log.count, 1);
        EXPECT_EQ(log.status, c.status);
        EXPECT_EQ(Cp932ToUtf8(log.text), c.text);
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(server.Transcript(), ExpectedClientBytes(c.script));
        EXPECT_TRUE(server.Problems().empty()) << ::testing::PrintToString(server.Problems());
    }
}

}  // namespace
