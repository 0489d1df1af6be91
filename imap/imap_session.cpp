// The steps of an IMAP session that the check and the IDLE watch share:
// greeting, capabilities, log-in, tagged commands and their answers, LOGOUT.
#include "imap/imap_session.h"

#include <string.h>

#include "checkrun/check_texts.h"
#include "settings/base64.h"

// A user name or password as UTF-8: each byte of code page 932 text takes
// at most three.
#define UTF8_FIELD_SIZE (3 * PASSWORD_SIZE)
// "\0user\0password" in Base64, and the command around it.
#define LOGIN_LINE_SIZE (4 * ((2 * UTF8_FIELD_SIZE + 2) / 3 + 1) + 64)

// Writes the decimal digits of value and a NUL to text; returns how many
// digits. (By hand, as the count's text is: the C library's formatter may
// take memory from the heap.)
size_t WriteDecimal(char *text, unsigned int value)
{
    char digits[10];
    size_t count = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (size_t i = 0; i < count; i++)
        text[i] = digits[count - 1 - i];
    text[count] = 0;
    return count;
}

// Starts the command buffer with a new tag and verb.
static void StartCommand(CheckRun *run, ImapState *imap, const char *verb, size_t *length)
{
    imap->tagNumber++;
    imap->tag[0] = 'A';
    WriteDecimal(imap->tag + 1, (unsigned int)imap->tagNumber);
    *length = 0;
    AppendCommand(run->command, length, imap->tag, strlen(imap->tag));
    AppendCommand(run->command, length, " ", 1);
    AppendCommand(run->command, length, verb, strlen(verb));
}

// Hands an [ALERT]'s text to the window. The send returns once the window
// has taken its copy, so the run's buffer serves the next one.
void NoteAlert(CheckRun *run, const ImapResponse *response)
{
    if (ImapAlertText(response, run->alert, sizeof run->alert))
        // The IDLE watch (the run with a stop event) is no check: -1.
        SendMessageA(run->window, WM_SERVERALERT, run->stop != NULL ? (WPARAM)-1 : (WPARAM)run->number,
                     (LPARAM)run->alert);
}

// Keeps the capabilities a response lists, if it lists them.
static void TakeCapabilities(ImapState *imap, const ImapResponse *response)
{
    int capabilities = ImapCapabilities(response);
    if (capabilities >= 0) {
        imap->capabilities = capabilities;
        imap->listings++;
    }
}

// Takes in what an untagged response tells; returns 0 when it is a BYE.
static int NoteUntagged(ImapState *imap, const ImapResponse *response)
{
    if (response->condition == IMAP_BYE)
        return 0;
    TakeCapabilities(imap, response);
    if (ImapMailboxChange(response))
        imap->changes++;
    ImapMailboxStatus status;
    if (ReadInboxStatus(response, &status) && status.haveUnseen) {
        imap->haveStatus = 1;
        imap->status = status;
    }
    return 1;
}

// Reads responses until the tagged one that ends the last command, or the
// "+" that asks for more when continuation is set. Untagged responses may
// come at any time; those not known are passed over.
ImapVerdict AwaitImap(CheckRun *run, ImapState *imap, int continuation)
{
    for (;;) {
        ImapResponse response;
        ImapReceived received = ReceiveImapResponse(&run->reader, &response);
        if (run->connection.expired || received == IMAP_NOTHING)
            return VERDICT_SILENT;
        if (received == IMAP_BROKEN)
            return VERDICT_FAULT;
        if (response.kind == IMAP_CONTINUATION)
            return continuation ? VERDICT_GO_ON : VERDICT_FAULT;
        NoteAlert(run, &response);
        if (response.kind == IMAP_UNTAGGED) {
            if (!NoteUntagged(imap, &response))
                return VERDICT_BYE;
            continue;
        }
        if (response.tagLength != (int)strlen(imap->tag) ||
            memcmp(response.tag, imap->tag, (size_t)response.tagLength) != 0)
            return VERDICT_FAULT;
        // Capabilities may come with the tagged reply as well.
        TakeCapabilities(imap, &response);
        if (response.condition == IMAP_OK)
            return VERDICT_OK;
        if (response.condition == IMAP_NO || response.condition == IMAP_BAD) {
            imap->refusal = ImapRefusalKind(&response);
            return VERDICT_NO;
        }
        return VERDICT_FAULT;
    }
}

