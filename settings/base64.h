// Base64 codec through which the password is stored.
#ifndef TOLVARAN_BASE64_H
#define TOLVARAN_BASE64_H

#include <stddef.h>

// Writes the Base64 text of src and a NUL into dest (at least 4/3 of the
// source length plus 5 bytes; the store uses 1,024 for 255-byte passwords).
void EncodeBase64(const char *src, char *dest);

// The same for length bytes at src, zero bytes included; dest needs
// 4 * ((length + 2) / 3) + 1 bytes.
void EncodeBase64Bytes(const char *src, size_t length, char *dest);

// Decodes src into dest, writing at most capacity bytes including the NUL.
void DecodeBase64(const char *src, char *dest, size_t capacity);

#endif
