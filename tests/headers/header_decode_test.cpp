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
