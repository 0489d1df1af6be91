// What a POP3 server's -ERR to USER or PASS says of itself: the response
// codes in brackets of RFC 2449 and RFC 3206.
#ifndef TOLVARAN_POP3_REFUSAL_H
#define TOLVARAN_POP3_REFUSAL_H

#include <stddef.h>

enum Pop3Refusal {
    POP3_REFUSED_ACCOUNT,  // [AUTH], no code or one not known: the password
    POP3_REFUSED_FOR_NOW,  // [IN-USE], [LOGIN-DELAY], [SYS/TEMP]: it passes
    POP3_REFUSED_BY_SERVER // [SYS/PERM]: the server's own reason, not the password
};

// Reads the refusal in the reply line of length bytes. For [AUTH] and
// [SYS/PERM], the sentence after the code goes into text (capacity bytes,
// control bytes left out, as an IMAP [ALERT]'s); otherwise text is empty.
Pop3Refusal ReadPop3Refusal(const char *line, size_t length, char *text, size_t capacity);

#endif
