// Code page 932 text in fixed buffers, shared by the store, the codec, the
// dialog and everything above them.
#ifndef TOLVARAN_TEXT_H
#define TOLVARAN_TEXT_H

#include <stddef.h>

// Copies src into dest of the given capacity; a cut never splits a
// code page 932 double-byte character. Returns 1 if all of src fitted.
int CopyTextCut(char *dest, size_t capacity, const char *src);

#endif
