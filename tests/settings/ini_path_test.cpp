// Where the INI file lands, for real programs run from awkward paths.
#include <gtest/gtest.h>

#include <string>

#include "settings/settings.h"
#include "test_support.h"

namespace {

const std::string kanji = "\x95\x5c";  // 表: its second byte is the code of '\'

// Copies the probe to directory\name, runs it there and returns what it wrote.
std::string IniPathSeenFrom(const std::string &directory, const std::string &name)
{
    std::string program = directory + "\\" + name;
    std::string report = directory.substr(0, directory.find("\\tolvaran-") + 1) + name + ".txt";
    if (!CopyFileA(INI_PATH_PROBE, program.c_str(), FALSE))
        return "<copy failed>";
    int code = RunProgram("\"" + program + "\" \"" + report + "\"", 30000);
    std::string seen = code == 0 ? ReadFileBytes(report) : "<exit " + std::to_string(code) + ">";
    DeleteFileA(report.c_str());
    DeleteFileA(program.c_str());
    return seen;
}

// Creates directory levels below base until the path is exactly length bytes.
std::string MakeDirectoryOfLength(const std::string &base, size_t length)
{
    std::string path = base;
    while (path.size() < length) {
        size_t segment = length - path.size() - 1;
        if (segment > 60)
            segment = 60;
        path += "\\" + std::string(segment, 'd');
        CreateDirectoryA(path.c_str(), NULL);
    }
    return path;
}

TEST(IniPath, LiesBesideTheRunningProgram)
{
    char module[MAX_PATH];
    GetModuleFileNameA(NULL, module, sizeof module);
    std::string expected(module);
    expected = expected.substr(0, expected.rfind('\\')) + "\\Tolvaran.ini";
    char *path = MakeIniPath(GetModuleHandleA(NULL));
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), expected);
}

TEST(IniPath, DoubleByteNamesAreNotCutAtTheirSecondByte)
{
    std::string scratch = MakeScratchDirectory("dbcs");
    std::string kanjiDirectory = scratch + "\\" + kanji;
    CreateDirectoryA(kanjiDirectory.c_str(), NULL);

    const struct {
        std::string directory, name;
    } rows[] = {
        {scratch, kanji + ".exe"},
        {scratch, "a" + kanji + kanji + ".exe"},
        {kanjiDirectory, kanji + ".exe"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(IniPathSeenFrom(row.directory, row.name), row.directory + "\\Tolvaran.ini")
            << Cp932ToUtf8(row.name);
}

TEST(IniPath, TooLongForTheFileNameGivesNoPath)
{
    std::string scratch = MakeScratchDirectory("long");
    // 245 bytes of directory: the program's path fits, "\Tolvaran.ini" would not.
    std::string fits = MakeDirectoryOfLength(scratch, 246);
    EXPECT_EQ(IniPathSeenFrom(fits, "p.exe"), fits + "\\Tolvaran.ini");
    std::string tooLong = MakeDirectoryOfLength(scratch, 247);
    EXPECT_EQ(IniPathSeenFrom(tooLong, "p.exe"), "(null)");
    std::string longest = MakeDirectoryOfLength(scratch, 252);
    EXPECT_EQ(IniPathSeenFrom(longest, "p.exe"), "(null)");
    // 259 bytes of program path: the module path comes back cut.
    std::string cut = MakeDirectoryOfLength(scratch, 253);
    EXPECT_EQ(IniPathSeenFrom(cut, "p.exe"), "(null)");
}

}  // namespace
