// The container file number in a path, and picture sizes of resolution codes.
#include <gtest/gtest.h>

#include "container/include/rkcontainer.h"
#include "tests/support/LogCapture.h"

namespace {

int FileNo(const char* path, int start = -7)
{
    int n = start;
    if (RKCONTAINER_GetBlockIdByFileName(path, &n) == 0) return n;
    EXPECT_EQ(n, start) << "the number is left alone";
    return -1;
}

TEST(ContainerFileName, NumberAfterTheFirstFc)
{
    EXPECT_EQ(FileNo("/media/disk/fc00012.rpo"), 12);
    EXPECT_EQ(FileNo("fc00000.rpo"), 0);
    EXPECT_EQ(FileNo("fc65535.rpo"), 65535);
    EXPECT_EQ(FileNo("/media/disk/FC00128.RPO"), 128) << "recorder names are case-blind";
    EXPECT_EQ(FileNo("fc123456.rpo"), 123456) << "at least five digits, more are taken";
    EXPECT_EQ(FileNo("/a/fc7x/fc00012.rpo"), 7) << "the first fc anywhere counts";
}

TEST(ContainerFileName, NoNumber)
{
    EXPECT_EQ(FileNo("/media/disk/record.rpo"), -1);
    EXPECT_EQ(FileNo("/media/fcx/fc00012.rpo"), -1) << "a folder's fc followed by a letter";
    EXPECT_EQ(FileNo("/media/disk/fc.rpo"), -1);
    EXPECT_EQ(FileNo(""), -1);
    EXPECT_EQ(FileNo("f"), -1);
    EXPECT_EQ(RKCONTAINER_GetBlockIdByFileName(nullptr, nullptr), -1);
}

TEST(ContainerResolution, EveryCodeInBothLineSystems)
{
    const int expected[10][3] = {{352, 240, 288},   {704, 480, 576},  {720, 480, 576},   {1280, 720, 720},
                                 {1920, 1080, 1080}, {960, 480, 576},  {640, 720, 720},   {960, 1080, 1080},
                                 {1280, 960, 960},  {4096, 2160, 2160}};
    for (int code = 0; code < 10; ++code) {
        int w = 0, h = 0;
        ASSERT_EQ(RKCONTAINER_ConvResolution(nullptr, code, &w, &h, 1), 0);
        EXPECT_EQ(w, expected[code][0]);
        EXPECT_EQ(h, expected[code][1]);
        for (int standard : {0, 2, 255}) {
            ASSERT_EQ(RKCONTAINER_ConvResolution(nullptr, code, &w, &h, standard), 0);
            EXPECT_EQ(w, expected[code][0]);
            EXPECT_EQ(h, expected[code][2]) << "code " << code << " standard " << standard;
        }
    }
}

TEST(ContainerResolution, UnknownCodesLeaveTheOutputs)
{
    for (int code : {-1, 10, 255}) {
        int w = 11, h = 12;
        velmor::fixtures::CLogCapture log(&RKCONTAINER_SetLogCallback);
        log.Start();
        EXPECT_EQ(RKCONTAINER_ConvResolution(nullptr, code, &w, &h, 0), -1);
        const std::string out = log.Take();
        EXPECT_EQ(w, 11);
        EXPECT_EQ(h, 12);
        const std::string reason = "res = " + std::to_string(code) + " isn't supported now";
        EXPECT_EQ(out.rfind("RKCONTAINER_ConvResolution:", 0), 0u) << out;
        EXPECT_EQ(out.substr(out.find(' ') + 1), reason + "\n");
        EXPECT_EQ(std::string(RKCONTAINER_GetLastErrorText()), out.substr(0, out.size() - 1));
    }
}

}  // namespace
