// The header decoder over the cases real mailers send: split ISO-2022-JP
// words, the Windows extensions, raw 8-bit text, and broken input.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "headers/header_decode.h"

namespace {

// UTF-8 text of UTF-16 output, for comparing with the intended text.
std::string Utf8(const WCHAR *text, int length)
{
    char bytes[1024];
    int count = WideCharToMultiByte(CP_UTF8, 0, text, length, bytes, sizeof bytes, NULL, NULL);
    return std::string(bytes, (size_t)(count > 0 ? count : 0));
}

TEST(HeaderDecode, EachHeaderComesOutAsItsText)
{
    // 表情😀 in GB18030, whose code page Windows has and Wine 8 lacks: there
    // each character shows as '?', and the text goes on.
    const char *gb18030 = IsValidCodePage(54936) ? "表情😀 end" : "??? end";
    struct {
        const char *what;
        const char *bytes;
        int capacity;         // WCHARs, the NUL included
        const char *text;     // the value, or the sender of a whole header
        const char *subject;  // set for a whole header
    } cases[] = {
        // "あいう": the second word begins inside い and in JIS X 0208.
        {"ISO-2022-JP B split mid-character",
         "=?ISO-2022-JP?B?GyRCJCIk?=\r\n =?iso-2022-jp?b?JCQmGyhC?=", 64, "あいう", nullptr},
        {"NEC special characters and an IBM extension",
         "=?ISO-2022-JP?B?GyRCLSEtai1AfGIbKEI=?=", 64, "①㈱㍉髙", nullptr},
        {"half-width katakana by ESC ( I and by SO/SI",
         "=?ISO-2022-JP?B?GyhJNkA2RRsoQg5DPUQP?=", 64, "ｶﾀｶﾅﾃｽﾄ", nullptr},
        {"Shift_JIS raw 8-bit, 0x5C as a second byte",
         "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x95\x5c\x8e\xa6", 64, "日本語の表示", nullptr},
        {"EUC-JP with 0x8E katakana and a JIS X 0212 character",
         "=?EUC-JP?B?tMG7+o62j6Kv?=", 64, "漢字ｶ?", nullptr},
        {"UTF-8 Q with _", "=?utf-8?q?Caf=C3=A9_au_lait?=", 64, "Café au lait", nullptr},
        {"an emoji, and a cut that keeps its surrogate pair whole",
         "=?UTF-8?B?SGkg8J+YgPCfmIA=?=", 7, "Hi 😀…", nullptr},
        {"unknown charset", "=?x-klingon?Q?Qapla=27_=FF?= next", 64, "Qapla' ? next", nullptr},
        {"bad base64", "=?UTF-8?B?44GC*44GE?= and more", 64, "=?UTF-8?B?44GC*44GE?= and more", nullptr},
        {"an unclosed escape and a half character",
         "=?ISO-2022-JP?B?GyRCJCIk?= rest", 64, "あ? rest", nullptr},
        // 滌 is the last row (0x5E) whose Shift_JIS lead byte is below 0x9F;
        // 漾 (0x5F) jumps to 0xE0.
        {"JIS rows on either side of the Shift_JIS lead-byte gap",
         "=?ISO-2022-JP?B?GyRCXn5fIRsoQg==?=", 64, "滌漾", nullptr},
        {"an unencoded ISO-2022-JP sender: JIS bytes are no address syntax",
         "From: \x1b$B<+F0Aw?.\x1b(B <noreply@example.jp>\r\n", 64, "自動送信", ""},
        {"the label ISO88591", "=?ISO88591?Q?ma=F1ana?=", 64, "mañana", nullptr},
        {"the label csUTF8", "=?csUTF8?Q?caf=C3=A9?=", 64, "café", nullptr},
        {"GB2312 through code page 936", "=?GB2312?B?1tDOxNPKvP4=?=", 64, "中文邮件", nullptr},
        {"GB18030 through code page 54936", "=?gb18030?B?se3H6ZQ5/DY=?= end", 64, gb18030, nullptr},
        {"Big5 through code page 950", "=?Big5?B?pKSk5bZspfM=?=", 64, "中文郵件", nullptr},
        {"ks_c_5601-1987 through code page 949", "=?ks_c_5601-1987?B?x9Gxub7uILjewM8=?=", 64, "한국어 메일",
         nullptr},
        {"KOI8-R through code page 20866", "=?KOI8-R?B?8NLJ18XU?=", 64, "Привет", nullptr},
        {"windows-1251", "=?windows-1251?B?z/Do4uXy?=", 64, "Привет", nullptr},
        {"ISO-8859-7 through code page 28597", "=?ISO-8859-7?B?xevr5+3p6tw=?=", 64, "Ελληνικά", nullptr},
        {"UTF-7, with +- for a plus sign", "=?UTF-7?B?K1plVm5MSXFlIGErLWI=?=", 64, "日本語 a+b", nullptr},
        {"UTF-16 with a little-endian mark, and big-endian without one",
         "=?UTF-16?B?//7lZSxnnoo=?= / =?UTF-16?B?ZeVnLIqe?=", 64, "日本語 / 日本語", nullptr},
        {"UTF-32 without a mark, beyond the BMP", "=?UTF-32?B?AABl5QAAZywAAfYA?=", 64, "日本😀", nullptr},
        {"an encoded display name in quotes",
         "Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=\n"
         "From: \"=?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?=\"\n <taro@example.jp>\n\n",
         64, "山田太郎", "会議"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        WCHAR text[65], subject[64];
        wmemset(text, 0xFFFF, 65);
        int length;
        if (c.subject == nullptr) {
            length = DecodeHeaderText(c.bytes, strlen(c.bytes), text, c.capacity);
        } else {
            ASSERT_EQ(DecodeMailSummary(c.bytes, strlen(c.bytes), text, c.capacity, subject, 64), 1);
            length = (int)wcsnlen(text, (size_t)c.capacity);
            EXPECT_EQ(Utf8(subject, (int)wcslen(subject)), c.subject);
        }
        EXPECT_EQ(Utf8(text, length), c.text);
        // NUL-terminated right after the text, and nothing written past the capacity.
        ASSERT_LT(length, c.capacity);
        EXPECT_EQ(text[length], 0);
        EXPECT_EQ(text[c.capacity], 0xFFFF);
    }
}

}  // namespace
