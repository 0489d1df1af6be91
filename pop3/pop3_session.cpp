// The POP3 exchange: USER, PASS, STAT, the report of the count, QUIT.
#include "pop3/pop3_session.h"

#include <string.h>

#include "checkrun/check_texts.h"
#include "pop3/pop3_headers.h"
#include "pop3/pop3_refusal.h"
#include "pop3/stat_count.h"

// What one exchange of command and reply came to.
enum ReplyVerdict {
    REPLY_ACCEPTED,
    REPLY_REFUSED,
    REPLY_SILENT,
    REPLY_UNSAFE
};

// Puts "verb value\r\n" into the command buffer. Returns 0, with the buffer
// empty, when value holds a line break (it would smuggle in a command of
// its own) or the line does not fit.
static int FormatCommand(CheckRun *run, const char *verb, const char *value, size_t valueCapacity)
{
    size_t valueLength = strnlen(value, valueCapacity);
    size_t length = 0;
    run->command[0] = 0;
    if (memchr(value, '\r', valueLength) != NULL || memchr(value, '\n', valueLength) != NULL)
        return 0;
    if (!AppendCommand(run->command, &length, verb, strlen(verb)) ||
        !AppendCommand(run->command, &length, value, valueLength) ||
        !AppendCommand(run->command, &length, "\r\n", 2)) {
        run->command[0] = 0;
        return 0;
    }
    return 1;
}

// Receives the next reply and judges it by its first byte.
static ReplyVerdict ReceiveVerdict(CheckRun *run)
{
    if (ReceiveInTime(run) == 0)
        return REPLY_SILENT;
    return run->reader.buffer[0] == '+' ? REPLY_ACCEPTED : REPLY_REFUSED;
}

// Sends one command with its argument and judges the reply.
static ReplyVerdict Exchange(CheckRun *run, const char *verb, const char *value, size_t valueCapacity)
{
    if (!FormatCommand(run, verb, value, valueCapacity))
        return REPLY_UNSAFE;
    SendCommand(run);
    return ReceiveVerdict(run);
}

// Sends QUIT and waits for its reply, whatever it says.
static void LogOut(CheckRun *run)
{
    size_t length = 0;
    AppendCommand(run->command, &length, "QUIT\r\n", 6);
    SendCommand(run);
    ReceiveReply(&run->reader);
}

// Ends a session whose command went wrong: a silent server is left at once,
// any other is logged out of first.
static void EndRefused(CheckRun *run, ReplyVerdict verdict, CheckStatus status, const char *text)
{
    if (verdict == REPLY_SILENT) {
        SetFailure(run, CHECK_FAILED, textNoAnswer);
        return;
    }
    LogOut(run);
    SetFailure(run, status, text);
}

// Ends a session whose USER or PASS was not accepted. The refusal's code
// decides what it means: a password refused (accountText), one that passes
// (the timed checks go on), or the server's own reason; the sentence the
// server means for the user goes to the window, as an IMAP [ALERT] does.
static void EndRefusedLogIn(CheckRun *run, ReplyVerdict verdict, const char *accountText)
{
    if (verdict != REPLY_REFUSED) {
        EndRefused(run, verdict, CHECK_AUTH_FAILED, accountText);
        return;
    }
    Pop3Refusal refusal = ReadPop3Refusal(run->reader.buffer, (size_t)run->reader.replyLength, run->alert,
                                          sizeof run->alert);
    if (run->alert[0] != 0)
        SendMessageA(run->window, WM_SERVERALERT, (WPARAM)run->number, (LPARAM)run->alert);
    if (refusal == POP3_REFUSED_FOR_NOW)
        EndRefused(run, verdict, CHECK_FAILED, textServerBusy);
    else if (refusal == POP3_REFUSED_BY_SERVER)
        EndRefused(run, verdict, CHECK_FAILED, textServerDeclined);
    else
        EndRefused(run, verdict, CHECK_AUTH_FAILED, accountText);
}

// Greeting, USER, PASS and STAT. On success reports the count and logs out;
// on failure logs out where the server still listens and keeps the outcome
// for the caller to report after the clean-up.
void TalkPop3(CheckRun *run, const MailCredentials *credentials)
{
    if (ReceiveInTime(run) == 0) {
        SetFailure(run, CHECK_FAILED, textNoAnswer);
        return;
    }

    ReplyVerdict verdict = Exchange(run, "USER ", credentials->userName, sizeof credentials->userName);
    if (verdict != REPLY_ACCEPTED) {
        EndRefusedLogIn(run, verdict, textWrongUser);
        return;
    }
    verdict = Exchange(run, "PASS ", credentials->password, sizeof credentials->password);
    if (verdict != REPLY_ACCEPTED) {
        EndRefusedLogIn(run, verdict, textWrongPassword);
        return;
    }
    verdict = Exchange(run, "stat", "", 1);
    if (verdict != REPLY_ACCEPTED) {
        EndRefused(run, verdict, CHECK_FAILED, textCommandFailed);
        return;
    }

    int count = ParseStatCount(run->reader.buffer, run->reader.replyLength);
    ReportCount(run, count);
    // The report goes first, so the next interval counts from it; the
    // headers for the notice, when it waits for them, come after it.
    FetchPop3Summary(run, count);
    LogOut(run);
}