// Sends a command with a new tag.
void SendImapCommand(CheckRun *run, ImapState *imap, const char *verb)
{
    size_t length;
    StartCommand(run, imap, verb, &length);
    AppendCommand(run->command, &length, "\r\n", 2);
    SendCommand(run);
}

// Sends a command and waits for its end, or for its "+".
ImapVerdict ImapCommand(CheckRun *run, ImapState *imap, const char *verb, int continuation)
{
    SendImapCommand(run, imap, verb);
    return AwaitImap(run, imap, continuation);
}

// Sends length bytes from a buffer of the log-in's own.
static void SendLine(CheckRun *run, const char *bytes, size_t length)
{
    if (TimeLeftPlain(&run->connection) != 0)
        run->reader.stream.send(run->reader.stream.context, bytes, (int)length);
}

// Turns a user name or password of the dialog's code page into UTF-8.
// Returns its length, or -1 when it holds a CR or LF (it would end the
// command early) or is no valid text.
static int ToUtf8(const char *text, size_t capacity, char *utf8)
{
    int length = (int)strnlen(text, capacity);
    if (memchr(text, '\r', (size_t)length) != NULL || memchr(text, '\n', (size_t)length) != NULL)
        return -1;
    if (length == 0)
        return 0;
    WCHAR wide[PASSWORD_SIZE];
    int wideLength = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, length, wide, PASSWORD_SIZE);
    int utf8Length = wideLength <= 0 ? 0
                     : WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8, UTF8_FIELD_SIZE, NULL, NULL);
    SecureZeroMemory(wide, sizeof wide);
    return utf8Length > 0 ? utf8Length : -1;
}

// Appends count bytes to a log-in line of LOGIN_LINE_SIZE; 0 if they do not fit.
static int AppendLogin(char *line, size_t *length, const char *bytes, size_t count)
{
    if (*length + count > LOGIN_LINE_SIZE)
        return 0;
    memcpy(line + *length, bytes, count);
    *length += count;
    return 1;
}

// Whether value can go as a quoted string: 7-bit text (CR and LF never
// get this far).
static int FitsQuoted(const char *value, int length)
{
    for (int i = 0; i < length; i++)
        if ((unsigned char)value[i] >= 0x80)
            return 0;
    return 1;
}

// Appends value to a LOGIN line: quoted, with '"' and '\' escaped, when it
// can be; else as a literal, whose bytes wait for the server's "+".
// Returns 0 if the line would not fit.
static int AppendLoginString(char *line, size_t *length, const char *value, int valueLength, int *literal)
{
    *literal = !FitsQuoted(value, valueLength);
    if (*literal) {
        char head[16] = "{";
        size_t headLength = 1 + WriteDecimal(head + 1, (unsigned int)valueLength);
        memcpy(head + headLength, "}\r\n", 3);
        return AppendLogin(line, length, head, headLength + 3);
    }
    if (!AppendLogin(line, length, "\"", 1))
        return 0;
    for (int i = 0; i < valueLength; i++) {
        if ((value[i] == '"' || value[i] == '\\') && !AppendLogin(line, length, "\\", 1))
            return 0;
        if (!AppendLogin(line, length, value + i, 1))
            return 0;
    }
    return AppendLogin(line, length, "\"", 1);
}

