// The INI store against real files, through the real private-profile calls.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "settings/base64.h"
#include "settings/settings.h"
#include "test_support.h"

namespace {

const char kanji[] = "\x95\x5c";  // 表, whose second byte is the code of '\'

class IniStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = MakeScratchDirectory("ini");
        path = directory + "\\Tolvaran.ini";
        memset(&mailSettings, 0, sizeof mailSettings);
    }
    void TearDown() override
    {
        DeleteFileA(path.c_str());
        RemoveDirectoryA(directory.c_str());
    }
    void Load(const char *section) { ASSERT_EQ(LoadSettings(path.c_str(), section), 1); }
    std::string directory, path;
};

TEST(Platform, AnsiCodePageIs932)
{
    EXPECT_EQ(GetACP(), 932u);
}

TEST_F(IniStore, LoadsEveryKeyOfItsOwnSection)
{
    WriteFileBytes(path,
                   "[bob]\r\nMAIL_SERV=wrong\r\n"
                   "[alice]\r\n"
                   "MAIL_SERV=pop.example.jp\r\n"
                   "MAIL_USER=alice\r\n"
                   "MAIL_PASS=cGFzcyB3b3Jk\r\n"
                   "MAIL_APPA=C:\\Program Files\\mailer.exe\r\n"
                   "MAIL_APPP=/check \"inbox\"\r\n"
                   "MAIL_TIME=5\r\n");
    Load("alice");
    EXPECT_STREQ(mailSettings.mailbox[0].serverName, "pop.example.jp");
    EXPECT_STREQ(mailSettings.mailbox[0].userName, "alice");
    EXPECT_STREQ(mailSettings.mailbox[0].password, "pass word");
    EXPECT_STREQ(mailSettings.mailbox[0].launchProgram, "C:\\Program Files\\mailer.exe");
    EXPECT_STREQ(mailSettings.mailbox[0].launchParameters, "/check \"inbox\"");
    EXPECT_EQ(mailSettings.mailbox[0].intervalMs, 5 * 60000);
}

// The file the mailbox rows work on.
std::string mailboxFile;

// The mailboxes as the record holds them: "number server user password
// minutes label", one a line.
std::string Mailboxes()
{
    std::string listed;
    for (int i = 0; i < mailSettings.mailboxCount; i++) {
        const MailboxSettings &box = mailSettings.mailbox[i];
        listed += std::to_string(box.number) + " " + box.serverName + " " + box.userName + " " + box.password +
                  " " + std::to_string(box.intervalMs / 60000) + " " + box.label + "\n";
    }
    return listed;
}

// A file's lines, sorted: what it holds, whatever order the writes left.
std::string SortedLines(const std::string &bytes)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find("\r\n", at);
        end = end == std::string::npos ? bytes.size() : end;
        if (end > at)
            lines.push_back(bytes.substr(at, end - at));
        at = end + 2;
    }
    std::sort(lines.begin(), lines.end());
    std::string joined;
    for (const std::string &line : lines)
        joined += line + "\n";
    return joined;
}

