// The equalizer window's numbers and texts and the Equalize setting.
#include <gtest/gtest.h>

#include <cstring>

#include "player/playback/EqualizerText.h"

namespace velmor {
namespace {

class EqualizerTextTest : public ::testing::Test {};

TEST_F(EqualizerTextTest, PresetTable)
{
    struct Row {
        int index;
        const char* name;
        float preamp, amp0, amp6, amp9;
    };
    const Row rows[] = {
        {1, "flat", 12.0f, 0, 0, 0},           {2, "classical", 12.0f, 0, -7.2f, -9.6f},
        {5, "fullbass", 5.0f, -8.0f, -8.0f, -11.2f}, {7, "fulltreble", 3.0f, -9.6f, 16.0f, 16.8f},
        {10, "live", 7.0f, -4.8f, 4.0f, 2.4f},
    };
    for (const Row& r : rows) {
        const RKPLAYER_EQ_PRESET* p = EqualizerPreset(r.index);
        ASSERT_NE(p, nullptr) << r.index;
        char name[16] = {};
        std::memcpy(name, r.name, std::strlen(r.name));
        EXPECT_EQ(std::memcmp(p->name, name, 16), 0) << r.index;
        EXPECT_EQ(p->bands, 10);
        EXPECT_EQ(p->preamp, r.preamp);
        EXPECT_EQ(p->amp[0], r.amp0);
        EXPECT_EQ(p->amp[6], r.amp6);
        EXPECT_EQ(p->amp[9], r.amp9);
    }
    EXPECT_EQ(EqualizerPreset(0), nullptr);
    EXPECT_EQ(EqualizerPreset(11), nullptr);
}

TEST_F(EqualizerTextTest, SliderDbAndLabels)
{
    EXPECT_DOUBLE_EQ(SliderToDb(0), -20.0);
    EXPECT_DOUBLE_EQ(SliderToDb(2000), 0.0);
    EXPECT_DOUBLE_EQ(SliderToDb(4000), 20.0);
    EXPECT_NEAR(SliderToDb(2560), 5.6, 1e-9);
    EXPECT_EQ(DbToSlider(-7.2f), 1280);
    EXPECT_EQ(DbToSlider(16.8f), 3680);
    struct Row {
        double db;
        const char* label;
    };
    const Row rows[] = {{0.0, "0.0dB"},   {0.01, "0.0dB"},  {-0.01, "0.0dB"}, {-0.04, "0.0dB"}, {0.25, "0.3dB"},
                        {-0.25, "-0.3dB"}, {5.6f, "5.6dB"}, {-7.2f, "-7.2dB"}, {20.0, "20.0dB"}, {0.05, "0.1dB"}};
    for (const Row& r : rows) EXPECT_EQ(DbLabel(r.db), r.label) << r.db;
    const char* bands[] = {"31.25HZ", "62.5HZ", "125HZ", "250HZ", "500HZ",
                           "1KHZ",    "2KHZ",   "4KHZ",  "8KHZ",  "16KHZ"};
    for (int b = 0; b < 10; ++b) EXPECT_EQ(BandLabel(b), bands[b]) << b;
    EXPECT_EQ(BandLabel(10), "");
}

TEST_F(EqualizerTextTest, EqualizeSettingBothWays)
{
    EXPECT_EQ(EqualizeText(false, *EqualizerPreset(2)), "");
    EXPECT_EQ(EqualizeText(true, *EqualizerPreset(2)), "12,0,0,0,0,0,0,-7.2,-7.2,-7.2,-9.6");
    EXPECT_EQ(EqualizeText(true, *EqualizerPreset(8)), "4,4.8,11.2,5.6,-3.2,-2.4,1.6,4.8,9.6,12.8,14.4");

    struct Row {
        const char* text;
        bool on;
        float preamp;
        float amp[10];
    };
    const Row rows[] = {
        {"3,0,0,0,0,0,0,0,0,0,0", true, 3, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"12,0,0,0,0,0,0,-7.2,-7.2,-7.2,-9.6", true, 12, {0, 0, 0, 0, 0, 0, -7.2f, -7.2f, -7.2f, -9.6f}},
        {"x,1,,2", true, 0, {1, 0, 2, 0, 0, 0, 0, 0, 0, 0}},
        {"1,2,3,4,5,6,7,8,9,10,11,12", true, 1, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {"nan,inf,-1e3", true, 0, {0, -1000, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Row& r : rows) {
        RKPLAYER_EQ_PRESET rec = *EqualizerPreset(3);  // "club": the name must stay
        EXPECT_EQ(ParseEqualizeText(r.text, rec), r.on) << r.text;
        EXPECT_STREQ(rec.name, "club");
        EXPECT_EQ(rec.bands, 10);
        EXPECT_EQ(rec.preamp, r.preamp) << r.text;
        for (int i = 0; i < 10; ++i) EXPECT_EQ(rec.amp[i], r.amp[i]) << r.text << " band " << i;
    }
    RKPLAYER_EQ_PRESET rec = *EqualizerPreset(3);
    EXPECT_FALSE(ParseEqualizeText("", rec));
    EXPECT_STREQ(rec.name, "flat");
    EXPECT_EQ(rec.preamp, 12.0f);
    EXPECT_EQ(rec.amp[2], 0.0f);
}

}  // namespace
}  // namespace velmor
