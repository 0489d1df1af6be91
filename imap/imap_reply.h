// IMAP responses read whole, literals included, and the parts of them a
// mailbox check looks at: the condition, capabilities and STATUS data.
#ifndef TOLVARAN_IMAP_REPLY_H
#define TOLVARAN_IMAP_REPLY_H

#include <windows.h>

#include "transport/line_reader.h"

enum ImapKind {
    IMAP_UNTAGGED,     // "* ..."
    IMAP_CONTINUATION, // "+ ..."
    IMAP_TAGGED        // "A1 ..."
};

enum ImapCondition {
    IMAP_DATA,  // untagged data (CAPABILITY, STATUS, EXISTS ...), no condition
    IMAP_OK,
    IMAP_NO,
    IMAP_BAD,
    IMAP_BYE,
    IMAP_PREAUTH
};

enum ImapReceived {
    IMAP_RECEIVED,
    IMAP_NOTHING,  // closed, failed or timed out before a whole response came
    IMAP_BROKEN    // longer than the buffer, a bare line feed, or a bad literal
};

// A place in a received response.
struct ImapCursor {
    const char *at;
    const char *end;
};

struct ImapResponse {
    ImapKind kind;
    const char *tag;  // IMAP_TAGGED: the tag, tagLength bytes
    int tagLength;
    ImapCondition condition;
    // What follows the tag and the condition: a response code and text, or
    // for untagged data the data itself ("CAPABILITY ...", "3 EXISTS").
    ImapCursor rest;
};

// Capabilities a check cares about; every other one is ignored.
#define IMAP_CAN_AUTH_PLAIN  0x01
#define IMAP_CAN_SASL_IR     0x02
#define IMAP_LOGIN_DISABLED  0x04
#define IMAP_CAN_IDLE        0x08

// What the response code of a NO or BAD says of the refusal.
enum ImapRefusal {
    REFUSAL_ACCOUNT,  // no code, or one that blames the credentials or the
                      // account, or an [ALERT] for the user: asking again
                      // changes nothing
    REFUSAL_PASSING,  // the server is busy, short of something or broken for
                      // now: [UNAVAILABLE], [INUSE], [LIMIT], [SERVERBUG] ...
    REFUSAL_OTHER     // any other code
};

// What STATUS told of INBOX.
struct ImapMailboxStatus {
    int haveUnseen;
    DWORD unseen;
    DWORD uidNext;
    DWORD uidValidity;
};

// Reads the next whole response into the start of the reader's buffer. A
// line of untagged data that ends in a literal "{n}" takes the n bytes and
// the line after them in too, as often as it ends so.
ImapReceived ReceiveImapResponse(ReplyReader *reader, ImapResponse *response);

// The same for a line of length bytes that ReceiveReply has just read.
ImapReceived ReadImapResponse(ReplyReader *reader, int length, ImapResponse *response);

// The capabilities a response lists: "CAPABILITY ..." data, or a
// "[CAPABILITY ...]" code after a condition. Returns -1 when it lists none.
int ImapCapabilities(const ImapResponse *response);

// What kind of refusal a NO or BAD is, by its response code.
ImapRefusal ImapRefusalKind(const ImapResponse *response);

// Copies the text of an "[ALERT]" response code into text of the given
// capacity: control bytes left out, cut where a UTF-8 character starts.
// Returns 0, writing nothing, when the response carries no alert.
int ImapAlertText(const ImapResponse *response, char *text, size_t capacity);

// Whether a response tells of a change in the selected mailbox: untagged
// "n EXISTS", "n EXPUNGE" or "n FETCH".
int ImapMailboxChange(const ImapResponse *response);

// Reads "STATUS INBOX (...)" data into status; returns 0 for any other
// response, or a STATUS of another mailbox.
int ReadInboxStatus(const ImapResponse *response, ImapMailboxStatus *status);

#endif
