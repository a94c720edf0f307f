#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/CodePage.h"
#include "common/IniFile.h"
#include "player/settings/Settings.h"

using namespace velmor;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    static SettingsRecord Read(const std::string& config, bool* filled = nullptr)
    {
        return ReadSettings(CIniFile::Parse(config), "/p/SnapFile", "/p/BackUpFile", filled);
    }
};

TEST_F(SettingsTest, EmptyProfileGivesEveryDefault)
{
    bool filled = false;
    const SettingsRecord s = Read("", &filled);
    EXPECT_TRUE(filled);
    EXPECT_EQ(s.snapPath, "/p/SnapFile");
    EXPECT_EQ(s.saveFilePath, "/p/BackUpFile");
    EXPECT_EQ(s.gstFile, "");
    EXPECT_EQ(s.mapType, 0);
    EXPECT_EQ(s.convertGps, 1);
    EXPECT_EQ(s.language, 0);
    EXPECT_EQ(s.snapPicFormat, 0);
    EXPECT_EQ(s.recordChn, 65535);
    EXPECT_EQ(s.addOsd, 0);
    EXPECT_EQ(s.mediaInfo, 1);
    EXPECT_EQ(s.videoScale, 1);
    EXPECT_EQ(s.alwaysMain, 0);
    EXPECT_EQ(s.lowPass, 0);
    EXPECT_DOUBLE_EQ(s.lowPassValue, 0.8);
    EXPECT_EQ(s.nsEnable, 0);
    EXPECT_EQ(s.nsValue, 1);
    EXPECT_EQ(s.showGeo, 0);
    EXPECT_EQ(s.delayTime, 0);
    EXPECT_EQ(s.speedMph, 0);
    EXPECT_EQ(s.googleKey, "");
    EXPECT_EQ(s.voice, 0);
    EXPECT_EQ(s.equalize, "");
}

TEST_F(SettingsTest, LanguageCodesChooseIndexMapAndConversion)
{
    struct Case {
        const char* config;
        int language, mapType, convertGps;
    };
    const Case cases[] = {
        {"[CONFIG]\nLanguage=2\nMapType=2\nConvertGPS=0\n", 2, 2, 0},
        {"[CONFIG]\nLanguage=10\nMapType=1\nConvertGPS=0\n", 10, 1, 0},
        {"[CONFIG]\nLanguage=1033\nMapType=0\nConvertGPS=1\n", 2, 1, 0},
        {"[CONFIG]\nLanguage=1028\nMapType=0\nConvertGPS=0\n", 1, 1, 1},
        {"[CONFIG]\nLanguage=2052\nMapType=1\nConvertGPS=0\n", 0, 0, 1},
        {"[CONFIG]\nLanguage=11\nMapType=1\nConvertGPS=0\n", 11, 0, 1},
    };
    for (const auto& c : cases) {
        const SettingsRecord s = Read(c.config);
        EXPECT_EQ(s.language, c.language) << c.config;
        EXPECT_EQ(s.mapType, c.mapType) << c.config;
        EXPECT_EQ(s.convertGps, c.convertGps) << c.config;
    }
}

TEST_F(SettingsTest, StoredValuesAreNormalised)
{
    bool filled = true;
    const SettingsRecord s = Read("[CONFIG]\nSnapPath=/a\nSaveFilePath=/b\nRecordChn=0\nGOOGLEKEY=a2V5LTEyMw==\n"
                             "LOWPASSVALUE=0.35\nDELAYTIME=250\n",
                             &filled);
    EXPECT_FALSE(filled);
    EXPECT_EQ(s.recordChn, 65535);
    EXPECT_EQ(s.googleKey, "key-123");
    EXPECT_DOUBLE_EQ(s.lowPassValue, 0.35);
    EXPECT_EQ(s.delayTime, 250);
    EXPECT_EQ(Read("[CONFIG]\nRecordChn=32771\n").recordChn, 32771);
    // The decimal point is a point whatever the user's locale.
    EXPECT_EQ(FormatLowPass(0.96), "1.0");
    EXPECT_DOUBLE_EQ(ParseDecimal("0.6x", 0.0), 0.6);
    EXPECT_DOUBLE_EQ(ParseDecimal("abc", 0.8), 0.8);
}

