// The POP3 side of the notice's headers: UIDL tells the new messages from
// those of the last check, and TOP n 0 gives the header of the newest ones.
// Nothing is retrieved or deleted.
#include "pop3/pop3_headers.h"

#include <stdlib.h>
#include <string.h>

#include "notice/header_reader.h"
#include "notice/summary_exchange.h"

// The UIDs remembered from one check to the next, as hashes: those of the
// highest-numbered messages, where new mail lands.
#define UID_MEMORY 4096

// What the last UIDL listed, sorted; used by one check at a time, which
// the busy flag makes sure of.
static unsigned long long knownUids[UID_MEMORY];
static int knownCount;
static int haveKnownUids;
static unsigned long long listedUids[UID_MEMORY];
static volatile LONG uidsBusy;

// The new messages of one check: how many, and the numbers of the newest,
// highest first.
struct NewMessages {
    int count;
    int newest[SUMMARY_MESSAGES];
    int kept;
};

// Sends "verb" with the number and CR LF, and judges the reply by its
// first byte: 1 for "+", 0 for a refusal, -1 when nothing came in time.
static int Pop3Command(CheckRun *run, const char *verb, int number)
{
    size_t length = 0;
    char digits[12];
    size_t count = 0;
    AppendCommand(run->command, &length, verb, strlen(verb));
    if (number > 0) {
        do {
            digits[count++] = (char)('0' + number % 10);
            number /= 10;
        } while (number != 0);
        while (count > 0)
            AppendCommand(run->command, &length, &digits[--count], 1);
        AppendCommand(run->command, &length, " 0", 2);
    }
    AppendCommand(run->command, &length, "\r\n", 2);
    SendCommand(run);
    if (ReceiveInTime(run) == 0)
        return -1;
    return run->reader.buffer[0] == '+' ? 1 : 0;
}

// FNV-1a over a UID's bytes.
static unsigned long long HashUid(const char *uid, size_t length)
{
    unsigned long long hash = 14695981039346656037ull;
    for (size_t i = 0; i < length; i++) {
        hash ^= (unsigned char)uid[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

// Orders hashes for qsort and bsearch.
static int CompareHashes(const void *a, const void *b)
{
    unsigned long long x = *(const unsigned long long *)a, y = *(const unsigned long long *)b;
    return x < y ? -1 : x > y;
}

// Notes message number as new; the newest are kept, highest first, as the
// listing goes up.
static void NoteNew(NewMessages *found, int number)
{
    found->count++;
    int kept = found->kept < SUMMARY_MESSAGES ? found->kept + 1 : SUMMARY_MESSAGES;
    memmove(found->newest + 1, found->newest, sizeof found->newest[0] * (size_t)(kept - 1));
    found->newest[0] = number;
    found->kept = kept;
}

// Reads a UIDL listing ("n uid" lines up to "."). The messages among the
// highest UID_MEMORY whose UID the last listing lacked are new; all are on
// the first. Returns 0 when the listing did not come whole in time.
static int ReadUidListing(CheckRun *run, int count, NewMessages *found)
{
    int listed = 0;
    // Below the lowest count, "count - UID_MEMORY" would wrap round.
    if (count < 0)
        count = 0;
    for (;;) {
        int length = ReceiveInTime(run);
        if (length == 0)
            return 0;
        const char *line = run->reader.buffer;
        if (line[0] == '.' && (length == 1 || line[1] == '\r' || line[1] == '\n'))
            break;
        char *end;
        long number = strtol(line, &end, 10);
        if (end == line || *end != ' ' || number <= 0 || number > count || number <= count - UID_MEMORY)
            continue;
        const char *uid = end + 1;
        size_t uidLength = 0;
        while (uid + uidLength < line + length && (unsigned char)uid[uidLength] > ' ')
            uidLength++;
        unsigned long long hash = HashUid(uid, uidLength);
        if (!haveKnownUids || bsearch(&hash, knownUids, (size_t)knownCount, sizeof hash, CompareHashes) == NULL)
            NoteNew(found, (int)number);
        if (listed < UID_MEMORY)
            listedUids[listed++] = hash;
    }
    qsort(listedUids, (size_t)listed, sizeof listedUids[0], CompareHashes);
    memcpy(knownUids, listedUids, sizeof listedUids[0] * (size_t)listed);
    knownCount = listed;
    haveKnownUids = 1;
    return 1;
}

// Finds the new messages: by UIDL where the server has it, else the
// messages above the count of the last check. Returns 0 when the server
// went quiet.
static int FindNewMessages(CheckRun *run, int count, const NoticeRequest *request, NewMessages *found)
{
    memset(found, 0, sizeof *found);
    int answer = Pop3Command(run, "UIDL", 0);
    if (answer < 0)
        return 0;
    if (answer > 0) {
        // One check at a time uses the remembered UIDs; another would find
        // them busy and give the count only.
        if (InterlockedExchange(&uidsBusy, 1) != 0)
            return 0;
        int read = ReadUidListing(run, count, found);
        InterlockedExchange(&uidsBusy, 0);
        return read;
    }
    // From the top down: the cost does not grow with the count.
    int oldCount = request->oldCount < 0 ? 0 : request->oldCount;
    if (count > oldCount) {
        found->count = count - oldCount;
        found->kept = found->count < SUMMARY_MESSAGES ? found->count : SUMMARY_MESSAGES;
        for (int i = 0; i < found->kept; i++)
            found->newest[i] = count - i;
    }
    return 1;
}

// TOP n 0 for one message, its From and Subject decoded into slot.
// Returns 1 when they came, 0 at a refusal and -1 when nothing came in time.
static int FetchTop(CheckRun *run, int number, MailSummary *summary, int slot)
{
    int answer = Pop3Command(run, "TOP ", number);
    if (answer <= 0)
        return answer;
    HeaderKeep keep;
    StartHeaderKeep(&keep);
    for (;;) {
        int length = ReceiveInTime(run);
        if (length == 0)
            return -1;
        if (KeepTopLine(&keep, run->reader.buffer, (size_t)length))
            break;
    }
    DecodeSummaryEntry(summary, slot, keep.bytes, keep.length);
    return 1;
}

// UIDL and TOP when the window wants the headers; the summary goes to the
// window whatever came of them. Without TOP the notice gives the count.
void FetchPop3Summary(CheckRun *run, int count)
{
    NoticeRequest request;
    if (!SummaryWanted(run, &request))
        return;
    MailSummary summary;
    StartSummary(&summary);
    NewMessages found;
    if (FindNewMessages(run, count, &request, &found) && found.kept > 0) {
        int answer = 1;
        for (int i = 0; i < found.kept && answer > 0; i++)
            answer = FetchTop(run, found.newest[i], &summary, i);
        if (answer > 0) {
            summary.listed = found.kept;
            summary.newCount = found.count;
            summary.outcome = SUMMARY_LISTED;
        }
    }
    SendSummary(run, &summary);
}
