// The check run against scripted servers: every row is one scenario, played
// on an address of its own so that all rows run side by side. Each row pins
// the bytes the client sends, the one report (status and text) and where the
// report falls relative to the log-out and the close.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "fake_pop3_server.h"
#include "imap/imap_idle.h"
#include "checkrun/check_messages.h"
#include "checkrun/check_texts.h"
#include "mailcheck/mailcheck.h"
#include "notice/summary_exchange.h"
#include "report_window.h"
#include "resources/resource.h"
#include "test_support.h"

namespace {

// Where the report must fall.
enum Order {
    ORDER_ANY,           // the server hung up first: nothing left to observe
    REPORT_AFTER_CLOSE,  // failure: QUIT (if any) sent and socket closed first
    REPORT_BEFORE_QUIT   // success: the report comes before the log-out
};

struct Row {
    std::string name;
    std::vector<ServerAction> script;
    int status;
    std::string text;  // UTF-8
    Order order;
    std::string user = "alice";
    std::string password = "secret";
    int timeoutMs = 10000;
    int deadlineMs = 30000;
    bool listen = true;
    std::string serverName;  // empty: the row's own address
    bool imap = false;       // the address as imap://ADDRESS:110
    std::string mailbox;     // an IMAP success's record, as ReportLog shows it
    bool watch = false;      // the IDLE watch instead of a check: no report,
    std::string events;      // but these WM_IDLEWATCH events
    NoticeRequest notice = {};  // the window's answer after the report
    std::string summary;        // the summary it then got, as ReportLog shows it
    std::string alerts;      // the [ALERT] texts handed to the window
};

const std::string greeting = "+OK Tolvaran test server ready\r\n";

// Greeting, USER alice, PASS secret, stat, QUIT, with the given STAT reply.
std::vector<ServerAction> Session(const std::string &statReply)
{
    return {Send(greeting),         Expect("USER alice\r\n"), Send("+OK\r\n"),
            Expect("PASS secret\r\n"), Send("+OK logged in\r\n"), Expect("stat\r\n"),
            Send(statReply),        Expect("QUIT\r\n"),       Send("+OK bye\r\n")};
}

std::string NewMail(const std::string &count)
{
    return " " + count + " 件の新着メールがあります ";
}

const std::string noMail = " 新着メールはありません ";
const std::string wrongUser = " ユーザ名が違います ";
const std::string wrongPassword = " パスワードが違います ";
const std::string commandFailed = " コマンドが実行できません ";
const std::string noAnswer = " サーバから応答がありません ";
const std::string cannotConnect = " サーバに接続できません ";
const std::string serverNotFound = " サーバ名が見つかりません ";
const std::string serverBusy = " サーバが一時的に使えません ";

Row Make(const std::string &name, std::vector<ServerAction> script, int status, const std::string &text,
         Order order)
{
    Row row;
    row.name = name;
    row.script = std::move(script);
    row.status = status;
    row.text = text;
    row.order = order;
    return row;
}

// IMAP: the greeting listing capabilities, and what follows a log-in
// that took the tags before tag: STATUS, whose data is status, and LOGOUT.
std::string ImapGreeting(const std::string &capabilities)
{
    return "* OK [CAPABILITY IMAP4rev1 " + capabilities + "] ready\r\n";
}

std::vector<ServerAction> ImapStatus(int tag, const std::string &status)
{
    std::string a = "A" + std::to_string(tag), b = "A" + std::to_string(tag + 1);
    return {Expect(a + " STATUS INBOX (UNSEEN UIDNEXT UIDVALIDITY)\r\n"), Send(status + a + " OK done\r\n"),
            Expect(b + " LOGOUT\r\n"), Send("* BYE logging out\r\n" + b + " OK\r\n")};
}

std::vector<ServerAction> Join(std::vector<ServerAction> first, const std::vector<ServerAction> &then)
{
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

Row MakeImap(const std::string &name, std::vector<ServerAction> script, int status, const std::string &text,
             Order order, const std::string &mailbox = "")
{
    Row row = Make("IMAP: " + name, std::move(script), status, text, order);
    row.imap = true;
    row.mailbox = mailbox;
    return row;
}

// After a report whose notice waits for headers: EXAMINE from tag on,
// then the exchanges given, then LOGOUT.
std::vector<ServerAction> ImapNotice(int tag, const std::string &status, std::vector<ServerAction> exchanges)
{
    std::string a = "A" + std::to_string(tag), b = "A" + std::to_string(tag + 1);
    int logout = tag + 2 + (int)exchanges.size() / 2;
    std::string z = "A" + std::to_string(logout);
    std::vector<ServerAction> script = {Expect(a + " STATUS INBOX (UNSEEN UIDNEXT UIDVALIDITY)\r\n"),
                                        Send(status + a + " OK done\r\n"), Expect(b + " EXAMINE INBOX\r\n"),
                                        Send("* 3 EXISTS\r\n* OK [UIDVALIDITY 7] ok\r\n" + b + " OK [READ-ONLY] done\r\n")};
    script.insert(script.end(), exchanges.begin(), exchanges.end());
    script.push_back(Expect(z + " LOGOUT\r\n"));
    script.push_back(Send("* BYE logging out\r\n" + z + " OK\r\n"));
    return script;
}

// One message's header as a FETCH response carries it, in a literal.
std::string Fetched(int number, int uid, const std::string &header)
{
    return "* " + std::to_string(number) + " FETCH (UID " + std::to_string(uid) +
           " BODY[HEADER.FIELDS (FROM SUBJECT)] {" + std::to_string(header.size()) + "}\r\n" + header + ")\r\n";
}

const std::string fetchItem = " (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])\r\n";

// AUTHENTICATE PLAIN's response for alice / secret: "\0alice\0secret".
const std::string plainAlice = "AGFsaWNlAHNlY3JldA==";
const std::string status3 = "* STATUS INBOX (UNSEEN 3 UIDNEXT 12 UIDVALIDITY 7)\r\n";
// The log-in's OK with the capabilities a server has once logged in.
const std::string loggedIn = "A1 OK [CAPABILITY IMAP4rev1] logged in\r\n";
const std::string loggedInIdle = "A1 OK [CAPABILITY IMAP4rev1 IDLE] logged in\r\n";

std::vector<Row> Rows()
{
    std::vector<Row> rows;
    auto add = [&](Row row) { rows.push_back(std::move(row)); };

    // Counts as STAT gives them.
    add(Make("twelve messages", Session("+OK 12 300\r\n"), CHECK_NEW_MAIL, NewMail("12"), REPORT_BEFORE_QUIT));
    add(Make("no messages", Session("+OK 0 0\r\n"), CHECK_NO_MAIL, noMail, REPORT_BEFORE_QUIT));
    add(Make("two spaces before the count", Session("+OK  12 300\r\n"), CHECK_NEW_MAIL, NewMail("12"),
             REPORT_BEFORE_QUIT));
    add(Make("tab is no separator", Session("+OK\t3 300\r\n"), CHECK_NEW_MAIL, NewMail("300"),
             REPORT_BEFORE_QUIT));
    add(Make("count beyond int saturates", Session("+OK 99999999999 1\r\n"), CHECK_NEW_MAIL,
             NewMail("2147483647"), REPORT_BEFORE_QUIT));
    add(Make("negative count beyond int: longest text", Session("+OK -99999999999 0\r\n"), CHECK_NEW_MAIL,
             NewMail("-2147483648"), REPORT_BEFORE_QUIT));
    add(Make("words instead of a count", Session("+OK maildrop has 3 messages\r\n"), CHECK_NO_MAIL, noMail,
             REPORT_BEFORE_QUIT));
    add(Make("no second field", Session("+OK\r\n"), CHECK_NO_MAIL, noMail, REPORT_BEFORE_QUIT));
    add(Make("digits then letters", Session("+OK 7abc 300\r\n"), CHECK_NEW_MAIL, NewMail("7"),
             REPORT_BEFORE_QUIT));
    add(Make("STAT reply of 60000 bytes", Session("+OK 7 " + std::string(59992, 'x') + "\r\n"), CHECK_NEW_MAIL,
             NewMail("7"), REPORT_BEFORE_QUIT));
    add(Make("count of 59994 digits", Session("+OK " + std::string(59994, '9') + "\r\n"), CHECK_NEW_MAIL,
             NewMail("2147483647"), REPORT_BEFORE_QUIT));
    add(Make("zero byte ends the reply", Session(std::string("+OK 1\0" "2 300\r\n", 13)), CHECK_NEW_MAIL,
             NewMail("1"), REPORT_BEFORE_QUIT));
    add(Make("bytes 0x80-0xFF after the count", Session("+OK 5 \x82\xa0\xff\x80\r\n"), CHECK_NEW_MAIL,
             NewMail("5"), REPORT_BEFORE_QUIT));

    // Greetings are never judged.
    {
        auto script = Session("+OK 3 300\r\n");
        script[0] = Send("-ERR busy, but come in\r\n");
        add(Make("negative greeting", script, CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT));
    }
    {
        auto script = Session("+OK 2 300\r\n");
        script[0] = Send("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n");
        add(Make("APOP timestamp greeting", script, CHECK_NEW_MAIL, NewMail("2"), REPORT_BEFORE_QUIT));
    }
    {
        auto script = Session("+OK 4 300\r\n");
        script[0] = Send(std::string("+OK \x82\xa0\xff\0\x80 ready\r\n", 17));
        add(Make("greeting with zero and high bytes", script, CHECK_NEW_MAIL, NewMail("4"), REPORT_BEFORE_QUIT));
    }
    add(Make("LF-only replies",
             {Send("+OK ready\n"), Expect("USER alice\r\n"), Send("+OK\n"), Expect("PASS secret\r\n"),
              Send("+OK\n"), Expect("stat\r\n"), Send("+OK 3 300\n"), Expect("QUIT\r\n"), Send("+OK\n")},
             CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT));

    // Refusals: QUIT still goes out, and the report waits for the close.
    add(Make("USER refused",
             {Send(greeting), Expect("USER alice\r\n"), Send("-ERR no such user\r\n"), Expect("QUIT\r\n"),
              Send("+OK bye\r\n")},
             CHECK_AUTH_FAILED, wrongUser, REPORT_AFTER_CLOSE));
    add(Make("USER reply starting with 0xFF",
             {Send(greeting), Expect("USER alice\r\n"), Send("\xff+OK\r\n"), Expect("QUIT\r\n"),
              Send("+OK bye\r\n")},
             CHECK_AUTH_FAILED, wrongUser, REPORT_AFTER_CLOSE));
    {
        // [AUTH]'s sentence is meant for the user.
        Row row = Make("PASS refused",
                       {Send(greeting), Expect("USER alice\r\n"), Send("+OK\r\n"), Expect("PASS secret\r\n"),
                        Send("-ERR [AUTH] wrong\r\n"), Expect("QUIT\r\n"), Send("+OK bye\r\n")},
                       CHECK_AUTH_FAILED, wrongPassword, REPORT_AFTER_CLOSE);
        row.alerts = "wrong|";
        add(row);
    }
    add(Make("STAT refused", Session("-ERR not now\r\n"), CHECK_FAILED, commandFailed, REPORT_AFTER_CLOSE));

    // Replies in pieces, ahead of time, or one byte at a time.
    {
        auto script = Session("");
        script[6] = SendPieces({"+OK 1", "2 300\r\n"}, 100);
        add(Make("STAT reply split after its first digit", script, CHECK_NEW_MAIL, NewMail("12"),
                 REPORT_BEFORE_QUIT));
    }
    {
        auto script = Session("+OK 4 300\r\n");
        script[0] = SendPieces({"+OK PO", "P3 ready\r\n"}, 100);
        add(Make("greeting in two pieces", script, CHECK_NEW_MAIL, NewMail("4"), REPORT_BEFORE_QUIT));
    }
    {
        auto script = Session("+OK 12 300\r\n");
        for (ServerAction &action : script)
            if (action.kind == ServerAction::SEND)
                action = SendBytewise(action.pieces[0], 2);
        add(Make("every reply one byte at a time", script, CHECK_NEW_MAIL, NewMail("12"), REPORT_BEFORE_QUIT));
    }
    {
        // Each piece comes within the time-out, the whole line well after it.
        auto script = Session("");
        script[6] = SendPieces({"+OK ", "1", "5", " ", "300", "\r\n"}, 400);
        Row row = Make("slow trickle within the time-out", script, CHECK_NEW_MAIL, NewMail("15"),
                       REPORT_BEFORE_QUIT);
        row.timeoutMs = 1500;
        add(row);
    }
    add(Make("every reply sent ahead",
             {Send(greeting + "+OK\r\n" + "+OK\r\n" + "+OK 5 100\r\n" + "+OK bye\r\n"), Expect("USER alice\r\n"),
              Expect("PASS secret\r\n"), Expect("stat\r\n"), Expect("QUIT\r\n")},
             CHECK_NEW_MAIL, NewMail("5"), REPORT_BEFORE_QUIT));
    add(Make("refusal sent ahead with the greeting",
             {Send(greeting + "-ERR go away\r\n"), Expect("USER alice\r\n"), Expect("QUIT\r\n"),
              Send("+OK bye\r\n")},
             CHECK_AUTH_FAILED, wrongUser, REPORT_AFTER_CLOSE));
    {
        auto script = Session("+OK 6 300\r\n");
        script[2] = Send("+" + std::string(60000, 'y') + "\r\n");
        add(Make("USER reply longer than the buffer", script, CHECK_NEW_MAIL, NewMail("6"),
                 REPORT_BEFORE_QUIT));
    }

    // Servers that go quiet or hang up.
    add(Make("closed right after the greeting", {Send(greeting), Close()}, CHECK_FAILED, noAnswer, ORDER_ANY));
    add(Make("reset right after the greeting", {Send(greeting), Reset()}, CHECK_FAILED, noAnswer, ORDER_ANY));
    {
        Row row = Make("greeting never comes", {}, CHECK_FAILED, noAnswer, REPORT_AFTER_CLOSE);
        row.timeoutMs = 400;
        add(row);
    }
    {
        Row row = Make("USER never answered", {Send(greeting), Expect("USER alice\r\n")}, CHECK_FAILED, noAnswer,
                       REPORT_AFTER_CLOSE);
        row.timeoutMs = 400;
        add(row);
    }
    {
        // Each byte within the time-out, but the line would take 5 s: the
        // session's deadline ends it, and what came counts for nothing. (A
        // server busy trickling cannot watch for the close; the next row
        // checks that the report waits for it.)
        Row row = Make("trickle past the deadline",
                       {Send(greeting), Expect("USER alice\r\n"), SendBytewise("+OK trickle\r\n", 400)},
                       CHECK_FAILED, noAnswer, ORDER_ANY);
        row.timeoutMs = 1000;
        row.deadlineMs = 2000;
        add(row);
    }
    {
        // Every reply comes inside the time-out; the third is past the
        // deadline, so neither that reply nor QUIT is waited for. A second
        // either side of each limit, so that a busy machine cannot move a
        // reply across one.
        Row row = Make("every reply inside the time-out",
                       {Pause(2000), Send(greeting), Expect("USER alice\r\n"), Pause(2000), Send("+OK\r\n"),
                        Expect("PASS secret\r\n"), Pause(2000), Send("+OK\r\n")},
                       CHECK_FAILED, noAnswer, REPORT_AFTER_CLOSE);
        row.timeoutMs = 3000;
        row.deadlineMs = 5000;
        add(row);
    }
    add(Make("closed instead of the PASS reply",
             {Send(greeting), Expect("USER alice\r\n"), Send("+OK\r\n"), Expect("PASS secret\r\n"), Close()},
             CHECK_FAILED, noAnswer, ORDER_ANY));
    add(Make("reset instead of the STAT reply",
             {Send(greeting), Expect("USER alice\r\n"), Send("+OK\r\n"), Expect("PASS secret\r\n"),
              Send("+OK\r\n"), Expect("stat\r\n"), Reset()},
             CHECK_FAILED, noAnswer, ORDER_ANY));
    add(Make("STAT reply cut short by a close",
             {Send(greeting), Expect("USER alice\r\n"), Send("+OK\r\n"), Expect("PASS secret\r\n"),
              Send("+OK\r\n"), Expect("stat\r\n"), Send("+OK 3"), Close()},
             CHECK_NEW_MAIL, NewMail("3"), ORDER_ANY));
    {
        Row row = Make("QUIT never answered after success",
                       {Send(greeting), Expect("USER alice\r\n"), Send("+OK\r\n"), Expect("PASS secret\r\n"),
                        Send("+OK\r\n"), Expect("stat\r\n"), Send("+OK 8 300\r\n"), Expect("QUIT\r\n")},
                       CHECK_NEW_MAIL, NewMail("8"), REPORT_BEFORE_QUIT);
        row.timeoutMs = 400;
        add(row);
    }

    // What the client sends.
    {
        Row row = Make("line break in the user name is never sent",
                       {Send(greeting), Expect("QUIT\r\n"), Send("+OK bye\r\n")}, CHECK_AUTH_FAILED, wrongUser,
                       REPORT_AFTER_CLOSE);
        row.user = "alice\r\nDELE 1";
        add(row);
    }
    {
        Row row = Make("line feed in the password is never sent",
                       {Send(greeting), Expect("USER alice\r\n"), Send("+OK\r\n"), Expect("QUIT\r\n"),
                        Send("+OK bye\r\n")},
                       CHECK_AUTH_FAILED, wrongPassword, REPORT_AFTER_CLOSE);
        row.password = "secret\nDELE 1";
        add(row);
    }
    {
        auto script = Session("+OK 2 300\r\n");
        script[3] = Expect("PASS \r\n");
        Row row = Make("empty password is still sent", script, CHECK_NEW_MAIL, NewMail("2"), REPORT_BEFORE_QUIT);
        row.password = "";
        add(row);
    }
    {
        // テスト / パス表: double-byte names go out as their code page 932 bytes.
        auto script = Session("+OK 1 300\r\n");
        script[1] = Expect("USER \x83\x65\x83\x58\x83\x67\r\n");
        script[3] = Expect("PASS \x83\x70\x83\x58\x95\x5c\r\n");
        Row row = Make("Shift_JIS user and password", script, CHECK_NEW_MAIL, NewMail("1"), REPORT_BEFORE_QUIT);
        row.user = "\x83\x65\x83\x58\x83\x67";
        row.password = "\x83\x70\x83\x58\x95\x5c";
        add(row);
    }
    {
        std::string longName(255, 'u');
        auto script = Session("+OK 9 300\r\n");
        script[1] = Expect("USER " + longName + "\r\n");
        Row row = Make("user name of 255 bytes", script, CHECK_NEW_MAIL, NewMail("9"), REPORT_BEFORE_QUIT);
        row.user = longName;
        add(row);
    }

    // IMAP, on the same scripted servers.
    {
        Row row = MakeImap("LOGIN quotes a password with \", \\ and {",
                           Join({Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"a\\\"b\\\\c{5}\"\r\n"),
                                 Send(loggedIn)},
                                ImapStatus(2, status3)),
                           CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT, "validity=7 next=12 idle=0");
        row.password = "a\"b\\c{5}";
        add(row);
    }
    {
        // パス表 in code page 932 goes as a literal of its 9 UTF-8 bytes.
        Row row = MakeImap("a Japanese password goes as a literal after the server's +",
                           Join({Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" {9}\r\n"),
                                 Send("+ go ahead\r\n"), Expect("\xe3\x83\x91\xe3\x82\xb9\xe8\xa1\xa8\r\n"),
                                 Send(loggedIn)},
                                ImapStatus(2, "* STATUS INBOX (UNSEEN 0 UIDNEXT 4 UIDVALIDITY 1)\r\n")),
                           CHECK_NO_MAIL, noMail, REPORT_BEFORE_QUIT, "validity=1 next=4 idle=0");
        row.password = "\x83\x70\x83\x58\x95\x5c";
        add(row);
    }
    add(MakeImap("PREAUTH goes straight to STATUS",
                 Join({Send("* PREAUTH [CAPABILITY IMAP4rev1 IDLE] welcome\r\n")},
                      ImapStatus(1, "* STATUS INBOX (UNSEEN 2 UIDNEXT 5 UIDVALIDITY 9)\r\n")),
                 CHECK_NEW_MAIL, NewMail("2"), REPORT_BEFORE_QUIT, "validity=9 next=5 idle=1"));
    add(MakeImap("BYE greeting", {Send("* BYE too many connections\r\n")}, CHECK_FAILED, noAnswer,
                 REPORT_AFTER_CLOSE));
    add(MakeImap("LOGINDISABLED: no password is sent",
                 {Send(ImapGreeting("LOGINDISABLED")), Expect("A1 LOGOUT\r\n"), Send("* BYE\r\nA1 OK\r\n")},
                 CHECK_FAILED, commandFailed, REPORT_AFTER_CLOSE));
    add(MakeImap("[AUTHENTICATIONFAILED] to AUTHENTICATE PLAIN with SASL-IR",
                 {Send(ImapGreeting("AUTH=PLAIN SASL-IR")), Expect("A1 AUTHENTICATE PLAIN " + plainAlice + "\r\n"),
                  Send("A1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"), Expect("A2 LOGOUT\r\n"),
                  Send("* BYE\r\nA2 OK\r\n")},
                 CHECK_AUTH_FAILED, wrongPassword, REPORT_AFTER_CLOSE));
    add(MakeImap("[UNAVAILABLE] to the log-in is a refusal that passes",
                 {Send(ImapGreeting("AUTH=PLAIN SASL-IR")), Expect("A1 AUTHENTICATE PLAIN " + plainAlice + "\r\n"),
                  Send("A1 NO [UNAVAILABLE] Temporary authentication failure.\r\n"), Expect("A2 LOGOUT\r\n"),
                  Send("* BYE\r\nA2 OK\r\n")},
                 CHECK_FAILED, serverBusy, REPORT_AFTER_CLOSE));
    {
        const std::string gmail = "Application-specific password required: "
                                  "https://support.google.com/accounts/answer/185833 (Failure)";
        Row row = MakeImap("[ALERT] in a tagged NO is told and the log-in stays refused",
                           {Send(ImapGreeting("AUTH=PLAIN SASL-IR")),
                            Expect("A1 AUTHENTICATE PLAIN " + plainAlice + "\r\n"),
                            Send("A1 NO [ALERT] " + gmail + "\r\n"), Expect("A2 LOGOUT\r\n"),
                            Send("* BYE\r\nA2 OK\r\n")},
                           CHECK_AUTH_FAILED, wrongPassword, REPORT_AFTER_CLOSE);
        row.alerts = gmail + "|";
        add(row);
    }
    {
        // Control bytes in it are never handed on.
        Row row = MakeImap("[ALERT] in an untagged OK is told",
                           Join({Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"secret\"\r\n"), Send(loggedIn)},
                                ImapStatus(2, "* OK [ALERT] Mailbox\x07 almost\x1b full\r\n" + status3)),
                           CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT, "validity=7 next=12 idle=0");
        row.alerts = "Mailbox almost full|";
        add(row);
    }
    add(MakeImap("capabilities listed only after the log-in are asked for",
                 Join({Send(ImapGreeting("AUTH=PLAIN SASL-IR")), Expect("A1 AUTHENTICATE PLAIN " + plainAlice + "\r\n"),
                       Send("A1 OK logged in\r\n"), Expect("A2 CAPABILITY\r\n"),
                       Send("* CAPABILITY IMAP4rev2\r\nA2 OK\r\n")},
                      ImapStatus(3, status3)),
                 CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT, "validity=7 next=12 idle=1"));
    add(MakeImap("the mailbox name as a literal in the STATUS reply",
                 Join({Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"secret\"\r\n"), Send(loggedIn)},
                      ImapStatus(2, "* STATUS {5}\r\nINBOX (UNSEEN 4 UIDNEXT 9 UIDVALIDITY 3)\r\n")),
                 CHECK_NEW_MAIL, NewMail("4"), REPORT_BEFORE_QUIT, "validity=3 next=9 idle=0"));
    {
        auto script = Join({Send(ImapGreeting("AUTH=PLAIN SASL-IR IDLE")),
                            Expect("A1 AUTHENTICATE PLAIN " + plainAlice + "\r\n"), Send(loggedInIdle)},
                           ImapStatus(2, status3));
        for (ServerAction &action : script)
            if (action.kind == ServerAction::SEND)
                action = SendBytewise(action.pieces[0], 2);
        add(MakeImap("every reply one byte at a time", script, CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT,
                     "validity=7 next=12 idle=1"));
    }
    // No capabilities in the greeting: CAPABILITY, then AUTHENTICATE PLAIN
    // without SASL-IR waits for "+". Before STATUS's tagged OK: untagged
    // data never asked for, one with a literal that holds a tagged-looking
    // line, and a response code nobody knows.
    add(MakeImap("unknown untagged replies and response codes before the tagged OK",
                 Join({Send("* OK ready\r\n"), Expect("A1 CAPABILITY\r\n"),
                       Send("* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\nA1 OK\r\n"), Expect("A2 AUTHENTICATE PLAIN\r\n"),
                       Send("+ \r\n"), Expect(plainAlice + "\r\n"),
                       Send("* CAPABILITY IMAP4rev1\r\nA2 OK [XYZZY 1] in\r\n")},
                      ImapStatus(3, "* 3 EXISTS\r\n* XSTRANGE {10}\r\nA3 OK hi\r\n\r\n* OK [XFOO bar] hi\r\n" + status3)),
                 CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT, "validity=7 next=12 idle=0"));
    add(MakeImap("a tag never sent is no success",
                 {Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"secret\"\r\n"), Send(loggedIn),
                  Expect("A2 STATUS INBOX (UNSEEN UIDNEXT UIDVALIDITY)\r\n"), Send(status3 + "A9 OK done\r\n")},
                 CHECK_FAILED, commandFailed, REPORT_AFTER_CLOSE));
    add(MakeImap("a line longer than the buffer ends the session",
                 {Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"secret\"\r\n"),
                  Send("* OK " + std::string(60000, 'x') + "\r\nA1 OK\r\n")},
                 CHECK_FAILED, commandFailed, REPORT_AFTER_CLOSE));

    // The headers for the notice, read-only: EXAMINE, UID SEARCH, UID FETCH
    // with BODY.PEEK. The first check takes every unread message: 100,000
    // UIDs on one line, in no order, of which the three highest are asked for.
    {
        std::string search = "* SEARCH";
        for (int i = 0; i < 100000; i++)
            search += " " + std::to_string((long long)i * 7919 % 100000 + 1);
        Row row = MakeImap("SEARCH with 100,000 UIDs",
                           Join({Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"secret\"\r\n"), Send(loggedIn)},
                                ImapNotice(2, status3,
                                           {Expect("A4 UID SEARCH UNSEEN\r\n"), Send(search + "\r\nA4 OK done\r\n"),
                                            Expect("A5 UID FETCH 100000,99999,99998" + fetchItem),
                                            Send(Fetched(3, 100000, "Subject: c\r\n\r\n") +
                                                 Fetched(1, 99998, "From: a@x\r\n\r\n") +
                                                 Fetched(2, 99999, "Subject: b\r\n\r\n") + "A5 OK\r\n")})),
                           CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT, "validity=7 next=12 idle=0");
        row.notice = {1, 1, 0, 0};
        row.summary = "new=100000  / c |  / b | a@x / ";
        add(row);
    }
    {
        // Nothing arrived unread since UIDNEXT 12: "12:*" still answers the
        // highest UID, 9, which is no arrival. No FETCH, and no notice.
        Row row = MakeImap("n:* answering an older UID",
                           Join({Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"secret\"\r\n"), Send(loggedIn)},
                                ImapNotice(2, status3,
                                           {Expect("A4 UID SEARCH UID 12:* UNSEEN\r\n"),
                                            Send("* SEARCH 9\r\nA4 OK done\r\n")})),
                           CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT, "validity=7 next=12 idle=0");
        row.notice = {1, 0, 12, 0};
        row.summary = "none new";
        add(row);
    }
    {
        // Literals among items in any order, FLAGS never asked for, a "{5}"
        // inside a header, and ISO-2022-JP words: 山田 太郎 / 会議の件.
        std::string yamada = "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <yamada@example.jp>\r\n";
        std::string meeting = "Subject: =?iso-2022-jp?B?GyRCMnE1RCRON28bKEI=?=\r\n\r\n";
        std::string second = "Subject: x {5}\r\nFrom: Bob <bob@example.com>\r\n\r\n";
        Row row = MakeImap("FETCH as literals",
                           Join({Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"secret\"\r\n"), Send(loggedIn)},
                                ImapNotice(2, status3,
                                           {Expect("A4 UID SEARCH UID 10:* UNSEEN\r\n"),
                                            Send("* SEARCH 11 10 12 13\r\nA4 OK done\r\n"),
                                            Expect("A5 UID FETCH 13,12,11" + fetchItem),
                                            Send("* 4 FETCH (FLAGS (\\Recent) BODY[HEADER.FIELDS (\"FROM\" \"SUBJECT\")] {" +
                                                 std::to_string(yamada.size() + meeting.size()) + "}\r\n" + yamada +
                                                 meeting + " UID 13)\r\n* 3 FETCH (UID 12 BODY[HEADER.FIELDS (FROM SUBJECT)] {" +
                                                 std::to_string(second.size()) + "}\r\n" + second + ")\r\n" +
                                                 "A5 OK done\r\n")})),
                           CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT, "validity=7 next=12 idle=0");
        row.notice = {1, 0, 10, 0};
        row.summary = u8"new=4 \u5c71\u7530 \u592a\u90ce / \u4f1a\u8b70\u306e\u4ef6 | Bob / x {5}";
        add(row);
    }

    {
        // A subject of 10,000 encoded-words (170 KB) in one literal: its
        // start is kept and decoded, the rest passed over, and the other
        // message is named as usual.
        std::string huge = "From: Big <big@example.jp>\r\nSubject:";
        for (int i = 0; i < 10000; i++)
            huge += " =?UTF-8?B?44GC?=";  // あ
        huge += "\r\n\r\n";
        std::string a126;
        for (int i = 0; i < 126; i++)
            a126 += u8"\u3042";
        Row row = MakeImap("a header literal larger than the buffer",
                           Join({Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"secret\"\r\n"), Send(loggedIn)},
                                ImapNotice(2, status3,
                                           {Expect("A4 UID SEARCH UID 10:* UNSEEN\r\n"),
                                            Send("* SEARCH 10 11\r\nA4 OK done\r\n"),
                                            Expect("A5 UID FETCH 11,10" + fetchItem),
                                            Send(Fetched(2, 11, huge) + Fetched(1, 10, "Subject: x\r\n\r\n") +
                                                 "A5 OK\r\n")})),
                           CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT, "validity=7 next=12 idle=0");
        row.notice = {1, 0, 10, 0};
        row.summary = "new=2 Big / " + a126 + u8"\u2026 |  / x";
        add(row);
    }
    {
        // ESEARCH, never asked for, tells nothing the reader can use: the
        // notice gives the count.
        Row row = MakeImap("an ESEARCH answer",
                           Join({Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"secret\"\r\n"), Send(loggedIn)},
                                ImapNotice(2, status3,
                                           {Expect("A4 UID SEARCH UID 10:* UNSEEN\r\n"),
                                            Send("* ESEARCH (TAG \"A4\") UID MAX 13 COUNT 3\r\nA4 OK done\r\n")})),
                           CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT, "validity=7 next=12 idle=0");
        row.notice = {1, 0, 10, 0};
        row.summary = "failed";
        add(row);
    }
    {
        // Quiet after EXAMINE: the header reads have their own few seconds,
        // then the notice gives the count and the session closes, with no
        // LOGOUT into the middle of an answer.
        auto script = Join({Send(ImapGreeting("")), Expect("A1 LOGIN \"alice\" \"secret\"\r\n"), Send(loggedIn)},
                           ImapNotice(2, status3, {Expect("A4 UID SEARCH UID 10:* UNSEEN\r\n")}));
        script.resize(script.size() - 2);
        Row row = MakeImap("quiet while the headers are read", script, CHECK_NEW_MAIL, NewMail("3"),
                           REPORT_BEFORE_QUIT, "validity=7 next=12 idle=0");
        row.notice = {1, 0, 10, 0};
        row.summary = "failed";
        row.timeoutMs = 20000;
        row.deadlineMs = 60000;
        add(row);
    }

    // The IDLE watch: log-in and EXAMINE as a check logs in, then IDLE.
    {
        auto watch = [&](const std::string &name, std::vector<ServerAction> idling, const std::string &events) {
            Row row = MakeImap("IDLE watch: " + name,
                               Join({Send(ImapGreeting("AUTH=PLAIN SASL-IR IDLE")),
                                     Expect("A1 AUTHENTICATE PLAIN " + plainAlice + "\r\n"), Send(loggedInIdle),
                                     Expect("A2 EXAMINE INBOX\r\n"),
                                     Send("* 3 EXISTS\r\n* OK [UIDNEXT 4] next\r\nA2 OK [READ-ONLY] done\r\n"),
                                     Expect("A3 IDLE\r\n")},
                                    idling),
                               0, "", ORDER_ANY);
            row.watch = true;
            row.events = events;
            add(row);
        };
        watch("EXISTS while idling is one change",
              {Send("+ idling\r\n* OK Still here\r\n"), Send("* 4 EXISTS\r\n"), Close()}, "changed ended");
        watch("BYE while idling tells the server is going down",
              {Send("+ idling\r\n"), Send("* BYE Server shutting down.\r\n"), Close()}, "server-left");
        watch("NO to IDLE: no watch",
              {Send("A3 NO not here\r\n"), Expect("A4 LOGOUT\r\n"), Send("* BYE\r\nA4 OK\r\n")}, "refused");
        watch("the refresh sends DONE and a new IDLE",
              {Send("+ idling\r\n"), Expect("DONE\r\n"), Send("A3 OK IDLE terminated\r\n"), Expect("A4 IDLE\r\n"),
               Send("+ idling\r\n"), Close()},
              "ended");
        watch("a stop sends DONE and LOGOUT and tells nothing",
              {Send("+ idling\r\n"), Signal(), Expect("DONE\r\n"), Send("A3 OK\r\n"), Expect("A4 LOGOUT\r\n"),
               Send("* BYE\r\nA4 OK\r\n")},
              "");
        Row row = MakeImap("IDLE watch: a refused log-in",
                           {Send(ImapGreeting("AUTH=PLAIN SASL-IR IDLE")),
                            Expect("A1 AUTHENTICATE PLAIN " + plainAlice + "\r\n"), Send("A1 NO [AUTHENTICATIONFAILED]\r\n"),
                            Expect("A2 LOGOUT\r\n"), Send("* BYE\r\nA2 OK\r\n")},
                           0, "", ORDER_ANY);
        row.watch = true;
        row.events = "login-refused";
        add(row);
    }

    // POP3 headers for the notice: TOP n 0 of the newest new messages.
    {
        // No UIDL: the messages above the last count, 2, are the new ones.
        auto script = Session("+OK 5 500\r\n");
        script.insert(script.end() - 2,
                      {Expect("UIDL\r\n"), Send("-ERR unknown command\r\n"), Expect("TOP 5 0\r\n"),
                       Send("+OK\r\nReceived: by x\r\nFrom: Bob <bob@example.com>\r\nSubject: Hello\r\n world\r\n"
                            "..X: stuffed\r\n\r\n.\r\n"),
                       Expect("TOP 4 0\r\n"), Send("+OK\r\nSubject: four\r\n\r\n.\r\n"), Expect("TOP 3 0\r\n"),
                       Send("+OK\r\nFrom: c@x\r\n\r\n.\r\n")});
        Row row = Make("POP3 without UIDL", script, CHECK_NEW_MAIL, NewMail("5"), REPORT_BEFORE_QUIT);
        row.notice = {1, 0, 0, 2};
        row.summary = "new=3 Bob / Hello world |  / four | c@x / ";
        add(row);
    }
    {
        // UIDL on the first check: all three are new; without TOP the
        // notice gives the count.
        auto script = Session("+OK 3 300\r\n");
        script.insert(script.end() - 2, {Expect("UIDL\r\n"), Send("+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n"),
                                         Expect("TOP 3 0\r\n"), Send("-ERR no TOP here\r\n")});
        Row row = Make("POP3 without TOP", script, CHECK_NEW_MAIL, NewMail("3"), REPORT_BEFORE_QUIT);
        row.notice = {1, 0, 0, 0};
        row.summary = "failed";
        add(row);
    }
    {
        // No UIDL and a count past INT_MAX: the newest are taken from the
        // top, whatever the count.
        auto script = Session("+OK 99999999999 1\r\n");
        script.insert(script.end() - 2,
                      {Expect("UIDL\r\n"), Send("-ERR unknown command\r\n"), Expect("TOP 2147483647 0\r\n"),
                       Send("+OK\r\nSubject: c\r\n\r\n.\r\n"), Expect("TOP 2147483646 0\r\n"),
                       Send("+OK\r\nSubject: b\r\n\r\n.\r\n"), Expect("TOP 2147483645 0\r\n"),
                       Send("+OK\r\nSubject: a\r\n\r\n.\r\n")});
        Row row = Make("POP3 without UIDL and a huge count", script, CHECK_NEW_MAIL, NewMail("2147483647"),
                       REPORT_BEFORE_QUIT);
        row.notice = {1, 0, 0, 0};
        row.summary = "new=2147483647  / c |  / b |  / a";
        add(row);
    }

    // Before any POP3 is spoken.
    {
        Row row = Make("nothing listens on port 110", {}, CHECK_FAILED, cannotConnect, ORDER_ANY);
        row.listen = false;
        add(row);
    }
    {
        // A label longer than 63 characters fails inside the resolver
        // without any query leaving the machine.
        Row row = Make("server name does not resolve", {}, CHECK_FAILED, serverNotFound, ORDER_ANY);
        row.listen = false;
        row.serverName = std::string(64, 'n') + ".invalid";
        add(row);
    }
    return rows;
}

