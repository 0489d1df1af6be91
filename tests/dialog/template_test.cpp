// The settings dialog template as the built Tolvaran.exe carries it, read
// back from the exe's resources and compared field by field with the table.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "checkrun/check_messages.h"
#include "resources/resource.h"

namespace {

struct Control {
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    int32_t id = 0;
    std::wstring className;  // ordinals become their class names
    std::wstring text;       // an ordinal text becomes "#<number>"
    uint16_t extraBytes = 0;
};

struct DialogTemplate {
    uint16_t version = 0, signature = 0;
    uint32_t exStyle = 0, style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, className, caption, typeface;
    uint16_t pointSize = 0, weight = 0;
    uint8_t italic = 0, charset = 0;
    std::vector<Control> controls;
};

// Walks an extended dialog template in memory; 0 if it runs past the end.
class TemplateReader {
public:
    TemplateReader(const uint8_t *data, size_t size) : data(data), size(size) {}
    bool Ok() const { return ok; }
    uint16_t Word()
    {
        uint16_t v = 0;
        Take(&v, 2);
        return v;
    }
    uint32_t Dword()
    {
        uint32_t v = 0;
        Take(&v, 4);
        return v;
    }
    int Short() { return (int16_t)Word(); }
    uint8_t Byte()
    {
        uint8_t v = 0;
        Take(&v, 1);
        return v;
    }
    std::wstring String()
    {
        std::wstring s;
        for (uint16_t c = Word(); ok && c != 0; c = Word())
            s += (wchar_t)c;
        return s;
    }
    // A name or ordinal field: 0x0000 none, 0xFFFF then an ordinal, else text.
    std::wstring NameOrOrdinal()
    {
        uint16_t first = Word();
        if (first == 0)
            return L"";
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        std::wstring s(1, (wchar_t)first);
        return s + String();
    }
    void AlignDword() { offset = (offset + 3) & ~(size_t)3; }
    void Skip(size_t n)
    {
        if (offset + n > size)
            ok = false;
        offset += n;
    }

private:
    void Take(void *out, size_t n)
    {
        if (offset + n > size) {
            ok = false;
            return;
        }
        memcpy(out, data + offset, n);
        offset += n;
    }
    const uint8_t *data;
    size_t size;
    size_t offset = 0;
    bool ok = true;
};

std::wstring PredefinedClass(const std::wstring &name)
{
    static const struct {
        const wchar_t *ordinal, *name;
    } classes[] = {{L"#128", L"Button"}, {L"#129", L"Edit"},      {L"#130", L"Static"},
                   {L"#131", L"ListBox"}, {L"#132", L"ScrollBar"}, {L"#133", L"ComboBox"}};
    for (const auto &c : classes)
        if (name == c.ordinal || _wcsicmp(name.c_str(), c.name) == 0)
            return c.name;
    return name;
}

bool ParseTemplate(const uint8_t *data, size_t size, DialogTemplate *out)
{
    TemplateReader r(data, size);
    out->version = r.Word();
    out->signature = r.Word();
    r.Dword();  // help id
    out->exStyle = r.Dword();
    out->style = r.Dword();
    uint16_t count = r.Word();
    out->x = r.Short();
    out->y = r.Short();
    out->cx = r.Short();
    out->cy = r.Short();
    out->menu = r.NameOrOrdinal();
    out->className = r.NameOrOrdinal();
    out->caption = r.String();
    if (out->style & (DS_SETFONT | DS_SHELLFONT)) {
        out->pointSize = r.Word();
        out->weight = r.Word();
        out->italic = r.Byte();
        out->charset = r.Byte();
        out->typeface = r.String();
    }
    for (uint16_t i = 0; i < count && r.Ok(); i++) {
        Control c;
        r.AlignDword();
        r.Dword();  // help id
        c.exStyle = r.Dword();
        c.style = r.Dword();
        c.x = r.Short();
        c.y = r.Short();
        c.cx = r.Short();
        c.cy = r.Short();
        c.id = (int32_t)r.Dword();
        c.className = PredefinedClass(r.NameOrOrdinal());
        c.text = r.NameOrOrdinal();
        c.extraBytes = r.Word();
        r.Skip(c.extraBytes);
        out->controls.push_back(c);
    }
    return r.Ok() && out->controls.size() == count;
}

std::string Narrow(const std::wstring &w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), NULL, 0, NULL, NULL);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, NULL, NULL);
    return s;
}

class ExeTemplate : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExA(TOLVARAN_EXE, NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, (HMODULE)NULL) << TOLVARAN_EXE;
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_SETTINGS), (LPCSTR)RT_DIALOG);
        ASSERT_NE(found, (HRSRC)NULL) << "no RT_DIALOG 110 in the exe";
        HGLOBAL loaded = LoadResource(module, found);
        ASSERT_NE(loaded, (HGLOBAL)NULL);
        const uint8_t *bytes = (const uint8_t *)LockResource(loaded);
        ASSERT_TRUE(ParseTemplate(bytes, SizeofResource(module, found), &dialog));
    }
    void TearDown() override
    {
        if (module != NULL)
            FreeLibrary(module);
    }
    HMODULE module = NULL;
    DialogTemplate dialog;
};

