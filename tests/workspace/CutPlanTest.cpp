// The cut dialog's checks and the export request they make.
#include <gtest/gtest.h>

#include "player/workspace/CutPlan.h"

namespace velmor {
namespace {

CutSource Source()
{
    CutSource s;
    s.path = "/media/disk";
    s.kind = ESourceKind::kContainerFolder;
    s.channels = {1, 2, 4};
    s.from = 1000;
    s.to = 2000;
    return s;
}

CutChoice Choice()
{
    CutChoice c;
    c.from = 1000;
    c.to = 2000;
    c.channels = {1, 2};
    c.format = EExportFormat::kMp4;
    c.folder = "/tmp/out";
    return c;
}

TEST(CutPlan, TimeOrder)
{
    for (auto [from, to] : {std::pair{2000u, 1000u}, std::pair{1500u, 1500u}}) {
        CutChoice c = Choice();
        c.from = from;
        c.to = to;
        const CutPlan p = PlanCut(Source(), c);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.messageKey, "Cut_Time_Error");
    }
}

TEST(CutPlan, ChannelsWithoutRecordings)
{
    struct Case {
        std::vector<int> chosen;
        bool ok;
        uint16_t mask;
    } cases[] = {
        {{}, false, 0},          {{3}, false, 0},      {{0, 17, -1}, false, 0},
        {{1}, true, 0x1},        {{2, 3}, true, 0x2},  {{1, 2, 4}, true, 0xB},
        {{4, 4, 16}, true, 0x8},
    };
    for (const auto& c : cases) {
        CutChoice choice = Choice();
        choice.channels = c.chosen;
        const CutPlan p = PlanCut(Source(), choice);
        EXPECT_EQ(p.ok, c.ok);
        if (c.ok) EXPECT_EQ(p.request.channelMask, c.mask);
        else EXPECT_EQ(p.messageKey, "Cut_CHN_Error");
    }
}

TEST(CutPlan, FolderAndFormat)
{
    CutChoice c = Choice();
    c.folder.clear();
    EXPECT_EQ(PlanCut(Source(), c).messageKey, "Cut_Path_Error");
    c = Choice();
    c.format = EExportFormat(99);  // no entry of the dialog's list
    EXPECT_EQ(PlanCut(Source(), c).messageKey, "Cut_Format_Error");
    c.format = EExportFormat::kGpx;
    EXPECT_EQ(PlanCut(Source(), c).messageKey, "");
}

TEST(CutPlan, TextIsBurnedIntoPicturesOnly)
{
    struct Case {
        EExportFormat format;
        const char* key;
    } cases[] = {
        {EExportFormat::kMp4, ""},
        {EExportFormat::kAvi, ""},
        {EExportFormat::kIfv, "Cut_Overlay_Error"},
        {EExportFormat::kGps, "Cut_Overlay_Error"},
        {EExportFormat::kGpx, "Cut_Overlay_Error"},
        {EExportFormat::kRkrec, "Cut_Overlay_Error"},
    };
    for (const auto& c : cases) {
        CutChoice choice = Choice();
        choice.format = c.format;
        choice.overlay = true;
        const CutPlan p = PlanCut(Source(), choice);
        EXPECT_EQ(p.messageKey, c.key) << ExportFormatName(c.format);
        EXPECT_EQ(p.ok, *c.key == 0);
    }
}

TEST(CutPlan, RequestCarriesTheChoice)
{
    CutChoice c = Choice();
    c.format = EExportFormat::kAvi;
    c.combine = true;
    c.overlay = true;
    c.withAudio = false;
    c.type = 3;
    c.gpsHeader = "H\r\n";
    c.convertGps = true;
    c.speedMph = true;
    c.caseUtcOffset = "+08:00";
    const CutPlan p = PlanCut(Source(), c);
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.messageKey.empty());
    EXPECT_EQ(p.request.source, "/media/disk");
    EXPECT_EQ(p.request.kind, ESourceKind::kContainerFolder);
    EXPECT_EQ(p.request.start, 1000u);
    EXPECT_EQ(p.request.end, 2000u);
    EXPECT_EQ(p.request.channelMask, 0x3);
    EXPECT_EQ(p.request.format, EExportFormat::kAvi);
    EXPECT_TRUE(p.request.combine);
    EXPECT_TRUE(p.request.overlay);
    EXPECT_FALSE(p.request.withAudio);
    EXPECT_EQ(p.request.folder, "/tmp/out");
    EXPECT_EQ(p.request.type, 3);
    EXPECT_EQ(p.request.gpsHeader, "H\r\n") << "GPS files from the dialog have their header line";
    EXPECT_TRUE(p.request.convertGps);
    EXPECT_TRUE(p.request.speedMph);
    EXPECT_EQ(p.request.caseUtcOffset, "+08:00") << "the report states the declared offset";
}

TEST(CutPlan, FormatList)
{
    const EExportFormat expected[] = {EExportFormat::kIfv, EExportFormat::kMp4, EExportFormat::kAvi,
                                      EExportFormat::kGps, EExportFormat::kRkrec, EExportFormat::kGpx};
    for (int i = 0; i < kCutFormatCount; ++i) {
        EXPECT_EQ(CutFormatAt(i), expected[i]);
        EXPECT_EQ(CutFormatIndex(expected[i]), i);
    }
    EXPECT_EQ(CutFormatAt(-1), EExportFormat::kMp4);
    EXPECT_EQ(CutFormatAt(6), EExportFormat::kMp4);
}

}  // namespace
}  // namespace velmor
