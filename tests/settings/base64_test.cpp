// The password codec: irregular stored texts, capacity limits, round trips.
#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <string>

#include "settings/base64.h"

namespace {

struct DecodeRow {
    const char *name;
    std::string stored;
    std::string decoded;  // the bytes before the NUL
};

const DecodeRow decodeRows[] = {
    {"empty", "", ""},
    {"plain group", "QUJD", "ABC"},
    {"CR LF inside is skipped", "QU\r\nJ\nD\r", "ABC"},
    {"CR LF before the first character counts as 0", std::string("\r\nQUJD"),
     std::string("\x01\x05\x09\x0c", 4)},
    {"two pads", "QQ==", "A"},
    {"one pad", "QUI=", "AB"},
    {"no pads", "QQ", "A"},
    {"ends early after three", "QUJ", "AB@"},
    {"pad stops everything after it", "QUJD=QUJD", "ABC"},
    {"pad first", "=QUJD", ""},
    {"one-character group", "Q", "@"},
    {"one-character group after a whole one", "QUJDQ=", "ABC@"},
    {"non-alphabet character is 0", "*UJD", "\x01" "BC"},
    {"high byte is 0", "\xffUJD", "\x01" "BC"},
    {"high bytes only", "\x80\x81\xfe\xff", std::string()},
};

TEST(Base64, DecodesIrregularStoredTexts)
{
    for (const DecodeRow &row : decodeRows) {
        char dest[64];
        memset(dest, 0x5A, sizeof dest);
        DecodeBase64(row.stored.c_str(), dest, sizeof dest);
        EXPECT_EQ(std::string(dest), row.decoded) << row.name;
    }
}

TEST(Base64, EncodesStandardPaddedText)
{
    const struct {
        std::string plain, encoded;
    } rows[] = {
        {"", ""},       {"A", "QQ=="},     {"AB", "QUI="},     {"ABC", "QUJD"},
        {"\xff\xfe", "//4="}, {"pass word", "cGFzcyB3b3Jk"},
        {"\x83\x70\x83\x58\x95\x5c", "g3CDWJVc"},  // パス表 in code page 932
    };
    for (const auto &row : rows) {
        char dest[64];
        EncodeBase64(row.plain.c_str(), dest);
        EXPECT_EQ(std::string(dest), row.encoded) << row.plain;
    }
}

TEST(Base64, DecoderNeverWritesPastItsCapacity)
{
    const char *stored = "QUJDREVGR0hJSktM";  // ABCDEFGHIJKL
    for (size_t capacity = 1; capacity <= 14; capacity++) {
        char dest[32];
        memset(dest, 0x5A, sizeof dest);
        DecodeBase64(stored, dest, capacity);
        std::string expected = std::string("ABCDEFGHIJKL").substr(0, capacity - 1);
        EXPECT_EQ(std::string(dest), expected) << "capacity " << capacity;
        for (size_t i = capacity; i < sizeof dest; i++)
            ASSERT_EQ(dest[i], 0x5A) << "guard byte " << i << " at capacity " << capacity;
    }
}

TEST(Base64, RandomPasswordsComeBackExactly)
{
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byteValue(1, 255);
    for (int round = 0; round < 2000; round++) {
        size_t length = 1 + round % 255;
        if (round < 4)
            length = round == 3 ? 255 : round + 1;
        std::string plain;
        for (size_t i = 0; i < length; i++)
            plain += (char)byteValue(random);

        char encoded[1024];
        EncodeBase64(plain.c_str(), encoded);
        ASSERT_EQ(strlen(encoded), (length + 2) / 3 * 4);

        char decoded[256 + 8];
        memset(decoded, 0x5A, sizeof decoded);
        DecodeBase64(encoded, decoded, 256);
        ASSERT_EQ(std::string(decoded), plain) << "length " << length;
        for (size_t i = 256; i < sizeof decoded; i++)
            ASSERT_EQ(decoded[i], 0x5A) << "guard byte " << i;
    }
}

}  // namespace
