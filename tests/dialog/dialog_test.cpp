// The real settings dialog run modally on the test thread and driven with
// window messages from a timer inside its own modal loop: what it shows,
// where it stands, what OK and Cancel leave in memory and in the INI file.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>

#include "checkrun/check_messages.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"
#include "test_support.h"

namespace {

// cp932 test values; each decodes to the text in its comment (checked below).
const char serverJa[] = "\x83\x54\x81\x5b\x83\x6f";        // サーバ
const char userJa[] = "\x83\x86\x81\x5b\x83\x55";          // ユーザ
const char passwordJa[] = "\x83\x70\x83\x58\x95\x5c";      // パス表
const char kanji[] = "\x95\x5c";                           // 表, second byte 0x5C

TEST(DialogTestData, Cp932ConstantsDecodeToTheirText)
{
    EXPECT_EQ(Cp932ToUtf8(serverJa), u8"\u30b5\u30fc\u30d0");
    EXPECT_EQ(Cp932ToUtf8(userJa), u8"\u30e6\u30fc\u30b6");
    EXPECT_EQ(Cp932ToUtf8(passwordJa), u8"\u30d1\u30b9\u8868");
}

// ---- Driving the modal dialog from inside its own message loop ----

// This program, whose resources hold the dialog template.
HINSTANCE moduleInstance;

std::function<void(HWND)> pendingScript;
UINT_PTR scriptTimer, watchdogTimer;

BOOL CALLBACK FindDialogProc(HWND window, LPARAM found)
{
    char className[16];
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") == 0 && IsWindowVisible(window)) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindOwnDialog()
{
    HWND found = NULL;
    EnumThreadWindows(GetCurrentThreadId(), FindDialogProc, (LPARAM)&found);
    return found;
}

BOOL CALLBACK CountDialogProc(HWND window, LPARAM counter)
{
    char className[16];
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") == 0)
        ++*(int *)counter;
    return TRUE;
}

int CountOwnDialogs()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountDialogProc, (LPARAM)&count);
    return count;
}

void CALLBACK ScriptTimerProc(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND dialog = FindOwnDialog();
    if (dialog == NULL)
        return;  // not shown yet; the timer comes again
    KillTimer(NULL, id);
    scriptTimer = 0;
    auto script = pendingScript;
    pendingScript = nullptr;
    script(dialog);
    if (::testing::Test::HasFatalFailure())
        EndDialog(dialog, -2);
}

void CALLBACK WatchdogTimerProc(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(NULL, id);
    watchdogTimer = 0;
    ADD_FAILURE() << "the dialog did not close";
    HWND dialog = FindOwnDialog();
    if (dialog != NULL)
        EndDialog(dialog, -3);
}

void ArmScript(std::function<void(HWND)> script)
{
    pendingScript = std::move(script);
    scriptTimer = SetTimer(NULL, 0, 20, ScriptTimerProc);
    watchdogTimer = SetTimer(NULL, 0, 15000, WatchdogTimerProc);
}

void DisarmScript()
{
    if (scriptTimer)
        KillTimer(NULL, scriptTimer);
    if (watchdogTimer)
        KillTimer(NULL, watchdogTimer);
    scriptTimer = watchdogTimer = 0;
    pendingScript = nullptr;
}

// Runs the dialog the way the settings command does; the script gets the
// open dialog and must close it. Returns the dialog's result.
INT_PTR RunDriven(std::function<void(HWND)> script)
{
    ArmScript(std::move(script));
    INT_PTR result = DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(IDD_SETTINGS), NULL,
                                     SettingsDialogProc, 0);
    DisarmScript();
    return result;
}

