// The message count in a positive STAT reply.
#ifndef TOLVARAN_STAT_COUNT_H
#define TOLVARAN_STAT_COUNT_H

// The count of a positive STAT reply of the given length: the second field
// of the reply split on single-byte spaces, read as atoi reads it and
// saturated at the int range; 0 when there is no second field.
int ParseStatCount(const char *reply, int length);

#endif
