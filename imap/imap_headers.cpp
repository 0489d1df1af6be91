// The IMAP side of the notice's headers: INBOX opened read-only, the new
// unread messages found by UID, and their From and Subject fetched with
// BODY.PEEK, so that nothing the user has not read is marked as read.
#include <string.h>

#include "imap/imap_headers.h"

#include "notice/header_reader.h"
#include "notice/summary_exchange.h"

// "UID FETCH" and its item, around the UIDs.
#define FETCH_ITEM " (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])"

// The headers received for the UIDs a scan kept.
struct FetchedHeaders {
    const UidScan *scan;
    MailSummary *summary;
    int got[SUMMARY_MESSAGES];
};

// Appends the decimal digits of value to text of capacity bytes at *length,
// or nothing when they do not fit.
static void AppendNumber(char *text, size_t capacity, size_t *length, unsigned int value)
{
    char digits[11];
    size_t count = WriteDecimal(digits, value);
    if (*length + count < capacity) {
        memcpy(text + *length, digits, count);
        *length += count;
    }
    text[*length] = 0;
}

// Whether the line of length bytes is untagged SEARCH data, in any case.
static int IsSearchLine(const char *line, int length)
{
    static const char head[] = "* SEARCH";
    int headLength = (int)sizeof head - 1;
    if (length <= headLength)
        return 0;
    for (int i = 0; i < headLength; i++) {
        char c = line[i];
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
        if (c != head[i])
            return 0;
    }
    return line[headLength] == ' ' || line[headLength] == '\r';
}

// Reads a SEARCH line of any length through the scan, a buffer at a time.
// Returns 0 when the line did not come whole in time.
static int ScanSearchLine(CheckRun *run, UidScan *scan, int length)
{
    ScanUids(scan, run->reader.buffer + 8, (size_t)length - 8);
    while (run->reader.skipLine) {
        length = ReceiveLinePart(&run->reader);
        if (length == 0 || run->connection.expired)
            return 0;
        ScanUids(scan, run->reader.buffer, (size_t)length);
    }
    if (run->reader.buffer[length - 1] != '\n')
        return 0;
    EndUidScan(scan);
    return 1;
}

// Keeps the header of one FETCH response, when it is for a UID asked for.
static void TakeFetched(FetchedHeaders *fetched, const char *data, size_t length)
{
    unsigned int uid;
    const char *header;
    size_t headerLength;
    if (!ReadFetchedHeader(data, length, &uid, &header, &headerLength))
        return;
    for (int i = 0; i < fetched->scan->kept; i++) {
        if (fetched->scan->top[i] == uid && !fetched->got[i]) {
            DecodeSummaryEntry(fetched->summary, i, header, headerLength);
            fetched->got[i] = 1;
        }
    }
}

// Reads the responses to the last command until its tagged end: SEARCH
// data goes through scan, FETCH data to fetched; other untagged data is
// passed over, as anywhere else.
static ImapVerdict AwaitData(CheckRun *run, ImapState *imap, UidScan *scan, FetchedHeaders *fetched)
{
    for (;;) {
        int length = ReceiveInTime(run);
        if (length == 0)
            return VERDICT_SILENT;
        if (scan != NULL && IsSearchLine(run->reader.buffer, length)) {
            if (!ScanSearchLine(run, scan, length))
                return VERDICT_SILENT;
            continue;
        }
        ImapResponse response;
        ImapReceived received = ReadImapResponse(&run->reader, length, &response);
        if (run->connection.expired || received == IMAP_NOTHING)
            return VERDICT_SILENT;
        if (received == IMAP_BROKEN || response.kind == IMAP_CONTINUATION)
            return VERDICT_FAULT;
        if (response.kind == IMAP_UNTAGGED) {
            if (response.condition == IMAP_BYE)
                return VERDICT_BYE;
            if (fetched != NULL && response.condition == IMAP_DATA)
                TakeFetched(fetched, run->reader.buffer, (size_t)(response.rest.end - run->reader.buffer));
            continue;
        }
        if (response.tagLength != (int)strlen(imap->tag) ||
            memcmp(response.tag, imap->tag, (size_t)response.tagLength) != 0)
            return VERDICT_FAULT;
        return response.condition == IMAP_OK ? VERDICT_OK : VERDICT_NO;
    }
}

