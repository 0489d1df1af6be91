// The report texts as bytes, and the STAT count reader at the edge of its
// buffer.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "checkrun/check_texts.h"
#include "checkrun/check_messages.h"
#include "mailcheck/mailcheck.h"
#include "pop3/stat_count.h"
#include "test_support.h"

namespace {

TEST(CheckTexts, EachDecodesFromCodePage932ToItsJapaneseText)
{
    struct {
        const char *bytes;
        const char *utf8;
    } texts[] = {
        {textNetworkUnusable, " ネットワークが使えません "},
        {textServerNotFound, " サーバ名が見つかりません "},
        {textCannotConnect, " サーバに接続できません "},
        {textWrongUser, " ユーザ名が違います "},
        {textWrongPassword, " パスワードが違います "},
        {textCommandFailed, " コマンドが実行できません "},
        {textServerBusy, " サーバが一時的に使えません "},
        {textNoMail, " 新着メールはありません "},
        {textNoAnswer, " サーバから応答がありません "},
        {textCertificateRejected, " サーバの証明書を確認できません "},
        {textTlsFailed, " 暗号化通信を開始できません "},
    };
    for (const auto &text : texts) {
        SCOPED_TRACE(text.utf8);
        std::string bytes = text.bytes;
        EXPECT_EQ(Cp932ToUtf8(bytes), text.utf8);
        // Single-byte spaces at both ends, and room to spare in the tooltip.
        EXPECT_EQ(bytes.front(), ' ');
        EXPECT_EQ(bytes.back(), ' ');
        EXPECT_LE(bytes.size(), 63u);
    }
}

TEST(CheckTexts, NewMailTextFormatsTheCountLikePercentD)
{
    struct {
        int count;
        const char *utf8;
    } cases[] = {
        {1, " 1 件の新着メールがあります "},
        {12, " 12 件の新着メールがあります "},
        {-5, " -5 件の新着メールがあります "},
        {2147483647, " 2147483647 件の新着メールがあります "},
        {(int)0x80000000u, " -2147483648 件の新着メールがあります "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.count);
        char text[256];
        ASSERT_EQ(FormatNewMailText(text, sizeof text, c.count), 1);
        EXPECT_EQ(Cp932ToUtf8(text), c.utf8);
    }
    char text[64];
    ASSERT_EQ(FormatNewMailText(text, sizeof text, (int)0x80000000u), 1);
    EXPECT_EQ(strlen(text), 38u);  // the longest a report can be

    // Too small a buffer is left untouched rather than overrun.
    char small[38];
    memset(small, 'z', sizeof small);
    EXPECT_EQ(FormatNewMailText(small, sizeof small, (int)0x80000000u), 0);
    EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, 'z'));
}

// The reply is placed so that its last byte is the last readable byte of a
// page: any read past its length faults.
int CountAtPageEnd(const std::string &reply)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    DWORD page = info.dwPageSize;
    char *block = (char *)VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    DWORD old;
    VirtualProtect(block + page, page, PAGE_NOACCESS, &old);
    char *start = block + page - reply.size();
    memcpy(start, reply.data(), reply.size());
    int count = ParseStatCount(start, (int)reply.size());
    VirtualFree(block, 0, MEM_RELEASE);
    return count;
}

TEST(StatCount, ReadsOnlyWithinTheReplyItIsGiven)
{
    struct {
        const char *name;
        std::string reply;
        int count;
    } cases[] = {
        {"digits up to the end", "+OK 12", 12},
        {"indicator only", "+OK", 0},
        {"trailing spaces", "+OK   ", 0},
        {"sign at the end", "+OK -", 0},
        {"saturates", "+OK 99999999999999999999", 2147483647},
        {"saturates negative", "+OK -99999999999999999999", (int)0x80000000u},
        {"CR LF after the count", "+OK 3\r\n", 3},
        {"leading spaces before the indicator", "  +OK 4 5", 4},
        {"form feed before the digits", "+OK \f6", 6},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CountAtPageEnd(c.reply), c.count);
    }
}

}  // namespace
