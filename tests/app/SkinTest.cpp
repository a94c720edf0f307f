// The frame's skin: colours and backgrounds as the SKIN setting keeps them.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "player/app/Skin.h"

using namespace velmor;

namespace {

TEST(Skin, ValuesBecomeTheFramesStyle)
{
    struct Case {
        std::string skin;
        std::string style;
    };
    const Case cases[] = {
        {"FF102030", "#Mainfrm_BG { background-color: #102030; }"},
        {"ff0a0b0c", "#Mainfrm_BG { background-color: #0a0b0c; }"},
        {"", ""},
        {"bk_001", ""},  // the frame's own colours
        {"bk_999", ""},  // a background no longer offered
        {"FF10203", ""},
        {"EE102030", ""},  // not opaque: the window's colour is
        {"FF1020ZZ", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(SkinStyleSheet(c.skin), c.style) << c.skin;
    EXPECT_EQ(SkinStyleSheet("bk_002").rfind("#Mainfrm_BG { background: qlineargradient(", 0), 0u);
}

TEST(Skin, ColoursRoundTripThroughTheSliders)
{
    int r = -1, g = -1, b = -1;
    EXPECT_EQ(SkinColour(16, 32, 255), "FF1020FF");
    EXPECT_EQ(SkinColour(-5, 300, 7), "FF00FF07");
    ASSERT_TRUE(SkinRgb("FF1020FF", &r, &g, &b));
    EXPECT_EQ(r, 16);
    EXPECT_EQ(g, 32);
    EXPECT_EQ(b, 255);
    EXPECT_FALSE(SkinRgb("bk_002", &r, &g, &b));
    // Every swatch is a colour the sliders can show; every background a distinct name.
    for (const std::string& s : SkinSwatches()) EXPECT_TRUE(SkinRgb(s, &r, &g, &b)) << s;
    std::set<std::string> names;
    for (const SkinBackground& bk : SkinBackgrounds()) names.insert(bk.name);
    EXPECT_EQ(names.size(), SkinBackgrounds().size());
    EXPECT_STREQ(SkinBackgrounds().front().name, "bk_001");
}

}  // namespace