std::string Text(HWND dialog, int id)
{
    char text[2048];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void SetText(HWND dialog, int id, const std::string &text)
{
    SetDlgItemTextA(dialog, id, text.c_str());
}

void Click(HWND dialog, int id)
{
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// A key as the keyboard would deliver it: posted to the focused control,
// so the dialog manager sees it in its loop.
void PostKey(HWND dialog, UINT key)
{
    HWND target = GetFocus();
    if (target == NULL || GetParent(target) != dialog)
        target = GetDlgItem(dialog, IDC_SERVER);
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

void FillAll(HWND dialog, const char *server, const char *user, const char *password,
             const char *minutes, const char *program, const char *parameters)
{
    SetText(dialog, IDC_SERVER, server);
    SetText(dialog, IDC_USER, user);
    SetText(dialog, IDC_PASSWORD, password);
    SetText(dialog, IDC_INTERVAL, minutes);
    SetText(dialog, IDC_LAUNCH_PROGRAM, program);
    SetText(dialog, IDC_LAUNCH_PARAMETERS, parameters);
}

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        moduleInstance = GetModuleHandleA(NULL);
        directory = MakeScratchDirectory("dialog");
        path = directory + "\\Tolvaran.ini";
        strcpy(iniPathBuffer, path.c_str());
        strcpy(loginBuffer, "tester");
        iniPath = iniPathBuffer;
        loginName = loginBuffer;
        memset(&mailSettings, 0, sizeof mailSettings);
    }
    void TearDown() override
    {
        DeleteFileA(path.c_str());
        RemoveDirectoryA(directory.c_str());
    }
    std::string directory, path;
    char iniPathBuffer[MAX_PATH];
    char loginBuffer[64];
};

TEST_F(SettingsDialog, OpensWithTheStoredValuesAndTheServerSelected)
{
    FillSettings(serverJa, userJa, passwordJa, "C:\\\x95\x5c\\mail.exe", "/n \"x\"", 5 * 60000);
    std::string shown[6];
    DWORD selStart = 99, selEnd = 99;
    HWND focus = NULL, server = NULL;
    LRESULT limit = 0, passwordChar = 0;
    INT_PTR result = RunDriven([&](HWND dialog) {
        const int ids[6] = {IDC_SERVER, IDC_USER, IDC_PASSWORD, IDC_INTERVAL, IDC_LAUNCH_PROGRAM,
                            IDC_LAUNCH_PARAMETERS};
        for (int i = 0; i < 6; i++)
            shown[i] = Text(dialog, ids[i]);
        server = GetDlgItem(dialog, IDC_SERVER);
        focus = GetFocus();
        SendMessageA(server, EM_GETSEL, (WPARAM)&selStart, (LPARAM)&selEnd);
        limit = SendDlgItemMessageA(dialog, IDC_INTERVAL, EM_GETLIMITTEXT, 0, 0);
        passwordChar = SendDlgItemMessageA(dialog, IDC_PASSWORD, EM_GETPASSWORDCHAR, 0, 0);
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(shown[0], serverJa);
    EXPECT_EQ(shown[1], userJa);
    EXPECT_EQ(shown[2], passwordJa) << "the control holds the plain text and hides it";
    EXPECT_EQ(shown[3], "5");
    EXPECT_EQ(shown[4], "C:\\\x95\x5c\\mail.exe");
    EXPECT_EQ(shown[5], "/n \"x\"");
    EXPECT_EQ(focus, server);
    // Selection positions count characters: サーバ is three.
    EXPECT_EQ(selStart, 0u);
    EXPECT_EQ(selEnd, 3u);
    EXPECT_EQ(limit, 4);
    EXPECT_NE(passwordChar, 0) << "password characters are not hidden";
}

TEST_F(SettingsDialog, StandsInTheBottomRightCornerOfTheWorkArea)
{
    RECT original;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &original, 0));
    // The full work area, then one shrunk by a taskbar on the right and at
    // the bottom, and one shrunk from the top left (which must not matter).
    const RECT areas[] = {
        original,
        {original.left, original.top, original.right - 100, original.bottom - 60},
        {original.left + 150, original.top + 40, original.right, original.bottom},
    };
    for (const RECT &area : areas) {
        RECT wanted = area;
        SystemParametersInfoA(SPI_SETWORKAREA, 0, &wanted, 0);
        RECT seen;
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &seen, 0);
        RECT window = {};
        BOOL visible = FALSE;
        RunDriven([&](HWND dialog) {
            GetWindowRect(dialog, &window);
            visible = IsWindowVisible(dialog);
            Click(dialog, IDCANCEL);
        });
        SCOPED_TRACE("work area " + std::to_string(seen.left) + "," + std::to_string(seen.top) +
                     "-" + std::to_string(seen.right) + "," + std::to_string(seen.bottom));
        EXPECT_EQ(window.right, seen.right);
        EXPECT_EQ(window.bottom, seen.bottom);
        EXPECT_GT(window.right - window.left, 200);
        EXPECT_GT(window.bottom - window.top, 200);
        EXPECT_TRUE(visible);
    }
    SystemParametersInfoA(SPI_SETWORKAREA, 0, &original, 0);
}

