// Every key the program looks up has a real text in each of the three
// languages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "common/IniFile.h"
#include "player/search/RecorderLog.h"

using namespace velmor;

namespace {

class LanguageKeysTest : public ::testing::Test {
protected:
    static std::string Slurp(const std::filesystem::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void Split(const std::string& list, std::set<std::string>& keys)
    {
        size_t pos = 0;
        while (pos <= list.size()) {
            size_t comma = list.find(',', pos);
            if (comma == std::string::npos) comma = list.size();
            if (comma > pos) keys.insert(list.substr(pos, comma - pos));
            pos = comma + 1;
        }
    }
};

TEST_F(LanguageKeysTest, EveryKeyUsedHasATextInEachLanguage)
{
    const std::filesystem::path src = VELMOR_SOURCE_DIR;
    std::set<std::string> keys;
    // Layouts: the caption properties.
    const std::regex uiKey(R"re(<property name="lang(?:Key|Tip|Name|Items|Columns|Tab)" stdset="0">\s*<string>([^<]+)</string>)re");
    for (const auto& e : std::filesystem::directory_iterator(src / "skin")) {
        if (e.path().extension() != ".ui") continue;
        const std::string text = Slurp(e.path());
        for (std::sregex_iterator it(text.begin(), text.end(), uiKey), end; it != end; ++it) Split((*it)[1], keys);
    }
    // Code: every literal inside a Text(...) or Message(...) call up to its end.
    const std::regex call(R"re((?:Text|Message)\(([^;]*))re");
    const std::regex literal(R"re("([A-Za-z][A-Za-z0-9]*_[A-Za-z0-9_]+)")re");
    for (const char* folder : {"player/app", "player/workspace", "player/playback", "player/ui"})
        for (const auto& e : std::filesystem::directory_iterator(src / folder)) {
            if (e.path().extension() != ".cpp") continue;
            const std::string text = Slurp(e.path());
            for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) {
                const std::string args = (*it)[1];
                for (std::sregex_iterator l(args.begin(), args.end(), literal); l != end; ++l) keys.insert((*l)[1]);
            }
        }
    // Keys the driving-record page picks from lists.
    for (const char* key : {"Storage_SD", "Storage_HD", "Storage_Error", "GSensor_Option_Crash", "Warn_Option_IO"})
        keys.insert(key);
    // Log content texts of every record type.
    for (int type = 0; type < 256; ++type) keys.insert(LogContentKey(uint8_t(type)));
    ASSERT_GT(keys.size(), 120u);  // the collection itself works
    EXPECT_TRUE(keys.count("Log_T_OutDataFailed"));
    EXPECT_TRUE(keys.count("ProjectSet_Combox_English"));

    const CIniFile table = CIniFile::Load(src / "Language/SvrLanguage.ini");
    // Whatever one language has, the others have too.
    for (const char* lang : {"Lang0", "Lang1", "Lang2"})
        for (const auto& k : table.Keys(lang)) keys.insert(k);
    for (const auto& key : keys) {
        for (const char* lang : {"Lang0", "Lang1", "Lang2"}) {
            const std::string text = table.GetString(lang, key, "");
            EXPECT_FALSE(text.empty()) << key << " in " << lang;
            EXPECT_NE(text, key) << key << " in " << lang;
        }
    }
}

}  // namespace
