#include <gtest/gtest.h>

#include <fstream>

#include "common/IniFile.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

std::string Utf16(const std::string& ascii, bool bigEndian)
{
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        if (bigEndian) out += '\0';
        out += c;
        if (!bigEndian) out += '\0';
    }
    return out;
}

TEST(IniFile, PrivateProfileSemantics)
{
    CIniFile ini = CIniFile::Parse(
        "; comment\r\n"
        "[LangList]\r\n"
        "  RpoDebug = 1  \r\n"
        "rpodebug=2\r\n"
        "Quoted=\"  spaced  \"\r\n"
        "Empty=\r\n"
        "[langlist]\r\n"
        "Later=3\r\n"
        "[Other]\n"
        "Key=abc\n");
    EXPECT_EQ(ini.GetInt("langlist", "RPODEBUG", 0), 1) << "case-blind, first key wins";
    EXPECT_EQ(ini.GetString("LangList", "Quoted", ""), "  spaced  ");
    EXPECT_EQ(ini.GetString("LangList", "Empty", "d"), "");
    EXPECT_EQ(ini.GetInt("LangList", "Later", 0), 3) << "a repeated section adds to the first";
    EXPECT_EQ(ini.GetInt("Other", "Key", 9), 0) << "not a number reads as 0";
    EXPECT_EQ(ini.GetInt("Other", "Missing", 9), 9);
    EXPECT_EQ(ini.GetInt("Missing", "Key", -4), -4);
}

TEST(IniFile, Integers)
{
    CIniFile ini = CIniFile::Parse("[S]\na=12abc\nb=-7\nc=+5\nd= 99999999999\ne=0x10\n");
    EXPECT_EQ(ini.GetInt("S", "a", 0), 12);
    EXPECT_EQ(ini.GetInt("S", "b", 0), -7);
    EXPECT_EQ(ini.GetInt("S", "c", 0), 5);
    EXPECT_EQ(ini.GetInt("S", "d", 0), 0x7FFFFFFF);
    EXPECT_EQ(ini.GetInt("S", "e", 1), 0);
}

TEST(IniFile, Encodings)
{
    const std::string text = "[LangList]\r\nRpoDebug=1\r\nName=x\r\n";
    for (bool be : {false, true}) {
        CIniFile ini = CIniFile::Parse(Utf16(text, be));
        EXPECT_EQ(ini.GetInt("LangList", "RpoDebug", 0), 1) << (be ? "UTF-16BE" : "UTF-16LE");
    }
    EXPECT_EQ(CIniFile::Parse("\xEF\xBB\xBF[A]\nk=\xE7\xB2\xA4\n").GetString("A", "k", ""), "\xE7\xB2\xA4");
    EXPECT_EQ(CIniFile::Parse("[A]\nk=\xD4\xC1\n").GetString("A", "k", ""), "\xE7\xB2\xA4") << "GBK text";
    EXPECT_EQ(CIniFile::Parse("[A]\nk=\xE7\xB2\xA4\n").GetString("A", "k", ""), "\xE7\xB2\xA4") << "UTF-8 text";
}

TEST(IniFile, MissingFileIsEmpty)
{
    fixtures::CTempDir dir;
    CIniFile ini = CIniFile::Load(dir / "none.ini");
    EXPECT_FALSE(ini.HasSection("LangList"));
    std::ofstream(dir / "a.ini") << "[X]\nk=v\n";
    EXPECT_EQ(CIniFile::Load(dir / "a.ini").GetString("x", "K", ""), "v");
    EXPECT_EQ(CIniFile::Load(dir / "a.ini").Keys("X"), std::vector<std::string>{"k"});
}

}  // namespace
}  // namespace velmor
