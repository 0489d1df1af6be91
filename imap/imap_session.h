// The steps of an IMAP session that the check and the IDLE watch share:
// tagged commands, the responses up to their end, log-in and log-out.
#ifndef TOLVARAN_IMAP_SESSION_H
#define TOLVARAN_IMAP_SESSION_H

#include "checkrun/check_run.h"
#include "imap/imap_reply.h"

// How a command ended.
enum ImapVerdict {
    VERDICT_OK,
    VERDICT_NO,        // NO or BAD: the server refused
    VERDICT_GO_ON,     // the "+" the client waits for before more bytes
    VERDICT_SILENT,    // nothing came in time, or the connection closed
    VERDICT_BYE,       // the server is going away
    VERDICT_FAULT,     // a tag never sent, a broken line, a "+" out of turn
    VERDICT_UNSAFE     // a value that cannot be sent: nothing went out
};

// What the session has learnt so far.
struct ImapState {
    int tagNumber;
    char tag[16];
    int capabilities;  // -1 until the server has listed them
    int listings;      // how many times the server has listed them
    ImapRefusal refusal;  // what the last NO or BAD said of itself
    int haveStatus;
    ImapMailboxStatus status;
    int changes;  // untagged EXISTS, EXPUNGE and FETCH responses seen
};

// Writes the decimal digits of value and a NUL to text, which holds 11
// bytes; returns how many digits.
size_t WriteDecimal(char *text, unsigned int value);

// A session with nothing learnt yet.
void StartImapState(ImapState *imap);

// Hands the text of an [ALERT] the response carries to the window, which
// shows it to the user.
void NoteAlert(CheckRun *run, const ImapResponse *response);

// Reads responses until the tagged one that ends the last command, or the
// "+" that asks for more when continuation is set.
ImapVerdict AwaitImap(CheckRun *run, ImapState *imap, int continuation);

// Sends a command (verb and arguments, without the tag) with a new tag.
void SendImapCommand(CheckRun *run, ImapState *imap, const char *verb);

// Sends a command (verb and arguments, without the tag) and waits for its
// end, or with continuation for the "+" that lets it go on.
ImapVerdict ImapCommand(CheckRun *run, ImapState *imap, const char *verb, int continuation);

// Greeting, capabilities and log-in. Returns 1 once logged in; otherwise the
// failure is kept in run (a refused log-in as CHECK_AUTH_FAILED, a refusal
// that passes as CHECK_FAILED with textServerBusy), and the server has been
// logged out of where it still listens.
int OpenImapSession(CheckRun *run, ImapState *imap, const MailCredentials *credentials);

// Keeps the failure a verdict other than OK stands for; refused status and
// text are what a refusal means at this step.
void EndImapFailed(CheckRun *run, ImapState *imap, ImapVerdict verdict, CheckStatus refusedStatus,
                   const char *refusedText);

// Sends LOGOUT and reads on until its tagged reply, whatever comes first.
void LogOutImap(CheckRun *run, ImapState *imap);

#endif
