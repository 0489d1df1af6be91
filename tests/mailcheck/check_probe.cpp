// Runs check runs side by side, one a thread, and prints each one's report:
//   check_probe USER PASSWORD SERVER TIMEOUT_MS [SERVER TIMEOUT_MS ...]
// One line per check, in the order given: "STATUS REPORTS HEX", HEX being
// the report text's code page 932 bytes.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <thread>
#include <vector>

#include "checkrun/check_messages.h"
#include "mailcheck/mailcheck.h"
#include "report_window.h"

namespace {

struct Check {
    MailCredentials credentials = {};
    int timeoutMs = 0;
    ReportLog log;
};

// One check on this thread, reporting to a window of this thread.
void RunOne(Check *check)
{
    HWND window = CreateReportWindow(&check->log);
    if (window == nullptr)
        return;
    // The session's deadline keeps the program's proportion to the time-out.
    RunMailCheck(window, &check->credentials, check->timeoutMs, 3 * check->timeoutMs);
    DestroyWindow(window);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 5 || (argc - 3) % 2 != 0) {
        fprintf(stderr, "usage: check_probe USER PASSWORD SERVER TIMEOUT_MS [SERVER TIMEOUT_MS ...]\n");
        return 2;
    }
    std::vector<Check> checks((size_t)(argc - 3) / 2);
    for (size_t i = 0; i < checks.size(); i++) {
        MailCredentials &credentials = checks[i].credentials;
        CopyTextCut(credentials.serverName, sizeof credentials.serverName, argv[3 + 2 * i]);
        CopyTextCut(credentials.userName, sizeof credentials.userName, argv[1]);
        CopyTextCut(credentials.password, sizeof credentials.password, argv[2]);
        checks[i].timeoutMs = atoi(argv[4 + 2 * i]);
    }
    std::vector<std::thread> threads;
    for (Check &check : checks)
        threads.emplace_back(RunOne, &check);
    for (std::thread &thread : threads)
        thread.join();
    for (const Check &check : checks) {
        printf("%d %d ", check.log.status, check.log.count);
        for (unsigned char c : check.log.text)
            printf("%02x", c);
        printf("\n");
    }
    return 0;
}
