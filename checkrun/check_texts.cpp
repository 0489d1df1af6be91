// The tooltip texts of a check run: code page 932 bytes, a single-byte space
// at both ends of each.
#include "checkrun/check_texts.h"

#include <string.h>

// " ネットワークが使えません "
const char textNetworkUnusable[] =
    " \x83\x6c\x83\x62\x83\x67\x83\x8f\x81\x5b\x83\x4e\x82\xaa\x8e\x67\x82\xa6\x82\xdc\x82\xb9\x82\xf1 ";
// " サーバ名が見つかりません "
const char textServerNotFound[] =
    " \x83\x54\x81\x5b\x83\x6f\x96\xbc\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1 ";
// " サーバに接続できません "
const char textCannotConnect[] =
    " \x83\x54\x81\x5b\x83\x6f\x82\xc9\x90\xda\x91\xb1\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1 ";
// " ユーザ名が違います "
const char textWrongUser[] =
    " \x83\x86\x81\x5b\x83\x55\x96\xbc\x82\xaa\x88\xe1\x82\xa2\x82\xdc\x82\xb7 ";
// " パスワードが違います "
const char textWrongPassword[] =
    " \x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68\x82\xaa\x88\xe1\x82\xa2\x82\xdc\x82\xb7 ";
// " コマンドが実行できません "
const char textCommandFailed[] =
    " \x83\x52\x83\x7d\x83\x93\x83\x68\x82\xaa\x8e\xc0\x8d\x73\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1 ";
// The same words, for a server that refuses for a reason of its own (a
// POP3 [SYS/PERM]: Gmail's POP not turned on): a failure whose timed
// checks go on, so that the tray recovers once the reason is gone. Its own
// array, so that the report's pointer tells it from a refused command.
const char textServerDeclined[] =
    " \x83\x52\x83\x7d\x83\x93\x83\x68\x82\xaa\x8e\xc0\x8d\x73\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1 ";
// " サーバが一時的に使えません "
const char textServerBusy[] =
    " \x83\x54\x81\x5b\x83\x6f\x82\xaa\x88\xea\x8e\x9e\x93\x49\x82\xc9\x8e\x67\x82\xa6\x82\xdc\x82\xb9\x82\xf1 ";
// " 新着メールはありません "
const char textNoMail[] =
    " \x90\x56\x92\x85\x83\x81\x81\x5b\x83\x8b\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1 ";
// " サーバから応答がありません "
const char textNoAnswer[] =
    " \x83\x54\x81\x5b\x83\x6f\x82\xa9\x82\xe7\x89\x9e\x93\x9a\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1 ";
// " サーバの証明書を確認できません "
const char textCertificateRejected[] =
    " \x83\x54\x81\x5b\x83\x6f\x82\xcc\x8f\xd8\x96\xbe\x8f\x91\x82\xf0\x8a\x6d\x94\x46\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1 ";
// " 暗号化通信を開始できません "
const char textTlsFailed[] =
    " \x88\xc3\x8d\x86\x89\xbb\x92\xca\x90\x4d\x82\xf0\x8a\x4a\x8e\x6e\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1 ";
// " 件の新着メールがあります ", the part after the count
static const char newMailSuffix[] =
    " \x8c\x8f\x82\xcc\x90\x56\x92\x85\x83\x81\x81\x5b\x83\x8b\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7 ";

// Formats the new-mail text by hand, the way " %d ..." would, so that a check
// run never touches the heap through the C library's formatter.
int FormatNewMailText(char *text, size_t capacity, int count)
{
    char digits[12];
    size_t digitCount = 0;
    // Unsigned, so that the most negative int has a magnitude too.
    unsigned int magnitude = count < 0 ? 0u - (unsigned int)count : (unsigned int)count;
    do {
        digits[digitCount++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);

    size_t length = 1 + (count < 0 ? 1 : 0) + digitCount + (sizeof newMailSuffix - 1);
    if (length + 1 > capacity)
        return 0;

    size_t at = 0;
    text[at++] = ' ';
    if (count < 0)
        text[at++] = '-';
    while (digitCount > 0)
        text[at++] = digits[--digitCount];
    memcpy(text + at, newMailSuffix, sizeof newMailSuffix);
    return 1;
}

// Whether a failure's text is one of a failure that passes.
int FailurePasses(const char *text)
{
    return text != NULL && (text == textServerDeclined || strcmp(text, textServerBusy) == 0);
}
