// Fuzz target for the readers of the notice's headers (scripts/fuzz
// header_reader): a SEARCH line streamed a buffer at a time, FETCH
// responses with their literals, and TOP replies, all through the real
// reply reader. The first byte picks the reader; the rest are the server's
// bytes, cut into receives as the reply reader's own target cuts them.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "notice/header_reader.h"
#include "transport/line_reader.h"

namespace {

struct Server {
    FuzzedDataProvider *input;
};

// One receive: a short piece, a long run of one byte, or the end.
int FuzzReceive(void *context, char *buffer, int capacity)
{
    FuzzedDataProvider *input = ((Server *)context)->input;
    if (input->remaining_bytes() == 0)
        return 0;
    uint8_t control = input->ConsumeIntegral<uint8_t>();
    std::string piece;
    if (control < 200)
        piece = input->ConsumeBytesAsString(control % 48 + 1);
    else if (control < 250)
        piece.assign((size_t)(control - 199) * 2048, (char)input->ConsumeIntegral<uint8_t>());
    if (piece.empty())
        return 0;
    if ((int)piece.size() > capacity)
        piece.resize((size_t)capacity);
    memcpy(buffer, piece.data(), piece.size());
    return (int)piece.size();
}

void FuzzSend(void *, const char *, int)
{
}

void Require(bool condition)
{
    if (!condition)
        abort();
}

// The count of a literal "{n}" CR LF that ends the line, or -1.
long LiteralAtEnd(const char *line, int length)
{
    if (length < 5 || line[length - 1] != '\n' || line[length - 2] != '\r' || line[length - 3] != '}')
        return -1;
    int at = length - 4;
    while (at > 0 && line[at] >= '0' && line[at] <= '9')
        at--;
    return line[at] == '{' && length - 4 - at <= 6 ? atol(line + at + 1) : -1;
}

ReplyReader reader;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    int which = input.ConsumeIntegral<uint8_t>() % 3;
    unsigned int since = input.ConsumeIntegral<uint8_t>();
    Server server = {&input};
    ByteStream stream = {FuzzReceive, FuzzSend, &server};
    StartReplies(&reader, &stream);

    HeaderKeep keep;
    StartHeaderKeep(&keep);
    UidScan scan;
    StartUidScan(&scan, since);
    for (int replies = 0; replies < 64; replies++) {
        int length = ReceiveReply(&reader);
        if (length == 0)
            break;
        if (which == 0) {
            if (KeepTopLine(&keep, reader.buffer, (size_t)length))
                break;
            Require(keep.length <= HEADER_KEEP_SIZE);
        } else if (which == 1) {
            long count = LiteralAtEnd(reader.buffer, length);
            if (count >= 0) {
                // An even count keeps half the literal and passes over the rest.
                length = ExtendReply(&reader, count, (int)(count % 2 ? count : count / 2));
                if (length == 0)
                    break;
            }
            unsigned int uid;
            const char *header;
            size_t headerLength;
            if (ReadFetchedHeader(reader.buffer, (size_t)length, &uid, &header, &headerLength))
                Require(header >= reader.buffer && header + headerLength <= reader.buffer + length);
        } else {
            ScanUids(&scan, reader.buffer, (size_t)length);
            while (reader.skipLine && (length = ReceiveLinePart(&reader)) > 0)
                ScanUids(&scan, reader.buffer, (size_t)length);
            EndUidScan(&scan);
            StartUidScan(&scan, scan.kept > 0 ? scan.top[0] : since);
        }
        // The highest kept come highest first, none below since.
        Require(scan.kept >= 0 && scan.kept <= SUMMARY_MESSAGES && scan.found >= scan.kept);
        for (int i = 0; i < scan.kept; i++)
            Require(scan.top[i] >= scan.since && (i == 0 || scan.top[i - 1] > scan.top[i]));
    }
    return 0;
}