// Finds the new unread messages: those from the last UIDNEXT on, or every
// unread one on the first check. "n:*" always takes in the highest UID,
// even one below n, so the scan keeps only UIDs of at least n.
static ImapVerdict SearchNewMail(CheckRun *run, ImapState *imap, const NoticeRequest *request, UidScan *scan)
{
    char verb[64] = "UID SEARCH UNSEEN";
    unsigned int since = request->firstCheck ? 0 : (unsigned int)request->sinceUid;
    StartUidScan(scan, since);
    if (since != 0) {
        size_t length = strlen("UID SEARCH UID ");
        memcpy(verb, "UID SEARCH UID ", length + 1);
        AppendNumber(verb, sizeof verb, &length, since);
        memcpy(verb + length, ":* UNSEEN", sizeof ":* UNSEEN");
    }
    SendImapCommand(run, imap, verb);
    return AwaitData(run, imap, scan, NULL);
}

// Fetches the From and Subject of the UIDs the scan kept, peeking only.
static ImapVerdict FetchHeaders(CheckRun *run, ImapState *imap, const UidScan *scan, MailSummary *summary)
{
    char verb[96] = "UID FETCH ";
    size_t length = strlen(verb);
    for (int i = 0; i < scan->kept; i++) {
        if (i > 0)
            verb[length++] = ',';
        AppendNumber(verb, sizeof verb, &length, scan->top[i]);
    }
    memcpy(verb + length, FETCH_ITEM, sizeof FETCH_ITEM);
    FetchedHeaders fetched;
    memset(&fetched, 0, sizeof fetched);
    fetched.scan = scan;
    fetched.summary = summary;
    SendImapCommand(run, imap, verb);
    ImapVerdict verdict = AwaitData(run, imap, NULL, &fetched);
    if (verdict != VERDICT_OK)
        return verdict;
    // Newest first, without the messages that went before their FETCH.
    for (int i = 0; i < scan->kept; i++) {
        if (!fetched.got[i])
            continue;
        if (summary->listed != i) {
            memcpy(summary->sender[summary->listed], summary->sender[i], sizeof summary->sender[i]);
            memcpy(summary->subject[summary->listed], summary->subject[i], sizeof summary->subject[i]);
        }
        summary->listed++;
    }
    summary->newCount = scan->found;
    if (summary->listed > 0)
        summary->outcome = SUMMARY_LISTED;
    return verdict;
}

// EXAMINE, SEARCH and FETCH when the window wants the headers; the summary
// goes to the window whatever came of them.
int FetchImapSummary(CheckRun *run, ImapState *imap)
{
    NoticeRequest request;
    if (!SummaryWanted(run, &request))
        return 1;
    MailSummary summary;
    StartSummary(&summary);
    UidScan scan;
    ImapVerdict verdict = ImapCommand(run, imap, "EXAMINE INBOX", 0);
    if (verdict == VERDICT_OK)
        verdict = SearchNewMail(run, imap, &request, &scan);
    // A SEARCH answered in a form not asked for (ESEARCH), or not at all,
    // says nothing of the new mail: the notice gives the count.
    if (verdict == VERDICT_OK && !scan.answered) {
        summary.outcome = SUMMARY_FAILED;
    } else if (verdict == VERDICT_OK && scan.found == 0) {
        summary.outcome = SUMMARY_NONE_NEW;
    } else if (verdict == VERDICT_OK) {
        verdict = FetchHeaders(run, imap, &scan, &summary);
    }
    SendSummary(run, &summary);
    return verdict == VERDICT_OK || verdict == VERDICT_NO;
}