struct RowResult {
    ReportLog log;
    std::string transcript;
    std::vector<std::string> problems;
    bool orderKept = true;
    std::string orderProblem;
};

// Plays one row on its own address; the check runs on this thread and its
// report (a send to a window of this thread) comes straight back here.
void PlayRow(const Row &row, const std::string &address, RowResult *result)
{
    FakePop3Server server;
    if (row.listen && !server.Start(address, row.script)) {
        result->problems = server.Problems();
        return;
    }
    result->log.duringReport = [&] {
        if (row.order == REPORT_AFTER_CLOSE) {
            if (!server.WaitClientClosed(Patience(3000))) {
                result->orderKept = false;
                result->orderProblem = "reported while the connection was still open";
            }
        } else if (row.order == REPORT_BEFORE_QUIT) {
            // The check run is stuck in its send: nothing may follow yet.
            Sleep(Patience(150));
            std::string sent = server.Transcript();
            if (sent.find("QUIT") != std::string::npos || sent.find("LOGOUT") != std::string::npos ||
                server.ClientClosed()) {
                result->orderKept = false;
                result->orderProblem = "QUIT, LOGOUT or close came before the report";
            }
        }
    };
    result->log.notice = row.notice;
    HWND window = CreateReportWindow(&result->log);
    if (window == nullptr) {
        result->problems.push_back("no report window: error " + std::to_string(GetLastError()));
        return;
    }

    MailCredentials credentials = {};
    std::string serverName = row.imap ? "imap://" + address + ":110"
                             : row.serverName.empty() ? address : row.serverName;
    CopyTextCut(credentials.serverName, sizeof credentials.serverName, serverName.c_str());
    CopyTextCut(credentials.userName, sizeof credentials.userName, row.user.c_str());
    CopyTextCut(credentials.password, sizeof credentials.password, row.password.c_str());
    if (row.watch) {
        HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        server.onSignal = [stop] { SetEvent(stop); };
        RunIdleWatch(window, stop, 1, &credentials, Patience(row.timeoutMs));
        MSG message;  // the events it posted to this thread's window
        while (PeekMessageA(&message, window, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        CloseHandle(stop);
    } else {
        RunMailCheck(window, &credentials, Patience(row.timeoutMs), Patience(row.deadlineMs));
    }

    server.Join();
    DestroyWindow(window);
    result->transcript = server.Transcript();
    for (const std::string &problem : server.Problems())
        result->problems.push_back(problem);
}

TEST(ScriptedServers, EveryRowGetsOneReportWithTheRightStatusTextAndWireBytes)
{
    // The watch renews IDLE after 5 s: long enough for every row that does
    // not wait for it.
    idleRefreshMs = Patience(5000);
    // Long enough for every row's headers but the one that waits it out.
    headerBudgetMs = Patience(3000);
    std::vector<Row> rows = Rows();
    ASSERT_GE(rows.size(), 25u);
    ASSERT_LE(rows.size(), 80u);  // 127.0.0.10 .. 127.0.0.89
    std::vector<RowResult> results(rows.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < rows.size(); i++) {
        std::string address = "127.0.0." + std::to_string(10 + i);
        threads.emplace_back(PlayRow, std::cref(rows[i]), address, &results[i]);
    }
    for (std::thread &thread : threads)
        thread.join();

    for (size_t i = 0; i < rows.size(); i++) {
        const Row &row = rows[i];
        const RowResult &result = results[i];
        SCOPED_TRACE(row.name + " (127.0.0." + std::to_string(10 + i) + ")");
        EXPECT_TRUE(result.problems.empty()) << ::testing::PrintToString(result.problems);
        EXPECT_EQ(result.transcript, ExpectedClientBytes(row.script));
        EXPECT_EQ(result.log.idleEvents, row.events);
        EXPECT_EQ(result.log.alerts, row.alerts);
        if (row.watch) {
            EXPECT_EQ(result.log.count, 0);
            continue;
        }
        EXPECT_EQ(result.log.count, 1);
        EXPECT_EQ(result.log.status, row.status);
        EXPECT_TRUE(result.log.textGiven);
        EXPECT_EQ(Cp932ToUtf8(result.log.text), row.text);
        EXPECT_LE(result.log.text.size(), 63u);
        EXPECT_EQ(result.log.mailbox, row.mailbox);
        EXPECT_EQ(result.log.summary, row.summary);
        EXPECT_TRUE(result.orderKept) << result.orderProblem;
    }
}

TEST(ScriptedServers, APop3RefusalSaysWhatItMeans)
{
    // The reply to USER or PASS, what the tray shows, and the sentence the
    // user is told (or none). A refusal that passes shows " サーバが一時的に
    // 使えません ", on which the window keeps the schedule.
    const std::string gmailPop = "Your account is not enabled for POP access. Please visit your Gmail settings "
                                 "page and enable your account for POP access.";
    const std::string gmailApp = "Application-specific password required: "
                                 "https://support.google.com/accounts/answer/185833";
    const struct {
        bool user;  // the refusal answers USER, else PASS
        std::string reply;
        int status;
        std::string text;
        std::string alert;
        bool timerGoesOn;  // as the window judges the report's text
    } cases[] = {
        {false, "-ERR [IN-USE] Mailbox locked by another session", CHECK_FAILED, serverBusy, "", true},
        {false, "-ERR [LOGIN-DELAY] Wait 5 minutes between log-ins", CHECK_FAILED, serverBusy, "", true},
        {false, "-ERR [SYS/TEMP] Try again later", CHECK_FAILED, serverBusy, "", true},
        {false, "-ERR [in-use] locked", CHECK_FAILED, serverBusy, "", true},
        {false, "-ERR [SYS/PERM] " + gmailPop, CHECK_FAILED, commandFailed, gmailPop + "|", true},
        {false, "-ERR [AUTH] " + gmailApp, CHECK_AUTH_FAILED, wrongPassword, gmailApp + "|", false},
        {false, "-ERR [AUTH]", CHECK_AUTH_FAILED, wrongPassword, "", false},
        {false, "-ERR Invalid password", CHECK_AUTH_FAILED, wrongPassword, "", false},
        {false, "-ERR [XYZZY] Something new", CHECK_AUTH_FAILED, wrongPassword, "", false},
        {true, "-ERR [IN-USE] Mailbox locked", CHECK_FAILED, serverBusy, "", true},
    };
    std::vector<Row> rows;
    for (const auto &c : cases) {
        std::vector<ServerAction> script = {Send(greeting), Expect("USER alice\r\n")};
        if (!c.user)
            script.insert(script.end(), {Send("+OK\r\n"), Expect("PASS secret\r\n")});
        script.insert(script.end(), {Send(c.reply + "\r\n"), Expect("QUIT\r\n"), Send("+OK bye\r\n")});
        Row row = Make((c.user ? "USER: " : "PASS: ") + c.reply, script, c.status, c.text, REPORT_AFTER_CLOSE);
        row.alerts = c.alert;
        rows.push_back(row);
    }
    std::vector<bool> timerGoesOn;
    for (const auto &c : cases)
        timerGoesOn.push_back(c.timerGoesOn);
    std::vector<RowResult> results(rows.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < rows.size(); i++)
        threads.emplace_back(PlayRow, std::cref(rows[i]), "127.0.0." + std::to_string(160 + i), &results[i]);
    for (std::thread &thread : threads)
        thread.join();
    for (size_t i = 0; i < rows.size(); i++) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_TRUE(results[i].problems.empty()) << ::testing::PrintToString(results[i].problems);
        EXPECT_EQ(results[i].transcript, ExpectedClientBytes(rows[i].script));
        EXPECT_EQ(results[i].log.count, 1);
        EXPECT_EQ(results[i].log.status, rows[i].status);
        EXPECT_EQ(Cp932ToUtf8(results[i].log.text), rows[i].text);
        EXPECT_EQ(results[i].log.alerts, rows[i].alerts);
        EXPECT_EQ(FailurePasses(results[i].log.textAddress) != 0, timerGoesOn[i]);
        EXPECT_TRUE(results[i].orderKept) << results[i].orderProblem;
    }
}

}  // namespace
