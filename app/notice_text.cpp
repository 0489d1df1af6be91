// The new-mail notice's text in UTF-16: one line per message named, each
// "sender — subject", then how many more came; every part cut to its field.
#include "app/app.h"

#include <wchar.h>

#include "notice/mail_summary.h"

// U+2014 EM DASH between sender and subject, with a space either side.
static const WCHAR senderSubjectGap[] = L" \x2014 ";
// U+2026 HORIZONTAL ELLIPSIS: the end of a line that was cut.
#define CUT_MARK 0x2026
// "他 N 通" ("N more"): U+4ED6, a space, the count, a space, U+901A.
#define MORE_HEAD 0x4ED6
#define MORE_TAIL 0x901A

// Copies text into a field of capacity units with its NUL. Text that does
// not fit is cut at a whole character, never between the two halves of a
// surrogate pair, and ends in an ellipsis. Returns the length copied.
int CopyWideCut(WCHAR *field, int capacity, const WCHAR *text)
{
    if (capacity <= 0)
        return 0;
    int length = (int)wcslen(text);
    if (length <= capacity - 1) {
        wmemcpy(field, text, (size_t)length + 1);
        return length;
    }
    if (capacity < 2) {
        field[0] = 0;
        return 0;
    }
    int kept = capacity - 2;
    if (kept > 0 && text[kept - 1] >= 0xD800 && text[kept - 1] <= 0xDBFF)
        kept--;
    wmemcpy(field, text, (size_t)kept);
    field[kept] = CUT_MARK;
    field[kept + 1] = 0;
    return kept + 1;
}

// Converts a report's code page 932 text to UTF-16 for a field of capacity
// units, without the blanks that frame it in the tooltip.
void CountTextToWide(const char *text, WCHAR *field, int capacity)
{
    WCHAR wide[TRAY_TIP_SIZE * 4];
    int length = MultiByteToWideChar(932, 0, text, -1, wide, (int)(sizeof wide / sizeof wide[0]));
    if (length <= 0)
        wide[0] = 0;
    const WCHAR *start = wide;
    while (*start == L' ')
        start++;
    int end = (int)wcslen(start);
    while (end > 0 && start[end - 1] == L' ')
        end--;
    WCHAR trimmed[TRAY_TIP_SIZE * 4];
    wmemcpy(trimmed, start, (size_t)end);
    trimmed[end] = 0;
    CopyWideCut(field, capacity, trimmed);
}

// Writes "他 N 通" and a NUL into line, which holds at least 16 units;
// returns its length.
static int FormatMoreLine(WCHAR *line, int more)
{
    WCHAR digits[12];
    int count = 0;
    unsigned int value = more < 0 ? 0u : (unsigned int)more;
    do {
        digits[count++] = (WCHAR)(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    int at = 0;
    line[at++] = MORE_HEAD;
    line[at++] = L' ';
    while (count > 0)
        line[at++] = digits[--count];
    line[at++] = L' ';
    line[at++] = MORE_TAIL;
    line[at] = 0;
    return at;
}

// Fills text (capacity units with the NUL) with the summary's lines: each
// listed message gets an equal share, so that a long first line cannot
// crowd out the others, and the count of the rest ends the text whole.
void FormatSummaryNotice(const MailSummary *summary, WCHAR *text, int capacity)
{
    WCHAR more[16];
    int moreLength = 0;
    if (summary->newCount > summary->listed)
        moreLength = FormatMoreLine(more, summary->newCount - summary->listed);
    int listed = summary->listed < 0 ? 0 : summary->listed;
    if (listed > SUMMARY_MESSAGES)
        listed = SUMMARY_MESSAGES;
    // Room for the lines: every unit but the NUL, the line of the rest and
    // the line feeds between lines.
    int room = capacity - 1 - (moreLength > 0 ? moreLength + 1 : 0) - (listed > 0 ? listed - 1 : 0);
    int share = listed > 0 ? room / listed : 0;
    int at = 0;
    text[0] = 0;
    for (int i = 0; i < listed && share > 0; i++) {
        WCHAR line[SUMMARY_SENDER_SIZE + SUMMARY_SUBJECT_SIZE + 4];
        line[0] = 0;
        if (summary->sender[i][0] != 0) {
            wcsncat(line, summary->sender[i], SUMMARY_SENDER_SIZE - 1);
            wcscat(line, senderSubjectGap);
        }
        wcsncat(line, summary->subject[i], SUMMARY_SUBJECT_SIZE - 1);
        if (i > 0)
            text[at++] = L'\n';
        at += CopyWideCut(text + at, share + 1, line);
    }
    if (moreLength > 0 && at + moreLength + 2 <= capacity) {
        if (at > 0)
            text[at++] = L'\n';
        wmemcpy(text + at, more, (size_t)moreLength + 1);
    }
}