TEST_F(SettingsTest, AlwaysMainIsOnOrOff)
{
    const std::pair<const char*, int> table[] = {
        {"[CONFIG]\nALWAYSMAIN=1\n", 1}, {"[CONFIG]\nALWAYSMAIN=0\n", 0}, {"[CONFIG]\nALWAYSMAIN=7\n", 1},
        {"[CONFIG]\nALWAYSMAIN=-1\n", 1}, {"[CONFIG]\nALWAYSMAIN=x\n", 0}, {"[CONFIG]\nalwaysmain=1\n", 1},
        {"[OTHER]\nALWAYSMAIN=1\n", 0},
    };
    for (const auto& [config, value] : table) EXPECT_EQ(Read(config).alwaysMain, value) << config;
}

TEST_F(SettingsTest, Base64EncodesAndDecodesEveryTailLength)
{
    const std::pair<std::string, std::string> table[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {std::string("\xFF\x00\x80", 3), "/wCA"}};
    for (const auto& [plain, coded] : table) {
        EXPECT_EQ(Base64Encode(plain), coded);
        EXPECT_EQ(Base64Decode(coded), plain);
    }
}

TEST_F(SettingsTest, WriterWritesTheDialogKeysAndLeavesTheRest)
{
    const auto dir = std::filesystem::temp_directory_path() / ("velmor-settings-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    const auto file = dir / "Congfig" / "SysTemConfig.ini";
    SettingsRecord s = Read("");
    s.language = 2;
    s.recordChn = 32771;
    s.lowPassValue = 0.25;
    s.googleKey = "abc";
    s.voice = 70;  // the play controls' key is not the dialog's
    s.alwaysMain = 1;
    ASSERT_TRUE(WriteSettings(file, s));
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const std::string text = Utf16ToUtf8(std::string_view(bytes).substr(2), false);
    EXPECT_EQ(text,
              "[CONFIG]\r\nSnapPath=/p/SnapFile\r\nSaveFilePath=/p/BackUpFile\r\nMapType=0\r\nGSTFILE=\r\nConvertGPS=1\r\n"
              "Language=2\r\nSnapPicFormat=0\r\nRecordChn=32771\r\nADDOSD=0\r\nMEDIAINFO=1\r\nVIDEOSCALE=1\r\n"
              "ALWAYSMAIN=1\r\nLOWPASS=0\r\nLOWPASSVALUE=0.2\r\nNSENABLE=0\r\nNSVALUE=1\r\nSHOWGEO=0\r\nSPEEDMPH=0\r\n"
              "GOOGLEKEY=YWJj\r\n");
    s.equalize = "1,2,3";
    s.skin = "FF102030";
    ASSERT_TRUE(WritePlaySettings(file, s));
    const SettingsRecord back = ReadSettings(CIniFile::Load(file), "/x", "/y");
    EXPECT_EQ(back.voice, 70);
    EXPECT_EQ(back.equalize, "1,2,3");
    EXPECT_EQ(back.skin, "FF102030") << "the skin window's choice lasts to the next start";
    EXPECT_EQ(back.recordChn, 32771);
    EXPECT_EQ(back.googleKey, "abc");
    EXPECT_EQ(back.alwaysMain, 1);
    // A cleared key stays cleared.
    s.googleKey.clear();
    ASSERT_TRUE(WriteSettings(file, s));
    EXPECT_EQ(ReadSettings(CIniFile::Load(file), "/x", "/y").googleKey, "");
    std::filesystem::remove_all(dir);
}

}  // namespace
