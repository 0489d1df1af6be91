// The check run as the program starts it (MailCheckThread on a thread of its
// own, reporting to a window of this thread) against a real POP3 server that
// a CTest fixture started. The environment names the server:
//   TOLVARAN_POP3_ADDR         its loopback address
//   TOLVARAN_POP3_DIR          its directory (Linux path)
//   TOLVARAN_POP3_DOMAIN       suffix of its user names ("" or "@domain")
//   TOLVARAN_POP3_CONCURRENCY  how many check runs to start at once
//   TOLVARAN_IMAP_ADDR         the server field for its IMAP listener, if any
// Every session this program causes is listed, as the bytes the client must
// have sent, in DIR/expected-sessions.txt for check_sessions.py to hold
// against what the server recorded.
#include <gtest/gtest.h>
#include <process.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "checkrun/check_messages.h"
#include "mailcheck/mailcheck.h"
#include "report_window.h"
#include "resources/resource.h"
#include "test_support.h"

namespace {

std::string Environment(const char *name, const char *fallback)
{
    const char *value = getenv(name);
    return value != nullptr ? value : fallback;
}

const std::string address = Environment("TOLVARAN_POP3_ADDR", "127.0.0.1");
const std::string domain = Environment("TOLVARAN_POP3_DOMAIN", "");
const int concurrency = atoi(Environment("TOLVARAN_POP3_CONCURRENCY", "50").c_str());

std::string ServerDirectory()
{
    std::string dir = "Z:" + Environment("TOLVARAN_POP3_DIR", "");
    for (char &c : dir)
        if (c == '/')
            c = '\\';
    return dir;
}

// Adds one session, as the bytes the client must send, to the list.
void ExpectSession(const std::string &clientBytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string line;
    for (unsigned char c : clientBytes) {
        line += hex[c >> 4];
        line += hex[c & 15];
    }
    std::string path = ServerDirectory() + "\\expected-sessions.txt";
    std::string all = ReadFileBytes(path) + line + "\n";
    WriteFileBytes(path, all);
}

std::string Session(const std::string &user, const std::string &password, bool loggedIn)
{
    std::string bytes = "USER " + user + "\r\nPASS " + password + "\r\n";
    if (loggedIn)
        bytes += "stat\r\n";
    return bytes + "QUIT\r\n";
}

void SetCredentials(const std::string &server, const std::string &user, const std::string &password)
{
    LockSettings();
    CopyTextCut(mailSettings.mailbox[0].serverName, sizeof mailSettings.mailbox[0].serverName, server.c_str());
    CopyTextCut(mailSettings.mailbox[0].userName, sizeof mailSettings.mailbox[0].userName, user.c_str());
    CopyTextCut(mailSettings.mailbox[0].password, sizeof mailSettings.mailbox[0].password, password.c_str());
    UnlockSettings();
}

// One check through the program's own thread routine; the report must come
// by a send from that other thread.
ReportLog CheckOnce()
{
    ReportLog log;
    bool sentFromOtherThread = false;
    log.duringReport = [&] { sentFromOtherThread = InSendMessage() != FALSE; };
    HWND window = CreateReportWindow(&log);
    EXPECT_NE(window, nullptr);
    EXPECT_NE(_beginthread(MailCheckThread, 0, window), (uintptr_t)-1);
    EXPECT_TRUE(PumpMessagesUntil([&] { return log.count > 0; }, 20000));
    // A second report would follow at once; give it the chance to show.
    PumpMessagesUntil([] { return false; }, 200);
    EXPECT_TRUE(sentFromOtherThread);
    log.duringReport = nullptr;
    DestroyWindow(window);
    return log;
}

TEST(RealServer, AccountsGiveTheirCountsAndRefusals)
{
    struct {
        const char *name;
        std::string user, password;
        int status;
        const char *text;
        bool loggedIn;
    } cases[] = {
        {"empty mailbox", "empty", "emptypass", CHECK_NO_MAIL, " 新着メールはありません ", true},
        {"three messages", "three", "threepass", CHECK_NEW_MAIL, " 3 件の新着メールがあります ", true},
        {"twelve messages", "twelve", "twelvepass", CHECK_NEW_MAIL, " 12 件の新着メールがあります ", true},
        {"wrong password", "three", "wrongpass", CHECK_AUTH_FAILED, " パスワードが違います ", false},
        {"unknown user", "nobody-here", "whatever", CHECK_AUTH_FAILED, " パスワードが違います ", false},
        // パス表 in code page 932; its last byte is the code of '\'.
        {"Shift_JIS password", "sjis", "\x83\x70\x83\x58\x95\x5c", CHECK_NEW_MAIL,
         " 1 件の新着メールがあります ", true},
        {"empty password", "nopass", "", CHECK_NEW_MAIL, " 2 件の新着メールがあります ", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string user = c.user + domain;
        SetCredentials(address, user, c.password);
        ReportLog log = CheckOnce();
        EXPECT_EQ(log.count, 1);
        EXPECT_EQ(log.status, c.status);
        EXPECT_EQ(Cp932ToUtf8(log.text), c.text);
        ExpectSession(Session(user, c.password, c.loggedIn));
    }
}

// IMAP counts what is unseen: account five holds 5 messages, 2 of them
// seen. Its sessions are not in Dovecot's POP3 raw logs, so none is listed.
TEST(RealServer, ImapCountsTheUnseenMessages)
{
    const std::string server = Environment("TOLVARAN_IMAP_ADDR", "");
    if (server.empty())
        GTEST_SKIP() << "no IMAP on this server";
    struct {
        const char *name, *password;
        int status;
        const char *text;
    } cases[] = {
        {"five messages, two seen", "fivepass", CHECK_NEW_MAIL, " 3 件の新着メールがあります "},
        {"wrong password", "wrongpass", CHECK_AUTH_FAILED, " パスワードが違います "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetCredentials(server, "five", c.password);
        ReportLog log = CheckOnce();
        EXPECT_EQ(log.count, 1);
        EXPECT_EQ(log.status, c.status);
        EXPECT_EQ(Cp932ToUtf8(log.text), c.text);
        // The record holds the UIDVALIDITY Dovecot keeps ("3 V<validity> N6 ...").
        std::string record;
        if (c.status == CHECK_NEW_MAIL) {
            std::string uids = ReadFileBytes(ServerDirectory() + "\\home\\five\\Maildir\\dovecot-uidlist");
            record = "validity=" + uids.substr(3, uids.find(' ', 3) - 3) + " next=6 idle=1";
        }
        EXPECT_EQ(log.mailbox, record);
    }
}

// Flips the settings between two accounts while check runs take their
// copies: a torn copy (one account's name, the other's password) would be
// refused.
DWORD WINAPI FlipAccounts(void *stop)
{
    bool twelve = false;
    while (!*(volatile bool *)stop) {
        twelve = !twelve;
        SetCredentials(address, (twelve ? "twelve" : "three") + domain, twelve ? "twelvepass" : "threepass");
        Sleep(0);
    }
    return 0;
}

TEST(RealServer, ManyRunsAtOnceEachReportOnceAndCorrectly)
{
    if (concurrency == 0)
        GTEST_SKIP() << "not asked for with this server";
    SetCredentials(address, "three" + domain, "threepass");
    std::vector<ReportLog> logs(concurrency);
    std::vector<HWND> windows;
    for (ReportLog &log : logs)
        windows.push_back(CreateReportWindow(&log));

    volatile bool stop = false;
    HANDLE flipper = CreateThread(nullptr, 0, FlipAccounts, (void *)&stop, 0, nullptr);
    for (HWND window : windows)
        ASSERT_NE(_beginthread(MailCheckThread, 0, window), (uintptr_t)-1);
    auto allReported = [&] {
        for (const ReportLog &log : logs)
            if (log.count == 0)
                return false;
        return true;
    };
    bool done = PumpMessagesUntil(allReported, Patience(60000));
    stop = true;
    WaitForSingleObject(flipper, INFINITE);
    CloseHandle(flipper);
    PumpMessagesUntil([] { return false; }, 500);
    EXPECT_TRUE(done);

    for (int i = 0; i < concurrency; i++) {
        SCOPED_TRACE("run " + std::to_string(i));
        EXPECT_EQ(logs[i].count, 1);
        EXPECT_EQ(logs[i].status, CHECK_NEW_MAIL);
        std::string text = Cp932ToUtf8(logs[i].text);
        if (text == " 3 件の新着メールがあります ") {
            ExpectSession(Session("three" + domain, "threepass", true));
        } else if (text == " 12 件の新着メールがあります ") {
            ExpectSession(Session("twelve" + domain, "twelvepass", true));
        } else {
            ADD_FAILURE() << "report text " << text;
        }
        DestroyWindow(windows[i]);
    }
}

}  // namespace
