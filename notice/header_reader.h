// The readers behind the headers of the newest messages: UIDs streamed out
// of a SEARCH line of any length, the header in a FETCH response, and the
// From and Subject lines of a POP3 TOP reply. Plain bytes in, no sockets.
#ifndef TOLVARAN_HEADER_READER_H
#define TOLVARAN_HEADER_READER_H

#include <stddef.h>

#include "checkrun/check_limits.h"

// Header bytes kept of one message: From and Subject fit in far less.
#define HEADER_KEEP_SIZE 4096

// The highest UIDs of a SEARCH answer that are at least since, read in
// pieces: a number may be cut between two pieces.
struct UidScan {
    unsigned int since;
    unsigned int top[SUMMARY_MESSAGES];  // the highest kept, highest first
    int kept;
    int found;  // every UID at least since
    int answered;  // a SEARCH line has been read whole
    unsigned long long number;
    int digits;  // of the number being read; -1 inside a word that is no number
};

void StartUidScan(UidScan *scan, unsigned int since);
// Takes the next piece of the numbers after "SEARCH".
void ScanUids(UidScan *scan, const char *bytes, size_t length);
// The line has ended: a number cut short by it still counts.
void EndUidScan(UidScan *scan);

// In an untagged "n FETCH (...)" response of length bytes (its literals
// inside), finds the UID and the header section's bytes. Returns 0 when the
// response is no FETCH or lacks either.
int ReadFetchedHeader(const char *data, size_t length, unsigned int *uid, const char **header,
                      size_t *headerLength);

// The From and Subject lines of a header, with the lines that continue
// them, up to HEADER_KEEP_SIZE bytes.
struct HeaderKeep {
    char bytes[HEADER_KEEP_SIZE];
    size_t length;
    int keeping;     // the last field line was one kept
    int headerDone;  // the blank line that ends the header has passed
};

void StartHeaderKeep(HeaderKeep *keep);
// Takes one line of a POP3 multi-line reply (CR LF included); returns 1
// when it is the "." that ends the reply. Dot-stuffing is undone.
int KeepTopLine(HeaderKeep *keep, const char *line, size_t length);

#endif
