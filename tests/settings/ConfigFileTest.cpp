#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/IniFile.h"
#include "player/settings/ConfigFile.h"
#include "player/settings/Settings.h"

using namespace velmor;

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() /
                ("velmor-config-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_file = m_dir / "SysTemConfig.ini";
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    void Write(const std::string& bytes)
    {
        std::ofstream(m_file, std::ios::binary) << bytes;
    }
    std::string Read() const
    {
        std::ifstream in(m_file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string Le(const std::string& ascii)
    {
        std::string out;
        for (char c : ascii) out += std::string{c, '\0'};
        return out;
    }

    std::filesystem::path m_dir;
    std::filesystem::path m_file;
};

// GBK without a section: gains "[CONFIG]", keeps every value. "抓图" is
// D7 A5 CD BC in GBK, U+6293 U+56FE.
TEST_F(ConfigFileTest, CodePageFileWithoutSectionIsConvertedAndKeepsEveryValue)
{
    Write("SnapPath=/d/\xD7\xA5\xCD\xBC\r\nRecordChn=0\r\nGOOGLEKEY=YWJj\r\nLanguage=1033\r\nVoice=55\r\n");
    ASSERT_EQ(MakeConfigUnicode(m_file), ConfigConversion::Converted);
    const std::string bytes = Read();
    EXPECT_EQ(bytes.substr(0, 2 + 2 * 9), "\xFF\xFE" + Le("[CONFIG]\n"));
    EXPECT_EQ(bytes.substr(20, 2 * 12), Le("SnapPath=/d/"));
    EXPECT_EQ(bytes.substr(44, 4), std::string("\x93\x62\xFE\x56", 4));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "SysTemConfig.initmp"));

    bool filled = true;
    const SettingsRecord s = ReadSettings(CIniFile::Load(m_file), "/snap", "/save", &filled);
    EXPECT_EQ(s.snapPath, "/d/\xE6\x8A\x93\xE5\x9B\xBE");
    EXPECT_EQ(s.recordChn, 65535);
    EXPECT_EQ(s.googleKey, "abc");
    EXPECT_EQ(s.language, 2);
    EXPECT_EQ(s.voice, 55);
    EXPECT_EQ(s.saveFilePath, "/save");
    EXPECT_TRUE(filled);
}

TEST_F(ConfigFileTest, FilesWithAMarkOrUnreadableTextAreLeftAsTheyAre)
{
    struct Case {
        std::string bytes;
        ConfigConversion expected;
    };
    const Case cases[] = {
        {"\xFF\xFE" + Le("[CONFIG]\r\nVoice=3\r\n"), ConfigConversion::Unchanged},
        {"\xFE\xFF" + std::string("\0[", 2), ConfigConversion::Unchanged},
        {"\xEF\xBB\xBF[CONFIG]\nVoice=3\n", ConfigConversion::Unchanged},
        {"[CONFIG]\nSnapPath=\xFF\xFF\n", ConfigConversion::Failed},  // not GBK, not UTF-8
    };
    for (const auto& c : cases) {
        Write(c.bytes);
        EXPECT_EQ(MakeConfigUnicode(m_file), c.expected);
        EXPECT_EQ(Read(), c.bytes);
    }
    std::filesystem::remove(m_file);
    EXPECT_EQ(MakeConfigUnicode(m_file), ConfigConversion::Missing);
    EXPECT_FALSE(std::filesystem::exists(m_file));
}

// Text edited on this platform is UTF-8 already; decoding it as GBK would
// garble every Chinese folder name.
TEST_F(ConfigFileTest, Utf8TextWithoutMarkIsNotDecodedTwice)
{
    Write("[CONFIG]\nSnapPath=/d/\xE6\x8A\x93\xE5\x9B\xBE\n");
    ASSERT_EQ(MakeConfigUnicode(m_file), ConfigConversion::Converted);
    EXPECT_EQ(Read(), "\xFF\xFE" + Le("[CONFIG]\nSnapPath=/d/") + std::string("\x93\x62\xFE\x56", 4) + Le("\n"));
}

// A write that cannot finish leaves the old file whole.
TEST_F(ConfigFileTest, FailedReplaceKeepsTheOldFile)
{
    Write("old");
    std::filesystem::create_directories(m_dir / "SysTemConfig.initmp");  // the new file cannot be made
    std::string error;
    EXPECT_FALSE(ReplaceFileAtomically(m_file, "new", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Read(), "old");
    std::filesystem::remove(m_dir / "SysTemConfig.initmp");
    EXPECT_TRUE(ReplaceFileAtomically(m_file, "new", &error));
    EXPECT_EQ(Read(), "new");
}

TEST_F(ConfigFileTest, EditorReplacesInPlaceAndAddsMissingKeysAndSections)
{
    Write("; note\r\n[Other]\r\nVoice=1\r\n[config]\r\nvoice=2\r\nMapType=0\r\n\r\n[Tail]\r\nX=1\r\n");
    CProfileEditor ed;
    ASSERT_TRUE(ed.Load(m_file));
    ed.Set("CONFIG", "Voice", "9");
    ed.Set("CONFIG", "Equalize", "1,2");
    ed.Set("New", "K", "v");
    EXPECT_EQ(ed.Text(),
              "; note\r\n[Other]\r\nVoice=1\r\n[config]\r\nVoice=9\r\nMapType=0\r\nEqualize=1,2\r\n\r\n[Tail]\r\nX=1\r\n"
              "[New]\r\nK=v\r\n");
}

}  // namespace