TEST_F(IniStore, MailboxesFromTheSecondOnCarryTheirNumberInTheirKeys)
{
    // Mailboxes 1, 2 and 4 (3 is a gap), beside keys and a comment no
    // mailbox owns.
    const std::string file = "[alice]\r\n; my mailboxes\r\nMAIL_SERV=pop.one\r\nMAIL_USER=a\r\n"
                             "MAIL_PASS=MQ==\r\nMAIL_NOTIFY=2\r\nMAIL_SERV2=imaps://two\r\nMAIL_USER2=b\r\n"
                             "MAIL_PASS2=Mg==\r\nMAIL_TIME2=7\r\nMAIL_NAME2=work\r\nX_OWN=keep\r\n"
                             "MAIL_SERV4=pop.four\r\nMAIL_USER4=d\r\nMAIL_PASS4=NA==\r\nMAIL_TIME4=9\r\n";
    const std::string loaded = "1 pop.one a 1 1 \n2 imaps://two b 2 7 work\n4 pop.four d 4 9 \n";
    struct Row {
        const char *what;
        void (*act)();
        std::string mailboxes;  // after the step, and after loading the file again
        std::string lines;      // the file's lines, sorted
    } rows[] = {
        {"read past the gap", [] {}, loaded, SortedLines(file)},
        {"mailbox 4 saved under its own number",
         [] {
             strcpy(mailSettings.mailbox[2].userName, "dd");
             mailSettings.mailbox[2].intervalMs = 3 * 60000;
             SaveSettings(mailboxFile.c_str(), "alice", 2);
         },
         "1 pop.one a 1 1 \n2 imaps://two b 2 7 work\n4 pop.four dd 4 3 \n",
         SortedLines("[alice]\r\n; my mailboxes\r\nMAIL_SERV=pop.one\r\nMAIL_USER=a\r\nMAIL_PASS=MQ==\r\n"
                     "MAIL_NOTIFY=2\r\nMAIL_SERV2=imaps://two\r\nMAIL_USER2=b\r\nMAIL_PASS2=Mg==\r\n"
                     "MAIL_TIME2=7\r\nMAIL_NAME2=work\r\nX_OWN=keep\r\nMAIL_SERV4=pop.four\r\nMAIL_USER4=dd\r\n"
                     "MAIL_PASS4=NA==\r\nMAIL_TIME4=3\r\nMAIL_APPA4=\r\nMAIL_APPP4=\r\n")},
        {"mailbox 2 removed: 4 moves down to 3, the rest of the file stays",
         [] { EXPECT_EQ(RemoveMailbox(mailboxFile.c_str(), "alice", 1), 1); },
         "1 pop.one a 1 1 \n3 pop.four d 4 9 \n",
         SortedLines("[alice]\r\n; my mailboxes\r\nMAIL_SERV=pop.one\r\nMAIL_USER=a\r\nMAIL_PASS=MQ==\r\n"
                     "MAIL_NOTIFY=2\r\nX_OWN=keep\r\nMAIL_SERV3=pop.four\r\nMAIL_USER3=d\r\n"
                     "MAIL_PASS3=NA==\r\nMAIL_TIME3=9\r\n")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        WriteFileBytes(path, file);
        mailboxFile = path;
        Load("alice");
        ASSERT_EQ(Mailboxes(), loaded);
        row.act();
        EXPECT_EQ(Mailboxes(), row.mailboxes);
        EXPECT_EQ(SortedLines(ReadFileBytes(path)), row.lines);
        Load("alice");
        EXPECT_EQ(Mailboxes(), row.mailboxes);
    }
    EXPECT_EQ(FreeMailboxNumber(), 2);
}

TEST_F(IniStore, MissingFileGivesEmptySettingsAndOneMinute)
{
    strcpy(mailSettings.mailbox[0].serverName, "stale");
    Load("alice");
    EXPECT_STREQ(mailSettings.mailbox[0].serverName, "");
    EXPECT_STREQ(mailSettings.mailbox[0].userName, "");
    EXPECT_STREQ(mailSettings.mailbox[0].password, "");
    EXPECT_STREQ(mailSettings.mailbox[0].launchProgram, "");
    EXPECT_STREQ(mailSettings.mailbox[0].launchParameters, "");
    EXPECT_EQ(mailSettings.mailbox[0].intervalMs, 60000);
    EXPECT_FALSE(FileExists(path)) << "loading must not create the file";
}

TEST_F(IniStore, MinutesConvertLikeAtoiWithAFloorAndNoOverflow)
{
    const struct {
        const char *stored;
        int intervalMs;
    } rows[] = {
        {"5", 5 * 60000},           {"0", 60000},
        {"-3", 60000},              {"abc", 60000},
        {"", 60000},                {"2x", 2 * 60000},
        {" 7", 7 * 60000},          {"+4", 4 * 60000},
        {"35791", 35791 * 60000},   {"35792", 35791 * 60000},
        {"99999999999", 35791 * 60000}, {"-99999999999", 60000},
    };
    for (const auto &row : rows) {
        WriteFileBytes(path, std::string("[alice]\r\nMAIL_TIME=") + row.stored + "\r\n");
        Load("alice");
        EXPECT_EQ(mailSettings.mailbox[0].intervalMs, row.intervalMs) << "MAIL_TIME=" << row.stored;
    }
}

TEST_F(IniStore, MailNotifyAndImapIdleZeroAloneTurnThemOffAndSavingKeepsThem)
{
    const struct {
        const char *stored;  // nullptr: neither key
        int on;
        int notify = -1;  // MAIL_NOTIFY's reading when it is not on's
    } rows[] = {{nullptr, 1}, {"0", 0}, {"00", 0}, {"1", 1}, {"", 1}, {"off", 1}, {"2", 1, 2}, {"3", 1}};
    for (const auto &row : rows) {
        std::string key = row.stored ? std::string("MAIL_NOTIFY=") + row.stored + "\r\nIMAP_IDLE=" + row.stored +
                                           "\r\n"
                                     : "";
        WriteFileBytes(path, "[alice]\r\n" + key);
        Load("alice");
        EXPECT_EQ(mailSettings.notifyNewMail, row.notify < 0 ? row.on : row.notify) << key;
        EXPECT_EQ(mailSettings.imapIdle, row.on) << key;
        SaveSettings(path.c_str(), "alice", 0);
        EXPECT_NE(ReadFileBytes(path).find("[alice]\r\n" + key), std::string::npos) << key;
    }
}

TEST_F(IniStore, SaveWritesTheSixKeysInOrder)
{
    FillSettings("pop.example.jp", "alice", "pass word", "C:\\mail\\mailer.exe", "-n", 90000);
    ASSERT_EQ(SaveSettings(path.c_str(), "alice", 0), 1);
    EXPECT_EQ(ReadFileBytes(path),
              "[alice]\r\n"
              "MAIL_SERV=pop.example.jp\r\n"
              "MAIL_USER=alice\r\n"
              "MAIL_PASS=cGFzcyB3b3Jk\r\n"
              "MAIL_APPA=C:\\mail\\mailer.exe\r\n"
              "MAIL_APPP=-n\r\n"
              "MAIL_TIME=1\r\n");
}

TEST_F(IniStore, SaveSaysWhenTheFileCannotBeWrittenAndKeepsTheRecord)
{
    const std::string stored = "[alice]\r\nMAIL_SERV=old\r\n";
    const std::string missing = directory + "\\missing\\Tolvaran.ini";
    const struct {
        const char *how;
        std::string file;
        bool immutable;
        int saved;
    } rows[] = {
        {"writable file", path, false, 1},
        {"read-only file", path, true, 0},
        {"missing directory", missing, false, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.how);
        WriteFileBytes(path, stored);
        ImmutableFile guard(path, row.immutable);
        ASSERT_EQ(guard.set, row.immutable) << "chattr could not make the file read-only";
        FillSettings("new.example.jp", "alice", "pw", "", "", 120000);
        MailSettings snapshot = mailSettings;
        EXPECT_EQ(SaveSettings(row.file.c_str(), "alice", 0), row.saved);
        EXPECT_EQ(memcmp(&mailSettings, &snapshot, sizeof snapshot), 0);
        if (row.saved)
            EXPECT_NE(ReadFileBytes(path).find("MAIL_SERV=new.example.jp"), std::string::npos);
        else
            EXPECT_EQ(ReadFileBytes(path), stored);
        EXPECT_FALSE(FileExists(missing));
    }
}

TEST_F(IniStore, SavedZeroIntervalLoadsAsOneMinute)
{
    FillSettings("s", "u", "p", "", "", 0);
    SaveSettings(path.c_str(), "alice", 0);
    EXPECT_NE(ReadFileBytes(path).find("MAIL_TIME=0\r\n"), std::string::npos);
    Load("alice");
    EXPECT_EQ(mailSettings.mailbox[0].intervalMs, 60000);
}

TEST_F(IniStore, EmptyPasswordBothWays)
{
    FillSettings("s", "u", "", "", "", 60000);
    SaveSettings(path.c_str(), "alice", 0);
    EXPECT_NE(ReadFileBytes(path).find("\r\nMAIL_PASS=\r\n"), std::string::npos);
    strcpy(mailSettings.mailbox[0].password, "stale");
    Load("alice");
    EXPECT_STREQ(mailSettings.mailbox[0].password, "");
}

TEST_F(IniStore, OtherSectionsAndKeysStayByteIdentical)
{
    const std::string bob = "[bob]\r\nMAIL_SERV=bob.example.jp\r\nMAIL_TIME=9\r\n";
    WriteFileBytes(path, bob +
                             "[alice]\r\nNOTE=keep me\r\nMAIL_SERV=old\r\n"
                             "[carol]\r\nMAIL_USER=carol\r\n");
    FillSettings("new", "alice", "x", "", "", 120000);
    SaveSettings(path.c_str(), "alice", 0);
    EXPECT_EQ(ReadFileBytes(path),
              bob +
                  "[alice]\r\nNOTE=keep me\r\nMAIL_SERV=new\r\nMAIL_USER=alice\r\n"
                  "MAIL_PASS=eA==\r\nMAIL_APPA=\r\nMAIL_APPP=\r\nMAIL_TIME=2\r\n"
                  "[carol]\r\nMAIL_USER=carol\r\n");
}

TEST_F(IniStore, TwoLoginNamesKeepTheirOwnSections)
{
    FillSettings("a.example.jp", "alice", "alicepw", "mailer.exe", "", 5 * 60000);
    SaveSettings(path.c_str(), "alice", 0);
    FillSettings("b.example.jp", "bob", "bobpw", "", "-x", 7 * 60000);
    SaveSettings(path.c_str(), "bob", 0);

    Load("alice");
    EXPECT_STREQ(mailSettings.mailbox[0].serverName, "a.example.jp");
    EXPECT_STREQ(mailSettings.mailbox[0].password, "alicepw");
    EXPECT_STREQ(mailSettings.mailbox[0].launchProgram, "mailer.exe");
    EXPECT_EQ(mailSettings.mailbox[0].intervalMs, 5 * 60000);
    Load("bob");
    EXPECT_STREQ(mailSettings.mailbox[0].serverName, "b.example.jp");
    EXPECT_STREQ(mailSettings.mailbox[0].userName, "bob");
    EXPECT_STREQ(mailSettings.mailbox[0].password, "bobpw");
    EXPECT_STREQ(mailSettings.mailbox[0].launchProgram, "");
    EXPECT_EQ(mailSettings.mailbox[0].intervalMs, 7 * 60000);
}

TEST_F(IniStore, JapaneseValuesRoundTripAsCodePage932Bytes)
{
    // サーバ (server) and the password パス表, both with 0x5C second bytes.
    FillSettings("\x83\x54\x81\x5b\x83\x6f", "\x83\x54\x81\x5b", "\x83\x70\x83\x58\x95\x5c",
         "C:\\\x95\x5c\\mail.exe", "", 60000);
    SaveSettings(path.c_str(), "alice", 0);
    std::string bytes = ReadFileBytes(path);
    EXPECT_NE(bytes.find("MAIL_SERV=\x83\x54\x81\x5b\x83\x6f\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("MAIL_PASS=g3CDWJVc\r\n"), std::string::npos);
    memset(&mailSettings, 0, sizeof mailSettings);
    Load("alice");
    EXPECT_STREQ(mailSettings.mailbox[0].serverName, "\x83\x54\x81\x5b\x83\x6f");
    EXPECT_STREQ(mailSettings.mailbox[0].password, "\x83\x70\x83\x58\x95\x5c");
    EXPECT_STREQ(mailSettings.mailbox[0].launchProgram, "C:\\\x95\x5c\\mail.exe");
}

TEST_F(IniStore, OverlongValuesAreCutWithoutSplittingACharacter)
{
    // "aa" then 200 times 表: the field's 255 bytes end after 126 whole characters.
    std::string server = "aa";
    for (int i = 0; i < 200; i++)
        server += kanji;
    std::string program(600, 'p');
    std::string password(400, 'w');
    char encoded[1024];
    strcpy(mailSettings.mailbox[0].password, "");
    EncodeBase64(password.substr(0, 300).c_str(), encoded);
    WriteFileBytes(path, "[alice]\r\nMAIL_SERV=" + server + "\r\nMAIL_APPA=" + program +
                             "\r\nMAIL_PASS=" + encoded + "\r\n");
    Load("alice");
    EXPECT_EQ(std::string(mailSettings.mailbox[0].serverName), server.substr(0, 254));
    EXPECT_EQ(std::string(mailSettings.mailbox[0].launchProgram), program.substr(0, 259));
    EXPECT_EQ(std::string(mailSettings.mailbox[0].password), password.substr(0, 255));
}

TEST_F(IniStore, NeitherThePasswordNorItsBase64TextIsLeftOnTheStack)
{
    static std::string iniFile;
    iniFile = path;
    // "a secret of thirty-two bytes ok" and its Base64 text.
    const std::string password = "a secret of thirty-two bytes ok";
    const std::string encoded = "YSBzZWNyZXQgb2YgdGhpcnR5LXR3byBieXRlcyBvaw==";
    // Later values written over a buffer hide only its first bytes: the
    // tails are what would be left.
    const std::string encodedTail = encoded.substr(8), passwordTail = password.substr(8);
    const struct {
        const char *how;
        void (*fn)();
        std::string left;
    } rows[] = {
        {"load: Base64 text", [] { LoadSettings(iniFile.c_str(), "alice"); }, encodedTail},
        {"load: password", [] { LoadSettings(iniFile.c_str(), "alice"); }, passwordTail},
        {"save: Base64 text", [] { SaveSettings(iniFile.c_str(), "alice", 0); }, encodedTail},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.how);
        FillSettings("s", "u", password.c_str(), "", "", 60000);
        SaveSettings(path.c_str(), "alice", 0);
        ASSERT_NE(ReadFileBytes(path).find("MAIL_PASS=" + encoded + "\r\n"), std::string::npos);
        EXPECT_FALSE(LeavesOnStack(row.fn, row.left));
        EXPECT_STREQ(mailSettings.mailbox[0].password, password.c_str());
    }
}

TEST(TextCut, NeverSplitsADoubleByteCharacter)
{
    const struct {
        const char *src;
        size_t capacity;
        const char *copied;
        int whole;
    } rows[] = {
        {"abc", 4, "abc", 1},
        {"abcd", 4, "abc", 0},
        {"a\x95\x5c", 3, "a", 0},
        {"a\x95\x5c", 4, "a\x95\x5c", 1},
        {"\x95\x5c\x95\x5c", 4, "\x95\x5c", 0},
        {"ab\x95", 4, "ab\x95", 1},  // a lone lead byte before the NUL is one byte
        {"", 1, "", 1},
    };
    for (const auto &row : rows) {
        char dest[8];
        memset(dest, 0x5A, sizeof dest);
        EXPECT_EQ(CopyTextCut(dest, row.capacity, row.src), row.whole) << row.src;
        EXPECT_STREQ(dest, row.copied);
        for (size_t i = row.capacity; i < sizeof dest; i++)
            EXPECT_EQ(dest[i], 0x5A) << "guard byte " << i;
    }
}

// The writer swaps whole values under the lock; every copy must be one of them.
DWORD WINAPI SwapCredentialsProc(void *param)
{
    volatile LONG *stop = (volatile LONG *)param;
    for (int round = 0; !*stop; round++) {
        char fill = (round & 1) ? 'B' : 'A';
        size_t length = (round & 1) ? 100 : 255;
        LockSettings();
        memset(mailSettings.mailbox[0].password, fill, length);
        mailSettings.mailbox[0].password[length] = 0;
        memset(mailSettings.mailbox[0].serverName, fill, length);
        mailSettings.mailbox[0].serverName[length] = 0;
        UnlockSettings();
    }
    return 0;
}

TEST(SettingsLock, CheckRunCopyIsNeverTorn)
{
    memset(&mailSettings, 0, sizeof mailSettings);
    memset(mailSettings.mailbox[0].password, 'A', 255);
    memset(mailSettings.mailbox[0].serverName, 'A', 255);
    volatile LONG stop = 0;
    HANDLE writer = CreateThread(NULL, 0, SwapCredentialsProc, (void *)&stop, 0, NULL);
    ASSERT_NE(writer, (HANDLE)NULL);
    int torn = 0;
    for (int i = 0; i < 20000; i++) {
        MailCredentials copy;
        CopyCredentials(0, &copy);
        std::string password(copy.password), server(copy.serverName);
        bool wholeA = password == std::string(255, 'A') && server == password;
        bool wholeB = password == std::string(100, 'B') && server == password;
        if (!wholeA && !wholeB)
            torn++;
    }
    stop = 1;
    WaitForSingleObject(writer, INFINITE);
    CloseHandle(writer);
    EXPECT_EQ(torn, 0);
}

}  // namespace
