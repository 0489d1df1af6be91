// A server's words for the user, as a notice shows them.
#ifndef TOLVARAN_ALERT_TEXT_H
#define TOLVARAN_ALERT_TEXT_H

#include <stddef.h>

// Copies the bytes from at to end into text of the given capacity, control
// bytes left out, cut where a UTF-8 character starts; returns the length.
size_t CopyAlertText(const char *at, const char *end, char *text, size_t capacity);

#endif
