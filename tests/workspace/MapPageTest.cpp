// The page a configuration shows and the page copy that carries the key.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "player/workspace/MapPage.h"
#include "player/workspace/MapScript.h"

using namespace velmor;

namespace {

struct PageCase {
    int mapType;
    int language;
    const char* page;
};

TEST(MapPageName, ByMapTypeAndLanguage)
{
    const PageCase cases[] = {
        {0, 0, "amapMap.html"},     {0, 2, "amapMap.html"},      {1, 0, "GoogleMap.html"},
        {1, 1, "GoogleMapTW.html"}, {1, 2, "GoogleMapEN.html"},  {1, 3, "GoogleMapEN.html"},
        {1, 10, "GoogleMapEN.html"}, {1, -1, "GoogleMapEN.html"}, {2, 1, "amapMap.html"},
        {3, 0, "amapMap.html"},     {-1, 1, "amapMap.html"},
    };
    for (const auto& c : cases) EXPECT_EQ(MapPageName(c.mapType, c.language), c.page) << c.mapType << "," << c.language;
    EXPECT_TRUE(MapPageTakesKey(1));
    EXPECT_FALSE(MapPageTakesKey(0));
    EXPECT_FALSE(MapPageTakesKey(2));
}

struct KeyCase {
    const char* name;
    const char* page;
    const char* key;
    const char* expected;
    bool changed;
};

TEST(ApplyMapKey, RewritesOnlyTheServiceLine)
{
    const KeyCase cases[] = {
        {"empty key slot", "a\n<s src=\"https://h/maps/api/js?v=3.exp&key=&language=en\">\nb\n", "K1",
         "a\n<s src=\"https://h/maps/api/js?v=3.exp&key=K1&language=en\">\nb\n", true},
        {"other key replaced, CRLF kept", "x\r\nu=/maps/api/js?v=3.exp&key=OLDKEY&language=zh-CN;\r\ny",
         "NewKey-2", "x\r\nu=/maps/api/js?v=3.exp&key=NewKey-2&language=zh-CN;\r\ny", true},
        {"same key in other case kept", "/maps/api/js?v=3.exp&key=abcDEF&language=en\n", "ABCdef",
         "/maps/api/js?v=3.exp&key=abcDEF&language=en\n", false},
        {"no end parameter", "/maps/api/js?v=3.exp&key=OLD\n", "NEW", "/maps/api/js?v=3.exp&key=OLD\n", false},
        {"end parameter only before the marker", "&language=en /maps/api/js?v=3.exp&key=OLD\n", "NEW",
         "&language=en /maps/api/js?v=3.exp&key=OLD\n", false},
        {"two lines, last without line end",
         "/maps/api/js?v=3.exp&key=A&language=en\n/maps/api/js?v=3.exp&key=B&x=1&language=tw", "C",
         "/maps/api/js?v=3.exp&key=C&language=en\n/maps/api/js?v=3.exp&key=C&language=tw", true},
        {"unsafe key bytes escaped", "/maps/api/js?v=3.exp&key=&language=en\n", "a&b\"<c d",
         "/maps/api/js?v=3.exp&key=a%26b%22%3Cc%20d&language=en\n", true},
        {"empty page", "", "K", "", false},
    };
    for (const auto& c : cases) {
        bool changed = !c.changed;
        EXPECT_EQ(ApplyMapKey(c.page, c.key, &changed), c.expected) << c.name;
        EXPECT_EQ(changed, c.changed) << c.name;
    }
}

TEST(MapKeyForAddress, KeepsUnreservedBytes)
{
    EXPECT_EQ(MapKeyForAddress("AIza-_.~09"), "AIza-_.~09");
    EXPECT_EQ(MapKeyForAddress(std::string("\n\xff", 2)), "%0A%FF");
    EXPECT_EQ(MapKeyForAddress(""), "");
}

class KeyedPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("velmor-keyed-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir / "install" / "chart");
        m_source = m_dir / "install" / "chart" / "GoogleMapEN.html";
        Write(m_source, kPage);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    static void Write(const std::filesystem::path& p, const std::string& text)
    {
        std::ofstream out(p, std::ios::binary);
        out << text;
    }
    static std::string Read(const std::filesystem::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static constexpr const char* kPage =
        "<html>\r\n<script>\r\nvar s = \"https://maps.example/maps/api/js?v=3.exp&key=&language=en\";\r\n</script>\r\n"
        "\xe5\x9c\xb0\xe5\x9b\xbe\r\n</html>";
    std::filesystem::path m_dir;
    std::filesystem::path m_source;
};

TEST_F(KeyedPageTest, CopyCarriesTheKeyAndTheInstalledPageStays)
{
    const auto copy = m_dir / "data" / "chart" / "GoogleMapEN.html";
    std::string error;
    ASSERT_TRUE(WriteKeyedPage(m_source, copy, "MyKey123", &error)) << error;
    EXPECT_EQ(Read(copy),
              "<html>\r\n<script>\r\nvar s = \"https://maps.example/maps/api/js?v=3.exp&key=MyKey123&language=en\";\r\n"
              "</script>\r\n\xe5\x9c\xb0\xe5\x9b\xbe\r\n</html>");
    EXPECT_EQ(Read(m_source), kPage);
    EXPECT_FALSE(std::filesystem::exists(copy.string() + ".part"));

    // A second key replaces the first in the copy.
    ASSERT_TRUE(WriteKeyedPage(m_source, copy, "Other", &error)) << error;
    EXPECT_NE(Read(copy).find("&key=Other&language=en"), std::string::npos);
    EXPECT_EQ(Read(copy).find("MyKey123"), std::string::npos);
}

TEST_F(KeyedPageTest, MissingSourceFailsWithoutACopy)
{
    const auto copy = m_dir / "data" / "chart" / "GoogleMap.html";
    std::string error;
    EXPECT_FALSE(WriteKeyedPage(m_dir / "install" / "chart" / "GoogleMap.html", copy, "K", &error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST_F(KeyedPageTest, UnwritableFolderFailsAndKeepsTheOldCopy)
{
    // A file where the copy's folder should be.
    Write(m_dir / "data", "not a folder");
    std::string error;
    EXPECT_FALSE(WriteKeyedPage(m_source, m_dir / "data" / "chart" / "GoogleMapEN.html", "K", &error));
    EXPECT_NE(error.find("cannot make"), std::string::npos);

    // A folder where the copy itself should be: the rename fails, the temporary goes.
    const auto blocked = m_dir / "other" / "GoogleMapEN.html";
    std::filesystem::create_directories(blocked / "inside");
    EXPECT_FALSE(WriteKeyedPage(m_source, blocked, "K", &error));
    EXPECT_NE(error.find("cannot replace"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(blocked.string() + ".part"));
    EXPECT_TRUE(std::filesystem::is_directory(blocked / "inside"));
}

TEST(ScriptText, QuotesForTheScript)
{
    EXPECT_EQ(ScriptText("abc"), "'abc'");
    EXPECT_EQ(ScriptText("it's"), "'it\\'s'");
    EXPECT_EQ(ScriptText("a\\b"), "'a\\\\b'");
    EXPECT_EQ(ScriptText("</script>"), "'\\x3c/script>'");
    EXPECT_EQ(ScriptText(std::string("l1\nl2\r\t", 7)), "'l1\\nl2\\r\\x09'");
    EXPECT_EQ(ScriptText(""), "''");
}

}  // namespace
