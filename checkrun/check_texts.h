// The tooltip texts a check run reports, in code page 932.
#ifndef TOLVARAN_CHECK_TEXTS_H
#define TOLVARAN_CHECK_TEXTS_H

#include <stddef.h>

extern const char textNetworkUnusable[];
extern const char textServerNotFound[];
extern const char textCannotConnect[];
extern const char textWrongUser[];
extern const char textWrongPassword[];
extern const char textCommandFailed[];
// A refusal that passes: the server is busy, short of something or broken
// for now, and the timed checks go on.
extern const char textServerBusy[];
// " コマンドが実行できません " for a server that refuses for a reason of its
// own; its timed checks go on (FailurePasses).
extern const char textServerDeclined[];
extern const char textNoMail[];
extern const char textNoAnswer[];
extern const char textCertificateRejected[];
extern const char textTlsFailed[];

// Whether a failure reported with text passes by itself, so that the timed
// checks go on: textServerBusy's words, or textServerDeclined itself.
int FailurePasses(const char *text);

// Writes " N 件の新着メールがあります " for count into text of the given
// capacity; returns 0 (and writes nothing) when it does not fit.
int FormatNewMailText(char *text, size_t capacity, int count);

#endif