TEST_F(SettingsDialog, OkStoresEveryFieldAndWritesTheIniBytes)
{
    WriteFileBytes(path, "[other]\r\nMAIL_SERV=keep\r\n");
    FillSettings("old.example.jp", "old", "oldpw", "old.exe", "-o", 5 * 60000);
    INT_PTR result = RunDriven([&](HWND dialog) {
        FillAll(dialog, "127.0.0.4", userJa, "pass word", "10", "C:\\mail\\mailer.exe", "-n");
        Click(dialog, IDOK);
    });
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(mailSettings.mailbox[0].serverName, "127.0.0.4");
    EXPECT_STREQ(mailSettings.mailbox[0].userName, userJa);
    EXPECT_STREQ(mailSettings.mailbox[0].password, "pass word");
    EXPECT_STREQ(mailSettings.mailbox[0].launchProgram, "C:\\mail\\mailer.exe");
    EXPECT_STREQ(mailSettings.mailbox[0].launchParameters, "-n");
    EXPECT_EQ(mailSettings.mailbox[0].intervalMs, 10 * 60000);
    EXPECT_EQ(ReadFileBytes(path), std::string("[other]\r\nMAIL_SERV=keep\r\n"
                                               "[tester]\r\n"
                                               "MAIL_SERV=127.0.0.4\r\n"
                                               "MAIL_USER=") +
                                       userJa +
                                       "\r\n"
                                       "MAIL_PASS=cGFzcyB3b3Jk\r\n"
                                       "MAIL_APPA=C:\\mail\\mailer.exe\r\n"
                                       "MAIL_APPP=-n\r\n"
                                       "MAIL_TIME=10\r\n");
}

TEST_F(SettingsDialog, EveryWayOfClosingGivesItsResultAndFileBytes)
{
    const std::string before = "[tester]\r\nMAIL_SERV=old.example.jp\r\nMAIL_TIME=5\r\n; note\r\n";
    const std::string after = "[tester]\r\nMAIL_SERV=new.example.jp\r\nMAIL_TIME=7\r\n; note\r\n"
                              "MAIL_USER=u\r\nMAIL_PASS=cA==\r\nMAIL_APPA=\r\nMAIL_APPP=\r\n";
    const struct {
        const char *how;
        std::function<void(HWND)> close;
        INT_PTR result;
        bool saved;
    } rows[] = {
        {"OK button", [](HWND d) { Click(d, IDOK); }, 1, true},
        {"Enter key", [](HWND d) { PostKey(d, VK_RETURN); }, 1, true},
        {"Cancel button", [](HWND d) { Click(d, IDCANCEL); }, 0, false},
        {"Escape key", [](HWND d) { PostKey(d, VK_ESCAPE); }, 0, false},
        {"close box", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, 0, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.how);
        WriteFileBytes(path, before);
        FillSettings("old.example.jp", "old", "oldpw", "old.exe", "-o", 5 * 60000);
        MailSettings snapshot = mailSettings;
        INT_PTR result = RunDriven([&](HWND dialog) {
            FillAll(dialog, "new.example.jp", "u", "p", "7", "", "");
            row.close(dialog);
        });
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(ReadFileBytes(path), row.saved ? after : before);
        if (row.saved)
            EXPECT_EQ(mailSettings.mailbox[0].intervalMs, 7 * 60000);
        else
            EXPECT_EQ(memcmp(&mailSettings, &snapshot, sizeof snapshot), 0)
                << "Cancel changed the settings in memory";
    }
}

