// The sender and subject of a message, decoded from its raw header bytes.
#ifndef TOLVARAN_HEADER_DECODE_H
#define TOLVARAN_HEADER_DECODE_H

#include <windows.h>
#include <stddef.h>

// The sender and subject of one message from its raw header bytes as the server sent them (the From and Subject
// fields, possibly folded, possibly with other fields around them, CRLF or LF line ends, possibly ending in the blank
// line). sender gets the decoded display name, or the address when there is none; subject the decoded subject.
// Each output is NUL-terminated UTF-16, cut at whole characters (never inside a surrogate pair) to fit capacity
// (in WCHARs, including the NUL); a cut value ends in U+2026. Missing fields give empty strings. Returns 1.
int DecodeMailSummary(const char *header, size_t length, WCHAR *sender, int senderCapacity,
                      WCHAR *subject, int subjectCapacity);
// One unstructured header value (already unfolded or not) decoded to UTF-16 under the same rules; returns the
// number of WCHARs written before the NUL.
int DecodeHeaderText(const char *value, size_t length, WCHAR *text, int capacity);

#endif