TEST_F(ExeTemplate, DialogHeaderMatchesTheTable)
{
    EXPECT_EQ(dialog.version, 1);
    EXPECT_EQ(dialog.signature, 0xFFFF) << "not an extended template";
    EXPECT_EQ(dialog.style, (uint32_t)(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 185);
    EXPECT_EQ(dialog.cy, 185);
    EXPECT_EQ(dialog.menu, L"");
    EXPECT_EQ(dialog.className, L"");
    EXPECT_EQ(Narrow(dialog.caption), Narrow(L"\x8a2d\x5b9a"));  // 設定
    // ＭＳ Ｐゴシック
    EXPECT_EQ(Narrow(dialog.typeface),
              Narrow(L"\xff2d\xff33\x0020\xff30\x30b4\x30b7\x30c3\x30af"));
    EXPECT_EQ(dialog.pointSize, 9);
    EXPECT_EQ(dialog.weight, 0);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, DEFAULT_CHARSET);
}

TEST_F(ExeTemplate, ControlsMatchTheTableInTabOrder)
{
    const uint32_t child = WS_CHILD | WS_VISIBLE;
    const uint32_t defButton = child | BS_DEFPUSHBUTTON | WS_TABSTOP;
    const uint32_t button = child | BS_PUSHBUTTON | WS_TABSTOP;
    const uint32_t group = child | BS_GROUPBOX;
    const uint32_t rightStatic = child | SS_RIGHT | WS_GROUP;
    const uint32_t leftStatic = child | SS_LEFT | WS_GROUP;
    const uint32_t edit = child | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
    const uint32_t icon = child | SS_ICON;
    const uint32_t clear = WS_EX_TRANSPARENT;
    const struct {
        int32_t id;
        const wchar_t *className;
        uint32_t style, exStyle;
        int x, y, cx, cy;
        const wchar_t *text;
    } rows[] = {
        {IDOK, L"Button", defButton, 0, 75, 165, 50, 14, L"OK"},
        {IDCANCEL, L"Button", button, 0, 130, 165, 50, 14, L"\xff77\xff6c\xff9d\xff7e\xff99"},  // ｷｬﾝｾﾙ
        // メールサーバの設定
        {-1, L"Button", group, 0, 5, 5, 175, 95, L"\x30e1\x30fc\x30eb\x30b5\x30fc\x30d0\x306e\x8a2d\x5b9a"},
        // メールサーバ：
        {-1, L"Static", rightStatic, clear, 10, 25, 50, 15, L"\x30e1\x30fc\x30eb\x30b5\x30fc\x30d0\xff1a"},
        {-1, L"Static", rightStatic, clear, 20, 45, 40, 15, L"\x30e6\x30fc\x30b6\xff1a"},  // ユーザ：
        // パスワード：
        {-1, L"Static", rightStatic, clear, 20, 65, 40, 15, L"\x30d1\x30b9\x30ef\x30fc\x30c9\xff1a"},
        // 新着メールを
        {-1, L"Static", rightStatic, clear, 15, 85, 45, 10, L"\x65b0\x7740\x30e1\x30fc\x30eb\x3092"},
        // 分毎に確認します
        {-1, L"Static", rightStatic, clear, 95, 85, 55, 10,
         L"\x5206\x6bce\x306b\x78ba\x8a8d\x3057\x307e\x3059"},
        // ダブルクリック時の設定
        {-1, L"Button", group, 0, 5, 105, 175, 55,
         L"\x30c0\x30d6\x30eb\x30af\x30ea\x30c3\x30af\x6642\x306e\x8a2d\x5b9a"},
        // 実行ファイル
        {-1, L"Static", leftStatic, 0, 10, 120, 100, 20, L"\x5b9f\x884c\x30d5\x30a1\x30a4\x30eb"},
        {-1, L"Static", leftStatic, 0, 115, 120, 60, 20, L"\x30d1\x30e9\x30e1\x30fc\x30bf"},  // パラメータ
        {IDC_SERVER, L"Edit", edit, 0, 66, 20, 90, 15, L""},
        {IDC_USER, L"Edit", edit, 0, 66, 40, 65, 15, L""},
        {IDC_PASSWORD, L"Edit", edit | ES_PASSWORD, 0, 66, 60, 65, 15, L""},
        {IDC_INTERVAL, L"Edit", edit, 0, 66, 80, 25, 15, L""},
        {IDC_LAUNCH_PROGRAM, L"Edit", edit, 0, 10, 135, 100, 15, L""},
        {IDC_LAUNCH_PARAMETERS, L"Edit", edit, 0, 115, 135, 60, 15, L""},
        {-1, L"Static", icon, 0, 150, 53, 18, 20, L"#100"},  // IDI_APP by number
    };
    const size_t expected = sizeof rows / sizeof rows[0];
    ASSERT_EQ(expected, 18u);
    ASSERT_EQ(dialog.controls.size(), expected);
    for (size_t i = 0; i < expected; i++) {
        const auto &row = rows[i];
        const Control &c = dialog.controls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        EXPECT_EQ(c.id, row.id);
        EXPECT_EQ(Narrow(c.className), Narrow(row.className));
        EXPECT_EQ(c.style, row.style) << std::hex << "differs by 0x" << (c.style ^ row.style);
        EXPECT_EQ(c.exStyle, row.exStyle);
        EXPECT_EQ(c.x, row.x);
        EXPECT_EQ(c.y, row.y);
        EXPECT_EQ(c.cx, row.cx);
        EXPECT_EQ(c.cy, row.cy);
        EXPECT_EQ(Narrow(c.text), Narrow(row.text));
        EXPECT_EQ(c.extraBytes, 0);
    }
}

}  // namespace