// LOGIN with the user name and password, each quoted or a literal.
static ImapVerdict LogInWithLogin(CheckRun *run, ImapState *imap, const char *user, int userLength,
                                  const char *password, int passwordLength, char *line)
{
    size_t length;
    StartCommand(run, imap, "LOGIN ", &length);
    memcpy(line, run->command, length);
    const char *values[2] = {user, password};
    int lengths[2] = {userLength, passwordLength};
    for (int i = 0; i < 2; i++) {
        int literal;
        if (i == 1 && !AppendLogin(line, &length, " ", 1))
            return VERDICT_UNSAFE;
        if (!AppendLoginString(line, &length, values[i], lengths[i], &literal))
            return VERDICT_UNSAFE;
        if (literal) {
            SendLine(run, line, length);
            ImapVerdict verdict = AwaitImap(run, imap, 1);
            if (verdict != VERDICT_GO_ON)
                return verdict == VERDICT_OK ? VERDICT_FAULT : verdict;
            length = 0;
            AppendLogin(line, &length, values[i], (size_t)lengths[i]);
        }
    }
    AppendLogin(line, &length, "\r\n", 2);
    SendLine(run, line, length);
    return AwaitImap(run, imap, 0);
}

// AUTHENTICATE PLAIN: the initial response on the command line when the
// server takes it there, else after its "+".
static ImapVerdict LogInWithPlain(CheckRun *run, ImapState *imap, const char *user, int userLength,
                                  const char *password, int passwordLength, char *line)
{
    char plain[2 * UTF8_FIELD_SIZE + 2];
    size_t plainLength = 0;
    plain[plainLength++] = 0;
    memcpy(plain + plainLength, user, (size_t)userLength);
    plainLength += (size_t)userLength;
    plain[plainLength++] = 0;
    memcpy(plain + plainLength, password, (size_t)passwordLength);
    plainLength += (size_t)passwordLength;

    size_t length;
    StartCommand(run, imap, "AUTHENTICATE PLAIN", &length);
    memcpy(line, run->command, length);
    line[length++] = (imap->capabilities & IMAP_CAN_SASL_IR) ? ' ' : '\r';
    if (!(imap->capabilities & IMAP_CAN_SASL_IR)) {
        line[length++] = '\n';
        SendLine(run, line, length);
        ImapVerdict verdict = AwaitImap(run, imap, 1);
        if (verdict != VERDICT_GO_ON) {
            SecureZeroMemory(plain, sizeof plain);
            return verdict == VERDICT_OK ? VERDICT_FAULT : verdict;
        }
        length = 0;
    }
    EncodeBase64Bytes(plain, plainLength, line + length);
    SecureZeroMemory(plain, sizeof plain);
    length += strlen(line + length);
    line[length++] = '\r';
    line[length++] = '\n';
    SendLine(run, line, length);
    return AwaitImap(run, imap, 0);
}

// Logs in the way the server allows: AUTHENTICATE PLAIN where offered,
// else LOGIN unless the server has disabled it. Names and passwords go as
// UTF-8. *refused tells which failure a refusal stands for.
static ImapVerdict LogIn(CheckRun *run, ImapState *imap, const MailCredentials *credentials,
                         const char **refused)
{
    char user[UTF8_FIELD_SIZE];
    char password[UTF8_FIELD_SIZE];
    char line[LOGIN_LINE_SIZE + 1];
    ImapVerdict verdict = VERDICT_UNSAFE;
    int userLength = ToUtf8(credentials->userName, sizeof credentials->userName, user);
    int passwordLength = ToUtf8(credentials->password, sizeof credentials->password, password);
    *refused = userLength < 0 ? textWrongUser : textWrongPassword;
    if (userLength >= 0 && passwordLength >= 0) {
        if (imap->capabilities & IMAP_CAN_AUTH_PLAIN) {
            verdict = LogInWithPlain(run, imap, user, userLength, password, passwordLength, line);
        } else if (imap->capabilities & IMAP_LOGIN_DISABLED) {
            // No way in that the program has: nothing is sent.
            *refused = textCommandFailed;
        } else {
            verdict = LogInWithLogin(run, imap, user, userLength, password, passwordLength, line);
        }
    }
    SecureZeroMemory(user, sizeof user);
    SecureZeroMemory(password, sizeof password);
    SecureZeroMemory(line, sizeof line);
    return verdict;
}

