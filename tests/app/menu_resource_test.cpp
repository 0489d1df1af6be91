// The tray menu as the resources carry it: the exact Unicode texts, the
// commands and their order, and a pop-up title that is only a name; the
// icons at every size the display scales ask for.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "checkrun/check_messages.h"
#include "resources/resource.h"
#include "test_support.h"

namespace {

struct Entry {
    UINT id;  // 0 for the separator
    std::wstring text;
    UINT type;
    UINT state;
};

std::vector<Entry> ReadPopup(HMENU popup)
{
    std::vector<Entry> entries;
    int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = L"";
        MENUITEMINFOW item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING | MIIM_SUBMENU;
        item.dwTypeData = text;
        item.cch = 63;
        GetMenuItemInfoW(popup, i, TRUE, &item);
        entries.push_back({item.wID, text, item.fType, item.fState});
    }
    return entries;
}

TEST(TrayMenuResource, EntriesAreTheExactTextsAndCommands)
{
    HMENU menu = LoadMenuW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDR_TRAY_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 1) << "one pop-up";
    wchar_t title[32] = L"";
    GetMenuStringW(menu, 0, title, 32, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(title), L"Tolvaran");
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);

    std::vector<Entry> entries = ReadPopup(popup);
    ASSERT_EQ(entries.size(), 5u);
    // 新着チェック, 設定..., メールボックスを追加..., separator, 終了
    EXPECT_EQ(entries[0].text, L"\u65b0\u7740\u30c1\u30a7\u30c3\u30af");
    EXPECT_EQ(entries[0].id, (UINT)IDM_CHECK_NOW);
    EXPECT_EQ(entries[1].text, L"\u8a2d\u5b9a...");
    EXPECT_EQ(entries[1].id, (UINT)IDM_SETTINGS);
    EXPECT_EQ(entries[2].text, L"\u30e1\u30fc\u30eb\u30dc\u30c3\u30af\u30b9\u3092\u8ffd\u52a0...");
    EXPECT_EQ(entries[2].id, (UINT)IDM_ADD_MAILBOX);
    EXPECT_TRUE(entries[3].type & MFT_SEPARATOR);
    EXPECT_EQ(entries[4].text, L"\u7d42\u4e86");
    EXPECT_EQ(entries[4].id, (UINT)IDM_EXIT);
    // 設定 for the sub-menu, and the question before a removal.
    wchar_t text[64] = L"";
    EXPECT_GT(LoadStringW(GetModuleHandleW(NULL), IDS_SETTINGS_MENU, text, 64), 0);
    EXPECT_EQ(std::wstring(text), L"\u8a2d\u5b9a");
    EXPECT_GT(LoadStringW(GetModuleHandleW(NULL), IDS_REMOVE_MAILBOX, text, 64), 0);
    // このメールボックスを削除しますか？
    EXPECT_EQ(std::wstring(text), L"\u3053\u306e\u30e1\u30fc\u30eb\u30dc\u30c3\u30af\u30b9\u3092\u524a"
                                  L"\u9664\u3057\u307e\u3059\u304b\uff1f");
    for (const Entry &e : entries) {
        if (!(e.type & MFT_SEPARATOR)) {
            EXPECT_EQ(e.state & (MFS_DEFAULT | MFS_CHECKED | MFS_GRAYED), 0u) << e.id;
        }
    }
    DestroyMenu(menu);
}

TEST(TrayMenuResource, AnsiTextsAreCodePage932)
{
    // What an ANSI caller of the menu sees, as code page 932 bytes.
    HMENU menu = LoadMenuA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    ASSERT_NE(menu, nullptr);
    HMENU popup = GetSubMenu(menu, 0);
    char text[64];
    struct {
        UINT id;
        const char *bytes;
    } cases[] = {
        {IDM_CHECK_NOW, "\x90\x56\x92\x85\x83\x60\x83\x46\x83\x62\x83\x4e"},  // 新着チェック
        {IDM_SETTINGS, "\x90\xdd\x92\xe8..."},                                // 設定...
        {IDM_EXIT, "\x8f\x49\x97\xb9"},                                       // 終了
    };
    for (const auto &c : cases) {
        GetMenuStringA(popup, c.id, text, sizeof text, MF_BYCOMMAND);
        EXPECT_EQ(std::string(text), c.bytes) << c.id;
    }
    DestroyMenu(menu);
}

TEST(TrayIconResources, EveryStatusIconLoads)
{
    HINSTANCE self = GetModuleHandleA(NULL);
    for (int id : {IDI_APP, IDI_NO_MAIL, IDI_NEW_MAIL, IDI_CHECK_ERROR, IDI_AUTH_ERROR}) {
        HICON icon = LoadIconA(self, MAKEINTRESOURCEA(id));
        EXPECT_NE(icon, nullptr) << id;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info)) << id;
        BITMAP mask = {};
        GetObjectA(info.hbmMask, sizeof mask, &mask);
        EXPECT_EQ(mask.bmWidth, GetSystemMetrics(SM_CXICON)) << id;
        DeleteObject(info.hbmMask);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
    }
}

TEST(TrayIconResources, EverySizeHasItsOwnImageWithSoftEdges)
{
    HINSTANCE self = GetModuleHandleA(NULL);
    for (int id : {IDI_APP, IDI_NO_MAIL, IDI_NEW_MAIL, IDI_CHECK_ERROR, IDI_AUTH_ERROR}) {
        for (int size : {16, 20, 24, 32, 40, 48, 64}) {
            SCOPED_TRACE("icon " + std::to_string(id) + " at " + std::to_string(size));
            HICON icon = LoadIconAtSize(self, id, size);
            int width = 0;
            std::string pixels = IconPixels(icon, &width);
            EXPECT_EQ(width, size);
            // A picture drawn for this size has partly transparent edge
            // pixels; a 16-colour image, or one stretched, has none.
            int soft = 0;
            for (size_t i = 3; i < pixels.size(); i += 4)
                soft += pixels[i] != 0 && pixels[i] != '\xff';
            EXPECT_GE(soft, size);
            DestroyIcon(icon);
        }
    }
}

}  // namespace