TEST_F(SettingsDialog, OkKeepsTheNewValuesAndSaysSoWhenTheFileCannotBeWritten)
{
    const std::string missing = directory + "\\missing\\Tolvaran.ini";
    const struct {
        const char *how;
        std::string file;
        int button;
        int ended;
        const char *server;
    } rows[] = {
        {"OK, writable file", path, IDOK, SETTINGS_ENDED, "new.example.jp"},
        {"OK, missing directory", missing, IDOK, SETTINGS_NOT_SAVED, "new.example.jp"},
        {"Cancel, missing directory", missing, IDCANCEL, SETTINGS_ENDED, "old.example.jp"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.how);
        strcpy(iniPathBuffer, row.file.c_str());
        FillSettings("old.example.jp", "old", "oldpw", "", "", 5 * 60000);
        ArmScript([&](HWND dialog) {
            FillAll(dialog, "new.example.jp", "u", "p", "7", "", "");
            Click(dialog, row.button);
        });
        EXPECT_EQ(RunSettingsDialog(moduleInstance, NULL, 0), row.ended);
        DisarmScript();
        EXPECT_STREQ(mailSettings.mailbox[0].serverName, row.server);
        DeleteFileA(path.c_str());
    }
}

// The question the dialog asks before a removal, answered with
// questionAnswer as soon as it shows; its text is kept.
int questionAnswer;
std::wstring questionText;

BOOL CALLBACK FindQuestionProc(HWND window, LPARAM found)
{
    char className[16];
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") == 0 && IsWindowVisible(window) && GetWindow(window, GW_OWNER) != NULL) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AnswerQuestionProc(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND box = NULL;
    EnumThreadWindows(GetCurrentThreadId(), FindQuestionProc, (LPARAM)&box);
    if (box == NULL)
        return;
    KillTimer(NULL, id);
    wchar_t text[128] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 128);
    questionText = text;
    SendMessageA(GetDlgItem(box, questionAnswer), BM_CLICK, 0, 0);
}