// Sends LOGOUT and reads on until its tagged reply, whatever comes first.
void LogOutImap(CheckRun *run, ImapState *imap)
{
    if (ImapCommand(run, imap, "LOGOUT", 0) == VERDICT_BYE)
        AwaitImap(run, imap, 0);
}

// Keeps the failure a verdict other than OK stands for; refusedStatus and
// refusedText are what a refusal means at this step. The server is logged
// out of only when it refused: after silence, a BYE or a fault it is not
// listening to this session any more.
void EndImapFailed(CheckRun *run, ImapState *imap, ImapVerdict verdict, CheckStatus refusedStatus,
                   const char *refusedText)
{
    if (verdict == VERDICT_SILENT || verdict == VERDICT_BYE) {
        SetFailure(run, CHECK_FAILED, textNoAnswer);
    } else if (verdict == VERDICT_FAULT) {
        SetFailure(run, CHECK_FAILED, textCommandFailed);
    } else {
        LogOutImap(run, imap);
        SetFailure(run, refusedStatus, refusedText);
    }
}

// A session with nothing learnt yet.
void StartImapState(ImapState *imap)
{
    imap->tagNumber = 0;
    imap->tag[0] = 0;
    imap->capabilities = -1;
    imap->listings = 0;
    imap->refusal = REFUSAL_ACCOUNT;
    imap->haveStatus = 0;
    imap->changes = 0;
}

// Asks CAPABILITY; a NO leaves the list as it was. Returns 0 with the
// failure kept when the session has ended.
static int AskCapabilities(CheckRun *run, ImapState *imap)
{
    ImapVerdict verdict = ImapCommand(run, imap, "CAPABILITY", 0);
    if (verdict == VERDICT_OK || verdict == VERDICT_NO)
        return 1;
    EndImapFailed(run, imap, verdict, CHECK_FAILED, textCommandFailed);
    return 0;
}

// Greeting, capabilities and log-in; 1 once logged in.
int OpenImapSession(CheckRun *run, ImapState *imap, const MailCredentials *credentials)
{
    ImapResponse greeting;
    ImapReceived received = ReceiveImapResponse(&run->reader, &greeting);
    if (run->connection.expired || received != IMAP_RECEIVED || greeting.kind != IMAP_UNTAGGED ||
        (greeting.condition != IMAP_OK && greeting.condition != IMAP_PREAUTH)) {
        SetFailure(run, CHECK_FAILED, textNoAnswer);
        return 0;
    }
    NoteAlert(run, &greeting);
    TakeCapabilities(imap, &greeting);
    if (greeting.condition == IMAP_PREAUTH)
        return imap->capabilities >= 0 || AskCapabilities(run, imap);

    if (imap->capabilities < 0 && !AskCapabilities(run, imap))
        return 0;
    // A server that would not list them offers nothing we know.
    if (imap->capabilities < 0)
        imap->capabilities = 0;
    const char *refused;
    int listings = imap->listings;
    ImapVerdict verdict = LogIn(run, imap, credentials, &refused);
    if (verdict == VERDICT_OK) {
        // What a server offers may change at log-in: asked once more when it
        // did not say.
        return imap->listings != listings || AskCapabilities(run, imap);
    }
    CheckStatus status = refused == textCommandFailed ? CHECK_FAILED : CHECK_AUTH_FAILED;
    if (verdict == VERDICT_NO && imap->refusal != REFUSAL_ACCOUNT) {
        status = CHECK_FAILED;
        refused = textServerBusy;
    }
    EndImapFailed(run, imap, verdict == VERDICT_UNSAFE ? VERDICT_NO : verdict, status, refused);
    return 0;
}
