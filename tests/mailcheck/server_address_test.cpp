// The server field read as an address: every form the field takes, and the
// ones that cannot be read.
#include <gtest/gtest.h>

#include <string>

#include "transport/server_address.h"

namespace {

TEST(ServerAddress, EachFormGivesItsHostPortAndTls)
{
    struct {
        std::string field;
        bool readable;
        std::string host;
        int port;
        bool tls;
        std::string tlsName = "";  // "": the host itself
        bool isIpv4 = false;
        bool imap = false;
    } rows[] = {
        {"pop.example.jp", true, "pop.example.jp", 110, false},
        {"", true, "", 110, false},
        // テスト.jp in code page 932: without ':' the bytes go on unchanged.
        {"\x83\x65\x83\x58\x83\x67.jp", true, "\x83\x65\x83\x58\x83\x67.jp", 110, false},
        {"pop.example.jp:1110", true, "pop.example.jp", 1110, false},
        {"pop.example.jp:995", true, "pop.example.jp", 995, true},
        {"pop.example.jp:65535", true, "pop.example.jp", 65535, false},
        {"pop3s://pop.example.jp", true, "pop.example.jp", 995, true},
        {"pop3s://pop.example.jp:9995", true, "pop.example.jp", 9995, true},
        {"POP3S://pop.gmail.com", true, "pop.gmail.com", 995, true},
        {"pop3://pop.example.jp", true, "pop.example.jp", 110, false},
        {"pop3://pop.example.jp:995", true, "pop.example.jp", 995, false},
        // One trailing dot is looked up, but neither sent nor checked.
        {"pop.gmail.com.:995", true, "pop.gmail.com.", 995, true, "pop.gmail.com"},
        {"192.0.2.7:995", true, "192.0.2.7", 995, true, "", true},
        {"192.0.2.7.:995", true, "192.0.2.7.", 995, true, "192.0.2.7", true},
        {"192.0.2.256:995", true, "192.0.2.256", 995, true},
        {"192.0.2:995", true, "192.0.2", 995, true},
        {"imaps://imap.example.jp", true, "imap.example.jp", 993, true, "", false, true},
        {"IMAPS://imap.example.jp:10993", true, "imap.example.jp", 10993, true, "", false, true},
        {"imap://192.168.1.2", true, "192.168.1.2", 143, false, "", true, true},
        {"imap://imap.example.jp:993", true, "imap.example.jp", 993, false, "", false, true},
        {"imap.example.jp:993", true, "imap.example.jp", 993, true, "", false, true},
        {"imap.example.jp:143", true, "imap.example.jp", 143, false},
        {"imapx://imap.example.jp", false, "", 0, false},
        {"pop.example.jp:0", false, "", 0, false},
        {"pop.example.jp:65536", false, "", 0, false},
        {"pop.example.jp:99999999999", false, "", 0, false},
        {"pop.example.jp:", false, "", 0, false},
        {":110", false, "", 0, false},
        {"pop3s://", false, "", 0, false},
        {"pop3s://:995", false, "", 0, false},
        {"pop.example.jp:110x", false, "", 0, false},
        {"pop.example.jp:110:1", false, "", 0, false},
        {"pop3s://pop.example.jp:995/", false, "", 0, false},
        {"pop3s://pop.example.jp/", false, "", 0, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.field);
        ServerAddress address;
        ASSERT_EQ(ParseServerAddress(row.field.c_str(), &address), row.readable ? 1 : 0);
        if (!row.readable)
            continue;
        EXPECT_EQ(std::string(address.host), row.host);
        EXPECT_EQ(address.port, row.port);
        EXPECT_EQ(address.tls != 0, row.tls);
        EXPECT_EQ(std::string(address.tlsName), row.tlsName.empty() ? row.host : row.tlsName);
        EXPECT_EQ(address.isIpv4 != 0, row.isIpv4);
        EXPECT_EQ(address.protocol, row.imap ? PROTOCOL_IMAP : PROTOCOL_POP3);
    }
}

}  // namespace