TEST_F(SettingsDialog, AMailboxAfterTheFirstIsAddedOrRemovedHere)
{
    // The table holds mailbox 1 (and mailbox 2, "work", where count is 2).
    const struct {
        const char *what;
        int count;
        int index;
        const char *server;  // typed
        int button;          // closes the dialog
        int answer;          // to the question before a removal, 0: none asked
        int ended;
        int countAfter;
    } rows[] = {
        {"a new mailbox with a server", 1, 1, "imap.example.jp", IDOK, 0, SETTINGS_ADDED, 2},
        {"a new mailbox cancelled", 1, 1, "imap.example.jp", IDCANCEL, 0, SETTINGS_ENDED, 1},
        {"a new mailbox without a server", 1, 1, "", IDOK, 0, SETTINGS_ENDED, 1},
        {"mailbox 2 emptied, and yes", 2, 1, "", IDOK, IDYES, SETTINGS_REMOVE, 2},
        {"mailbox 2 emptied, and no: the dialog stays", 2, 1, "", IDOK, IDNO, SETTINGS_ENDED, 2},
        {"mailbox 1 emptied: no question, as ever", 2, 0, "", IDOK, 0, SETTINGS_ENDED, 2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        DeleteFileA(path.c_str());
        memset(&mailSettings, 0, sizeof mailSettings);
        FillSettings("pop.example.jp", "one", "pw", "", "", 60000);
        mailSettings.mailboxCount = row.count;
        mailSettings.mailbox[0].number = 1;
        mailSettings.mailbox[1].number = 2;
        strcpy(mailSettings.mailbox[1].serverName, "imaps://two.example.jp");
        strcpy(mailSettings.mailbox[1].label, "work");
        questionText.clear();
        questionAnswer = row.answer;
        std::wstring caption, server;
        ArmScript([&](HWND dialog) {
            wchar_t text[128] = L"";
            GetWindowTextW(dialog, text, 128);
            caption = text;
            GetDlgItemTextW(dialog, IDC_SERVER, text, 128);
            server = text;
            SetText(dialog, IDC_SERVER, row.server);
            UINT_PTR answering = row.answer ? SetTimer(NULL, 0, 20, AnswerQuestionProc) : 0;
            Click(dialog, row.button);
            if (answering && IsWindow(dialog))
                KillTimer(NULL, answering);
            if (row.answer == IDNO)
                Click(dialog, IDCANCEL);  // still open after the no
        });
        EXPECT_EQ(RunSettingsDialog(moduleInstance, NULL, row.index), row.ended);
        DisarmScript();
        EXPECT_EQ(mailSettings.mailboxCount, row.countAfter);
        // 設定 - work for mailbox 2 among two; today's 設定 otherwise.
        EXPECT_EQ(caption, row.count == 2 ? L"\u8a2d\u5b9a - " + std::wstring(row.index == 1 ? L"work" : L"pop.example.jp")
                                          : std::wstring(L"\u8a2d\u5b9a"));
        EXPECT_EQ(server, row.index < row.count ? std::wstring(row.index ? L"imaps://two.example.jp" : L"pop.example.jp")
                                                : std::wstring());
        // このメールボックスを削除しますか？
        EXPECT_EQ(questionText, row.answer ? L"\u3053\u306e\u30e1\u30fc\u30eb\u30dc\u30c3\u30af\u30b9\u3092\u524a"
                                             L"\u9664\u3057\u307e\u3059\u304b\uff1f"
                                           : L"");
        if (row.ended == SETTINGS_ADDED) {
            EXPECT_EQ(mailSettings.mailbox[1].number, 2);
            EXPECT_NE(ReadFileBytes(path).find("MAIL_SERV2=imap.example.jp"), std::string::npos);
        }
    }
}

TEST_F(SettingsDialog, MinutesGetTheOneMinuteFloorOnOk)
{
    const struct {
        const char *typed;
        int intervalMs;
        const char *saved;
    } rows[] = {
        {"", 60000, "1"},          {"0", 60000, "1"},          {"abc", 60000, "1"},
        {"-5", 60000, "1"},        {"10", 600000, "10"},       {"2x", 120000, "2"},
        {" 3", 180000, "3"},       {"+4", 240000, "4"},        {"9999", 9999 * 60000, "9999"},
        {"35792", 35791 * 60000, "35791"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string("minutes \"") + row.typed + "\"");
        FillSettings("s", "u", "p", "", "", 5 * 60000);
        RunDriven([&](HWND dialog) {
            SetText(dialog, IDC_INTERVAL, row.typed);
            Click(dialog, IDOK);
        });
        EXPECT_EQ(mailSettings.mailbox[0].intervalMs, row.intervalMs);
        std::string bytes = ReadFileBytes(path);
        EXPECT_NE(bytes.find(std::string("\r\nMAIL_TIME=") + row.saved + "\r\n"), std::string::npos)
            << bytes;
        DeleteFileA(path.c_str());
    }
}

TEST_F(SettingsDialog, MinutesTypedStopAtFourButAStoredFiveDigitValueSurvives)
{
    FillSettings("s", "u", "p", "", "", 12345 * 60000);
    std::string shown, typed;
    RunDriven([&](HWND dialog) {
        shown = Text(dialog, IDC_INTERVAL);
        Click(dialog, IDOK);
    });
    EXPECT_EQ(shown, "12345");
    EXPECT_EQ(mailSettings.mailbox[0].intervalMs, 12345 * 60000);
    EXPECT_NE(ReadFileBytes(path).find("\r\nMAIL_TIME=12345\r\n"), std::string::npos);

    RunDriven([&](HWND dialog) {
        HWND minutes = GetDlgItem(dialog, IDC_INTERVAL);
        SetFocus(minutes);
        SetWindowTextA(minutes, "");
        for (char c : std::string("123456"))
            SendMessageA(minutes, WM_CHAR, (WPARAM)c, 1);
        typed = Text(dialog, IDC_INTERVAL);
        Click(dialog, IDOK);
    });
    EXPECT_EQ(typed, "1234");
    EXPECT_EQ(mailSettings.mailbox[0].intervalMs, 1234 * 60000);
}

TEST_F(SettingsDialog, OverlongTextIsCutWithoutSplittingACharacter)
{
    // "a" and 150 times 表: 301 bytes; a 256-byte field keeps "a" and 127 of
    // them (255 bytes), a 260-byte field "a" and 129 (259 bytes).
    std::string longText = "a";
    for (int i = 0; i < 150; i++)
        longText += kanji;
    RunDriven([&](HWND dialog) {
        FillAll(dialog, longText.c_str(), longText.c_str(), longText.c_str(), "1",
                longText.c_str(), longText.c_str());
        Click(dialog, IDOK);
    });
    EXPECT_EQ(std::string(mailSettings.mailbox[0].serverName), longText.substr(0, 255));
    EXPECT_EQ(std::string(mailSettings.mailbox[0].userName), longText.substr(0, 255));
    EXPECT_EQ(std::string(mailSettings.mailbox[0].password), longText.substr(0, 255));
    EXPECT_EQ(std::string(mailSettings.mailbox[0].launchProgram), longText.substr(0, 259));
    EXPECT_EQ(std::string(mailSettings.mailbox[0].launchParameters), longText.substr(0, 259));
}

// Holds the settings lock from another thread while the dialog's OK runs:
// the new credentials must not appear until the lock is released.
struct LockHolder {
    HANDLE holding = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::string serverSeen, userSeen, passwordSeen;
};

DWORD WINAPI HoldLockProc(void *param)
{
    LockHolder *holder = (LockHolder *)param;
    LockSettings();
    SetEvent(holder->holding);
    Sleep(400);
    holder->serverSeen = mailSettings.mailbox[0].serverName;
    holder->userSeen = mailSettings.mailbox[0].userName;
    holder->passwordSeen = mailSettings.mailbox[0].password;
    UnlockSettings();
    return 0;
}

TEST_F(SettingsDialog, CredentialsAreWrittenUnderTheSettingsLock)
{
    FillSettings("old.example.jp", "old", "oldpw", "", "", 60000);
    LockHolder holder;
    HANDLE thread = NULL;
    RunDriven([&](HWND dialog) {
        FillAll(dialog, "new.example.jp", "new", "newpw", "1", "", "");
        thread = CreateThread(NULL, 0, HoldLockProc, &holder, 0, NULL);
        WaitForSingleObject(holder.holding, 5000);
        Click(dialog, IDOK);  // waits for the lock inside
    });
    ASSERT_NE(thread, (HANDLE)NULL);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(holder.holding);
    EXPECT_EQ(holder.serverSeen, "old.example.jp");
    EXPECT_EQ(holder.userSeen, "old");
    EXPECT_EQ(holder.passwordSeen, "oldpw");
    EXPECT_STREQ(mailSettings.mailbox[0].serverName, "new.example.jp");
    EXPECT_STREQ(mailSettings.mailbox[0].userName, "new");
    EXPECT_STREQ(mailSettings.mailbox[0].password, "newpw");
}

TEST_F(SettingsDialog, SecondRequestWhileOpenOnlyRaisesTheOpenDialog)
{
    FillSettings("s", "u", "p", "", "", 60000);
    int inner = -1, dialogs = 0;
    HWND raised = NULL, open = NULL, before = NULL;
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL,
                                 NULL, moduleInstance, NULL);
    ASSERT_NE(other, (HWND)NULL);
    ArmScript([&](HWND dialog) {
        open = dialog;
        SetForegroundWindow(other);
        before = GetForegroundWindow();
        inner = RunSettingsDialog(moduleInstance, NULL, 0);
        dialogs = CountOwnDialogs();
        raised = GetForegroundWindow();
        Click(dialog, IDCANCEL);
    });
    int outer = RunSettingsDialog(moduleInstance, NULL, 0);
    DisarmScript();
    DestroyWindow(other);
    EXPECT_EQ(outer, 1);
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(before, other);
    EXPECT_EQ(raised, open) << "the open dialog was not brought to the front";

    // Once closed, the next request opens a dialog again; OK also gives 1.
    int shown = 0;
    ArmScript([&](HWND dialog) {
        shown = 1;
        Click(dialog, IDOK);
    });
    EXPECT_EQ(RunSettingsDialog(moduleInstance, NULL, 0), 1);
    DisarmScript();
    EXPECT_EQ(shown, 1);
}

}  // namespace
