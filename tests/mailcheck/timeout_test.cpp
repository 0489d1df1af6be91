// The real receive time-out of the program's own thread routine: a server
// that accepts and never says a word is given up after 30 seconds.
#include <gtest/gtest.h>
#include <process.h>

#include "fake_pop3_server.h"
#include "checkrun/check_messages.h"
#include "mailcheck/mailcheck.h"
#include "report_window.h"
#include "resources/resource.h"
#include "test_support.h"

namespace {

TEST(ReceiveTimeout, SilentServerIsGivenUpAfterThirtySeconds)
{
    const char address[] = "127.0.0.89";
    FakePop3Server server;
    server.patienceMs = 60000;
    ASSERT_TRUE(server.Start(address, {})) << ::testing::PrintToString(server.Problems());

    LockSettings();
    CopyTextCut(mailSettings.mailbox[0].serverName, sizeof mailSettings.mailbox[0].serverName, address);
    CopyTextCut(mailSettings.mailbox[0].userName, sizeof mailSettings.mailbox[0].userName, "alice");
    CopyTextCut(mailSettings.mailbox[0].password, sizeof mailSettings.mailbox[0].password, "secret");
    UnlockSettings();

    ReportLog log;
    bool closedFirst = false;
    log.duringReport = [&] { closedFirst = server.WaitClientClosed(3000); };
    HWND window = CreateReportWindow(&log);
    ASSERT_NE(window, nullptr);
    DWORD start = GetTickCount();
    ASSERT_NE(_beginthread(MailCheckThread, 0, window), (uintptr_t)-1);
    ASSERT_TRUE(PumpMessagesUntil([&] { return log.count > 0; }, 60000));
    DWORD waited = GetTickCount() - start;
    PumpMessagesUntil([] { return false; }, 200);
    server.Join();
    DestroyWindow(window);

    EXPECT_EQ(log.count, 1);
    EXPECT_EQ(log.status, CHECK_FAILED);
    EXPECT_EQ(Cp932ToUtf8(log.text), " サーバから応答がありません ");
    EXPECT_TRUE(closedFirst);
    EXPECT_EQ(server.Transcript(), "");
    EXPECT_TRUE(server.Problems().empty()) << ::testing::PrintToString(server.Problems());
    // Neither an early give-up nor one that waits on and on.
    EXPECT_GE(waited, 29500u);
    EXPECT_LT(waited, 45000u);
}

}  // namespace
