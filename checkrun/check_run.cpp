// The steps every exchange of a check run shares: its one report, the
// command buffer, and replies bounded by the time-out and the deadline.
#include "checkrun/check_run.h"

#include <string.h>

#include "checkrun/check_texts.h"

// Hands the outcome to the main window; returns once it has been shown.
void Report(CheckRun *run, CheckStatus status, const char *text)
{
    SendMessageA(run->window, WM_CHECKRESULT, ReportParameter(run, status), (LPARAM)text);
    run->reported = 1;
}

// wParam of a report: the status in the low word, the number in the high.
WPARAM ReportParameter(const CheckRun *run, CheckStatus status)
{
    return MAKEWPARAM((WORD)status, (WORD)run->number);
}

// Keeps the outcome of a failure, reported after the clean-up.
void SetFailure(CheckRun *run, CheckStatus status, const char *text)
{
    run->status = status;
    run->text = text;
}

// Appends count bytes to the command buffer; returns 0 if they do not fit.
int AppendCommand(char *command, size_t *length, const char *bytes, size_t count)
{
    if (*length + count > COMMAND_BUFFER_SIZE - 1)
        return 0;
    memcpy(command + *length, bytes, count);
    *length += count;
    command[*length] = 0;
    return 1;
}

// Sends the command buffer's text; the result is not examined. Past the
// deadline nothing goes out, and the reply that follows counts as none: a
// reply may already be held (a TLS greeting that came with the handshake)
// without a receive having looked at the clock.
void SendCommand(CheckRun *run)
{
    if (TimeLeftPlain(&run->connection) == 0)
        return;
    run->reader.stream.send(run->reader.stream.context, run->command, (int)strlen(run->command));
}

// Receives the next reply; 0 when none came, or the session ran out of time
// while it was coming, in which case what did come counts for nothing.
int ReceiveInTime(CheckRun *run)
{
    int length = ReceiveReply(&run->reader);
    return run->connection.expired ? 0 : length;
}

// Puts the count's text into the tooltip buffer, or takes the no-mail text.
static const char *CountText(CheckRun *run, int count)
{
    if (count == 0)
        return textNoMail;
    FormatNewMailText(run->tooltip, sizeof run->tooltip, count);
    return run->tooltip;
}

// Reports the count of new messages.
void ReportCount(CheckRun *run, int count)
{
    Report(run, count == 0 ? CHECK_NO_MAIL : CHECK_NEW_MAIL, CountText(run, count));
}
