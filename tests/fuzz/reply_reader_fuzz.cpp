// Fuzz target for the POP3 reply reader and the STAT count, built natively
// with clang, libFuzzer and the address and undefined-behaviour sanitizers
// (scripts/fuzz). The fuzzer's bytes say how the server's bytes are cut into
// receives, so splits, line feeds in odd places and lines longer than the
// buffer are all reached; every reply is checked against the bytes that
// were delivered.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "transport/line_reader.h"
#include "pop3/stat_count.h"

namespace {

// The server: the fuzzer's bytes, handed out one receive at a time.
struct Server {
    FuzzedDataProvider *input;
    std::string delivered;
};

// One receive: a control byte picks a short piece of the input, a long run
// of one filler byte (to overflow the buffer), or the end of the stream.
int FuzzReceive(void *context, char *buffer, int capacity)
{
    Server *server = (Server *)context;
    FuzzedDataProvider *input = server->input;
    if (input->remaining_bytes() == 0)
        return 0;
    uint8_t control = input->ConsumeIntegral<uint8_t>();
    std::string piece;
    if (control < 200) {
        piece = input->ConsumeBytesAsString(control % 48 + 1);
    } else if (control < 250) {
        char filler = (char)input->ConsumeIntegral<uint8_t>();
        piece.assign((size_t)(control - 199) * 2048, filler);
    } else {
        return 0;
    }
    if (piece.empty())
        return 0;
    if ((int)piece.size() > capacity)
        piece.resize((size_t)capacity);
    memcpy(buffer, piece.data(), piece.size());
    server->delivered += piece;
    return (int)piece.size();
}

// Commands go nowhere.
void FuzzSend(void *, const char *, int)
{
}

void Require(bool condition)
{
    if (!condition)
        abort();
}

ReplyReader reader;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    Server server = {&input, std::string()};
    ByteStream stream = {FuzzReceive, FuzzSend, &server};
    StartReplies(&reader, &stream);

    // Where in the delivered bytes the next reply must begin.
    size_t consumed = 0;
    int skipping = 0;
    for (int replies = 0; replies < 64; replies++) {
        int length = ReceiveReply(&reader);
        if (skipping) {
            // The rest of the overflowed line was dropped, through its line feed.
            size_t lineEnd = server.delivered.find('\n', consumed);
            if (lineEnd == std::string::npos) {
                Require(length == 0);
                break;
            }
            consumed = lineEnd + 1;
            skipping = 0;
        }
        Require(length >= 0 && length <= RECEIVE_BUFFER_SIZE - 1);
        Require(reader.buffer[RECEIVE_BUFFER_SIZE - 1] == 0);
        if (length == 0)
            break;
        Require(server.delivered.compare(consumed, (size_t)length, reader.buffer, (size_t)length) == 0);
        const char *lineFeed = (const char *)memchr(reader.buffer, '\n', (size_t)length);
        if (lineFeed != NULL) {
            // A whole line: it ends at its first line feed.
            Require(lineFeed == reader.buffer + length - 1);
        } else if (length == RECEIVE_BUFFER_SIZE - 1) {
            skipping = 1;
        } else {
            // The stream ended inside the line: that is the last reply.
            Require(consumed + (size_t)length == server.delivered.size());
        }
        consumed += (size_t)length;
        ParseStatCount(reader.buffer, length);
    }
    return 0;
}
